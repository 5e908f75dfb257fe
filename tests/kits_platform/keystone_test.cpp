// The kit platform's start: list steps over fake kits under the optional kit names, the once-only
// token (also after a raising first call), configuration checks with their exact reasons, and the
// installation and execution identifiers across processes. Each scenario runs in a child process,
// where the first with() and the shared instance start fresh.
#include "kits/platform/keystone.h"

#include "foundation/main_bundle.h"
#include "foundation/property_list_json.h"
#include "kits/platform/kit_log.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <thread>

using foundation::PropertyListArray;
using foundation::PropertyListDictionary;
using kits::Keystone;
using kits::KitClass;
using kits::KitRegistry;
using testsupport::runInChild;

namespace {

const std::string calledTwiceLine = "[Keystone] [Keystone +with] called multiple times. Only the first call is "
                                    "honored, please pass all kits you wish to initialize\n";

// Every start without a "SettingsEndpoint" ends its settings download at once with this line.
const std::string noEndpointLine = "[Keystone] failed to download settings Error Domain=KSTNetworkError Code=-3 \"no "
                                   "\"SettingsEndpoint\" is configured\"\n";

std::mutex startsMutex;
std::string starts; // the kits started in this process, in order

KitClass fakeKit(const std::string& name)
{
    return KitClass{.name = name,
                    .conformsToKSTKit = true,
                    .bundleIdentifier = "com.example." + name,
                    .kitDisplayVersion = "1.0",
                    .initializeIfNeeded =
                        [name] {
                            std::lock_guard lock(startsMutex);
                            starts += name + ";";
                        },
                    .sharedInstance = {}};
}

// A class that answers nothing a kit answers.
KitClass nonKit(const std::string& name)
{
    KitClass kit;
    kit.name = name;
    return kit;
}

// Registers fake kits under these names, as if their classes were linked in.
void registerKits(std::initializer_list<const char*> names)
{
    for (const char* name : names)
        KitRegistry::registerKitClass(fakeKit(name));
}

PropertyListDictionary infoWithKey(const std::string& key)
{
    return {{"Keystone", PropertyListDictionary{{"APIKey", key}, {"Kits", PropertyListArray{}}}}};
}

std::string names(const std::vector<KitClass>& kits)
{
    std::string text;
    for (const auto& kit : kits)
        text += kit.name + ",";
    return text;
}

// "started: A;B; kits: A,B," - what the process started and the list the platform kept.
std::string observed()
{
    std::string kitNames = names(Keystone::sharedSDK().kitClasses());
    std::lock_guard lock(startsMutex);
    return "started: " + starts + " kits: " + kitNames;
}

class KeystoneTest : public ::testing::Test {
protected:
    // Runs the scenario in a child whose kit files live in this test's folder.
    testsupport::ChildOutcome inChild(const std::function<std::string()>& scenario)
    {
        const auto base = folder.path();
        return runInChild([&] {
            foundation::MainBundle::setApplicationSupportDirectory(base);
            return scenario();
        });
    }
    testsupport::TempFolder folder;
};

} // namespace

TEST_F(KeystoneTest, ListStepsAddTheAnalyticsKitAndPutGlimpseFirst)
{
    auto outcome = inChild([] {
        registerKits({"Blackbox", "Tally"});
        std::string text = names(Keystone::kitClassesByAddingTallyIfFound({fakeKit("Blackbox")})) + " | ";
        text += names(Keystone::kitClassesByAddingTallyIfFound({fakeKit("Tally")})) + " | ";
        text += names(Keystone::kitClassesByAddingTallyIfFound({fakeKit("Tally"), fakeKit("Blackbox")})) + " | ";
        text += names(Keystone::kitClassesByEnsuringGlimpseIsFirst({fakeKit("A"), fakeKit("B"), fakeKit("Glimpse")}))
                + " | ";
        registerKits({"Glimpse", "Signet"});
        text += names(Keystone::kitClassesByEnsuringGlimpseIsFirst({fakeKit("A"), fakeKit("B"), fakeKit("Glimpse")}))
                + " | ";
        text += names(Keystone::kitClassesByAddingSignetIfFound({fakeKit("A")})) + " | ";
        text += names(Keystone::kitClassesByAddingSignetIfFound({fakeKit("Signet"), fakeKit("A")}));
        return text;
    });
    EXPECT_EQ(outcome.report, "Blackbox,Tally, | Tally, | Tally,Blackbox, | A,B,Glimpse, | Glimpse,A,B, | A,Signet, | "
                              "Signet,A,");
}

TEST_F(KeystoneTest, FirstCallStartsTheCompletedListInOrder)
{
    auto outcome = inChild([] {
        registerKits({"Blackbox", "Tally", "Glimpse"});
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone& returned = Keystone::with({fakeKit("Blackbox"), fakeKit("Glimpse")});
        return observed() + (&returned == &Keystone::sharedSDK() ? "" : " another instance");
    });
    EXPECT_TRUE(outcome.exitedCleanly());
    EXPECT_EQ(outcome.report, "started: Glimpse;Blackbox;Tally; kits: Glimpse,Blackbox,Tally,");
    EXPECT_EQ(outcome.errors, noEndpointLine);
}

TEST_F(KeystoneTest, LaterCallsLogTheExactLineAndReturnTheSameInstance)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone& first = Keystone::with({fakeKit("Alpha")});
        Keystone& second = Keystone::with({fakeKit("Beta")});
        return observed() + (&first == &second ? "" : " another instance");
    });
    EXPECT_EQ(outcome.report, "started: Alpha; kits: Alpha,");
    EXPECT_EQ(outcome.errors, noEndpointLine + calledTwiceLine);
}

TEST_F(KeystoneTest, ConcurrentFirstCallsStartTheKitsOnce)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        std::vector<std::thread> callers;
        for (int index = 0; index < 8; ++index)
            callers.emplace_back([] { Keystone::with({fakeKit("Alpha")}); });
        for (auto& caller : callers)
            caller.join();
        return observed();
    });
    EXPECT_EQ(outcome.report, "started: Alpha; kits: Alpha,");
    std::string expectedLog = noEndpointLine;
    for (int index = 0; index < 7; ++index)
        expectedLog += calledTwiceLine;
    EXPECT_EQ(outcome.errors, expectedLog);
}

TEST_F(KeystoneTest, NonKitRaisesAndTheTokenIsSpent)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        std::string text;
        try {
            Keystone::with({fakeKit("Alpha"), nonKit("Fake")});
        } catch (const kits::KSTException& error) {
            text = std::string("raised: ") + error.what() + " | ";
        }
        Keystone::with({fakeKit("Alpha")}); // only logs now
        return text + observed();
    });
    EXPECT_EQ(outcome.report, "raised: [Keystone] It appears that \"Fake\" is not a valid Keystone Kit. Please make "
                              "sure you only pass Keystone Kits to [Keystone with:]. | started:  kits: ");
    EXPECT_EQ(outcome.errors, calledTwiceLine);
}

TEST_F(KeystoneTest, OlderKitIsStartedThroughItsSharedInstance)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        static kits::KitInstance instance{.start = [] { starts += "Legacy;"; },
                                          .bundleIdentifier = [] { return std::string("com.example.legacy"); },
                                          .version = [] { return std::string("0.9"); }};
        KitClass legacy = nonKit("Legacy");
        legacy.sharedInstance = []() -> kits::KitInstance& { return instance; };
        Keystone::with({legacy});
        return observed() + " "
               + foundation::jsonFromPropertyList(Keystone::sharedSDK().kitVersionsByKitBundleIdentifier());
    });
    EXPECT_EQ(outcome.report,
              R"(started: Legacy; kits: Legacy, {"com.example.legacy":"0.9","io.tessmark.sdk.mac":"1.6.11"})");
    EXPECT_EQ(outcome.errors, "[Keystone] Please upgrade to the latest version of \"Legacy\"\n" + noEndpointLine);
}

TEST_F(KeystoneTest, ConfigurationProblemsRaiseWithTheirReasons)
{
    struct Case {
        std::optional<PropertyListDictionary> info;
        std::string expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, "raised: [Keystone] Cannot find Info.plist."},
        {PropertyListDictionary{{"Other", "x"}},
         "raised: [Keystone] Value of Info.plist key \"Keystone\" must be a NSDictionary."},
        {PropertyListDictionary{{"Keystone", "0123abcd"}},
         "raised: [Keystone] Value of Info.plist key \"Keystone\" must be a NSDictionary."},
        {PropertyListDictionary{{"Keystone", PropertyListDictionary{{"Kits", PropertyListArray{}}}}},
         "raised: [Keystone] Value of Info.plist[Keystone][APIKey] must contain your Keystone API Key."},
        {PropertyListDictionary{{"Keystone", PropertyListDictionary{{"APIKey", 42}, {"Kits", PropertyListArray{}}}}},
         "raised: [Keystone] Value of Info.plist[Keystone][APIKey] must contain your Keystone API Key."},
    };
    for (const auto& [info, expected] : cases) {
        auto outcome = inChild([&] {
            if (info)
                foundation::MainBundle::setInfoDictionary(*info);
            try {
                Keystone::with({fakeKit("Alpha")});
            } catch (const kits::KSTException& error) {
                return std::string("raised: ") + error.what();
            }
            return observed();
        });
        EXPECT_EQ(outcome.report, expected);
    }
}

TEST_F(KeystoneTest, KitsOfTheWrongTypeOnlyLogAndAnEmptyKeyStartsNothing)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(
            PropertyListDictionary{{"Keystone", PropertyListDictionary{{"APIKey", ""}, {"Kits", "none"}}}});
        Keystone::with({fakeKit("Alpha")});
        return observed();
    });
    EXPECT_EQ(outcome.report, "started:  kits: ");
    EXPECT_EQ(outcome.errors, "[Keystone] [Keystone] Value of Info.plist[Keystone][Kits] should be a NSArray.\n"
                              "[Keystone] Keystone API Key is nil! Keystone won't work unless there is a valid API "
                              "Key setup in Info.plist\n");
}

TEST_F(KeystoneTest, KitConfigurationComesFromTheFirstMatchingEntry)
{
    auto outcome = inChild([] {
        const PropertyListArray entries{
            PropertyListDictionary{{"KitName", "Alpha"}, {"KitInfo", PropertyListDictionary{{"level", 1}}}},
            PropertyListDictionary{{"KitName", "Alpha"}, {"KitInfo", PropertyListDictionary{{"level", 2}}}},
            PropertyListDictionary{{"KitName", "Beta"}},
        };
        foundation::MainBundle::setInfoDictionary(
            PropertyListDictionary{{"Keystone", PropertyListDictionary{{"APIKey", "k"}, {"Kits", entries}}}});
        std::string text;
        for (const char* name : {"Alpha", "Beta", "Gamma"}) {
            auto info = Keystone::configurationDictionaryForKitClass(fakeKit(name));
            text += info ? foundation::jsonFromPropertyList(*info) : std::string("none");
            text += " ";
        }
        return text;
    });
    EXPECT_EQ(outcome.report, R"({"level":1} {} none )");
}

TEST_F(KeystoneTest, InstallationUUIDPersistsAndTheExecutionIdentifierIsNewEachLaunch)
{
    auto launch = [&] {
        return inChild([] {
            foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
            Keystone& shared = Keystone::with({fakeKit("Blackbox"), fakeKit("Tally")});
            return shared.installID() + " " + (shared.isFirstInstall() ? "first" : "again") + " "
                   + shared.executionIdentifier() + " "
                   + std::to_string(shared.kitVersionsByKitBundleIdentifier().size()) + " "
                   + *shared.kitVersionsByKitBundleIdentifier().get<std::string>("io.tessmark.sdk.mac");
        });
    };
    const std::regex shape("([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}) (first|again) "
                           "([0-9a-f]{32}) 3 1\\.6\\.11");
    std::smatch first, second;
    const std::string firstReport = launch().report;
    const std::string secondReport = launch().report;
    ASSERT_TRUE(std::regex_match(firstReport, first, shape)) << firstReport;
    ASSERT_TRUE(std::regex_match(secondReport, second, shape)) << secondReport;
    EXPECT_EQ(first[2], "first");
    EXPECT_EQ(second[2], "again");
    EXPECT_EQ(first[1], second[1]);
    EXPECT_NE(first[3], second[3]);
}

TEST_F(KeystoneTest, DebugAndAdvertisingTokenAreSharedWithOtherThreads)
{
    auto outcome = inChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone& shared = Keystone::sharedSDK();
        std::thread writer([&] {
            shared.setDebug(true);
            shared.setAdvertisingToken("token");
        });
        writer.join();
        return std::string(shared.debug() && kits::isKitDebugLogging() ? "debug " : "quiet ")
               + shared.advertisingToken().value_or("none");
    });
    EXPECT_EQ(outcome.report, "debug token");
}

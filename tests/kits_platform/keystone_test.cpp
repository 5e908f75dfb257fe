#include "foundation/main_bundle.h"
#include "kits/platform/keystone.h"

#include "support/child_process.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <thread>

using foundation::PropertyListDictionary;
using kits::Keystone;
using kits::KitClass;
using testsupport::runInChild;

namespace {

const std::string calledTwiceLine = "[Keystone] [Keystone +with] called multiple times. Only the first call is "
                                    "honored, please pass all kits you wish to initialize\n";

std::mutex startsMutex;
std::string starts; // the kits started in this process, in order

KitClass fakeKit(const std::string& name, std::vector<KitClass> companions = {})
{
    return KitClass{name, "com.example." + name, "1.0",
                    [name] {
                        std::lock_guard lock(startsMutex);
                        starts += name + ";";
                    },
                    std::move(companions)};
}

PropertyListDictionary infoWithKey(const std::string& key)
{
    return {{"Keystone", PropertyListDictionary{{"APIKey", key}}}};
}

// "started: A;B; kits: A,B," - what the process started and the list the platform kept.
std::string observed()
{
    std::string kitNames;
    for (const auto& kit : Keystone::sharedSDK().kitClasses())
        kitNames += kit.name + ",";
    std::lock_guard lock(startsMutex);
    return "started: " + starts + " kits: " + kitNames;
}

} // namespace

TEST(Keystone, WithoutAPIKeyStartsNothing)
{
    for (const auto& info :
         {std::optional<PropertyListDictionary>{}, std::optional(PropertyListDictionary{{"Other", "x"}}),
          std::optional(PropertyListDictionary{{"Keystone", PropertyListDictionary{}}}),
          std::optional(infoWithKey(""))}) {
        auto outcome = runInChild([&] {
            if (info)
                foundation::MainBundle::setInfoDictionary(*info);
            Keystone& returned = Keystone::with({fakeKit("Alpha")});
            return observed() + (&returned == &Keystone::sharedSDK() ? "" : " another instance");
        });
        EXPECT_TRUE(outcome.exitedCleanly());
        EXPECT_EQ(outcome.report, "started:  kits: ");
        EXPECT_NE(outcome.errors.find("API Key is nil"), std::string::npos) << outcome.errors;
    }
}

TEST(Keystone, FirstCallStartsKitsAndAppendsMissingCompanions)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone::with({fakeKit("Crash", {fakeKit("Analytics")}), fakeKit("Other")});
        return observed();
    });
    EXPECT_TRUE(outcome.exitedCleanly());
    EXPECT_EQ(outcome.report, "started: Crash;Other;Analytics; kits: Crash,Other,Analytics,");
    EXPECT_EQ(outcome.errors, "");
}

TEST(Keystone, CompanionAlreadyListedKeepsTheGivenOrder)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone::with({fakeKit("Analytics"), fakeKit("Crash", {fakeKit("Analytics")})});
        return observed();
    });
    EXPECT_EQ(outcome.report, "started: Analytics;Crash; kits: Analytics,Crash,");
}

TEST(Keystone, LaterCallsLogOnceEachAndChangeNothing)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone& first = Keystone::with({fakeKit("Alpha")});
        Keystone& second = Keystone::with({fakeKit("Beta")});
        Keystone::with({});
        return observed() + (&first == &second ? "" : " another instance");
    });
    EXPECT_TRUE(outcome.exitedCleanly());
    EXPECT_EQ(outcome.report, "started: Alpha; kits: Alpha,");
    EXPECT_EQ(outcome.errors, calledTwiceLine + calledTwiceLine);
}

TEST(Keystone, KeySetAfterAnUnkeyedFirstCallDoesNotStartKits)
{
    auto outcome = runInChild([] {
        Keystone::with({fakeKit("Alpha")});
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        Keystone::with({fakeKit("Alpha")});
        return observed();
    });
    EXPECT_EQ(outcome.report, "started:  kits: ");
    EXPECT_TRUE(outcome.errors.ends_with(calledTwiceLine)) << outcome.errors;
}

TEST(Keystone, ConcurrentFirstCallsStartTheKitsOnce)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        std::vector<std::thread> callers;
        for (int index = 0; index < 8; ++index)
            callers.emplace_back([] { Keystone::with({fakeKit("Alpha")}); });
        for (auto& caller : callers)
            caller.join();
        return observed();
    });
    EXPECT_EQ(outcome.report, "started: Alpha; kits: Alpha,");
    std::string expectedLog;
    for (int index = 0; index < 7; ++index)
        expectedLog += calledTwiceLine;
    EXPECT_EQ(outcome.errors, expectedLog);
}

TEST(Keystone, NonKitIsMisuseAndStartsNothing)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        try {
            Keystone::with({fakeKit("Alpha"), KitClass{"Widget", "", "", [] { starts += "Widget;"; }, {}}});
        } catch (const std::invalid_argument& error) {
            return std::string("invalid: ") + error.what() + " | " + observed();
        }
        return observed();
    });
    EXPECT_EQ(outcome.report, "invalid: [Keystone] It appears that \"Widget\" is not a valid Keystone Kit. Please "
                              "make sure you only pass Keystone Kits to [Keystone with:]. | started:  kits: ");
}

TEST(Keystone, MalformedConfigurationIsMisuse)
{
    for (const auto& info : {PropertyListDictionary{{"Keystone", "0123abcd"}},
                             PropertyListDictionary{{"Keystone", PropertyListDictionary{{"APIKey", 42}}}}}) {
        auto outcome = runInChild([&] {
            foundation::MainBundle::setInfoDictionary(info);
            try {
                Keystone::with({fakeKit("Alpha")});
            } catch (const std::invalid_argument&) {
                return "invalid | " + observed();
            }
            return observed();
        });
        EXPECT_EQ(outcome.report, "invalid | started:  kits: ");
    }
}

TEST(Keystone, APIKeyComesFromTheKeystoneEntry)
{
    auto outcome = runInChild([] {
        foundation::MainBundle::setInfoDictionary(infoWithKey("0123abcd"));
        return Keystone::sharedSDK().APIKey().value_or("none");
    });
    EXPECT_EQ(outcome.report, "0123abcd");
}

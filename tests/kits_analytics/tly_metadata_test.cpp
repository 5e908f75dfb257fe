// Session metadata: the beta token's unwrapping, the payload's fixed values and left-out keys, the
// values collected from the kit platform and host, and the crash metadata file (read, written
// atomically, garbage read as none, seeded mutations of it).
#include "kits/analytics/tly_metadata.h"

#include "child_process.h"
#include "foundation/main_bundle.h"
#include "foundation/property_list_json.h"
#include "kits/platform/keystone.h"
#include "mutator.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::TLYCrashMetadata;
using kits::TLYMetadata;

namespace {

TLYMetadata sampleMetadata(std::optional<std::string> betaToken)
{
    return TLYMetadata({
        .APIKey = "key",
        .betaToken = TLYMetadata::unwrapBetaToken(betaToken),
        .buildVersion = "26",
        .bundleIdentifier = "com.example.app",
        .displayVersion = "1.0",
        .executionIdentifier = "execution",
        .hostModel = "machine",
        .installationId = "install",
        .instanceIdentifier = "instance",
        .locale = "de_DE",
        .numberOfCores = 8,
        .OSBuildVersion = "6.1.0-18-amd64",
        .OSDisplayVersion = "6.1.0",
    });
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(TLYMetadata, OnlyAVersionTwoTokenIsUnwrapped)
{
    EXPECT_EQ(TLYMetadata::unwrapBetaToken("2:abc"), "abc");
    EXPECT_EQ(TLYMetadata::unwrapBetaToken("3:abc"), std::nullopt);
    EXPECT_EQ(TLYMetadata::unwrapBetaToken("2:a:b"), std::nullopt);
    EXPECT_EQ(TLYMetadata::unwrapBetaToken("abc"), std::nullopt);
    EXPECT_EQ(TLYMetadata::unwrapBetaToken(std::nullopt), std::nullopt);
    EXPECT_EQ(*sampleMetadata("2:abc").dictionaryRepresentationWithStartTime(0)->get<std::string>("beta_tester_token"),
              "abc");
    EXPECT_FALSE(sampleMetadata("2:a:b").dictionaryRepresentationWithStartTime(0)->contains("beta_tester_token"));
}

TEST(TLYMetadata, ThePayloadHasItsTwentyTwoKeysInOrder)
{
    const auto payload = *sampleMetadata("2:abc").dictionaryRepresentationWithStartTime(1704103200);
    EXPECT_EQ(foundation::jsonFromPropertyList(payload),
              R"({"generator":"Tally Mac SDK/1.3.4","api_key":"key","session_id":"execution",)"
              R"("started_at":1704103200,"beta_tester_token":"abc","links_ad_support":false,)"
              R"("advertising_tracking_enabled":false,"install_id":"install","model":"machine","machine":"machine",)"
              R"("locale":"de_DE","os_build":"6.1.0-18-amd64","os_version":"6.1.0","platform":"Mac",)"
              R"("platform_code":0,"cores":8,"jailbroken":false,"bundle_id":"com.example.app",)"
              R"("bundle_version":"26","bundle_short_version":"1.0","instance_id":"instance"})");
    EXPECT_EQ(sampleMetadata("2:abc").eventName(), "metadata");
}

TEST(TLYMetadata, MissingSourcesLeaveTheirKeysOut)
{
    const auto payload = *TLYMetadata(TLYMetadata::Fields{}).dictionaryRepresentationWithStartTime(5);
    EXPECT_EQ(foundation::jsonFromPropertyList(payload),
              R"({"generator":"Tally Mac SDK/1.3.4","started_at":5,"links_ad_support":false,)"
              R"("advertising_tracking_enabled":false,"platform":"Mac","platform_code":0,"cores":0,)"
              R"("jailbroken":false})");
}

// In a child: the kit platform's shared instance is made once per process.
TEST(TLYMetadata, CollectsItsValuesFromTheKitPlatformAndTheHost)
{
    testsupport::TempFolder folder;
    const auto outcome = testsupport::runInChild([&folder] {
        ::setenv("LC_ALL", "fr_CA.UTF-8", 1);
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary({{"CFBundleIdentifier", "com.example/app"},
                                                   {"CFBundleVersion", "26"},
                                                   {"CFBundleShortVersionString", "2.1"},
                                                   {"Keystone", PropertyListDictionary{{"APIKey", "0123abcd"}}}});
        auto& keystone = kits::Keystone::sharedSDK();
        const auto metadata = TLYMetadata::initWithKeystone(keystone, "2:token");
        auto payload = *metadata.dictionaryRepresentationWithStartTime(7);
        const bool identifiers = *payload.get<std::string>("install_id") == keystone.installID()
                                 && *payload.get<std::string>("session_id") == keystone.executionIdentifier();
        const bool sameModel = payload.find("model") && *payload.find("model") == *payload.find("machine");
        const bool cores = *payload.get<std::int64_t>("cores") > 0;
        for (const char* varying :
             {"install_id", "session_id", "model", "machine", "os_build", "os_version", "cores", "instance_id"})
            payload.erase(varying);
        return foundation::jsonFromPropertyList(payload) + (identifiers ? " identifiers" : "")
               + (sameModel ? " model" : "") + (cores ? " cores" : "");
    });
    EXPECT_EQ(outcome.report, R"({"generator":"Tally Mac SDK/1.3.4","api_key":"0123abcd","started_at":7,)"
                              R"("beta_tester_token":"token","links_ad_support":false,)"
                              R"("advertising_tracking_enabled":false,"locale":"fr_CA","platform":"Mac",)"
                              R"("platform_code":0,"jailbroken":false,"bundle_id":"com.example_app",)"
                              R"("bundle_version":"26","bundle_short_version":"2.1"} identifiers model cores)")
        << outcome.errors;
}

TEST(TLYCrashMetadata, TheFileReadsBackWhatWasWrittenAndGarbageAsNone)
{
    testsupport::TempFolder folder;
    const auto file = folder.path() / "crash_metadata";
    EXPECT_EQ(TLYCrashMetadata::readSerializedDictionaryFromURL(file), std::nullopt);

    const auto payload = *sampleMetadata("2:abc").dictionaryRepresentationWithStartTime(42);
    ASSERT_TRUE(TLYCrashMetadata::writeSerializedDictionary(payload, file));
    EXPECT_EQ(TLYCrashMetadata::readSerializedDictionaryFromURL(file), payload);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "a temporary file remained";

    const TLYCrashMetadata previous(TLYCrashMetadata::readSerializedDictionaryFromURL(file));
    EXPECT_EQ(previous.dictionaryRepresentationWithStartTime(99), payload) << "the start time is the stored one";
    EXPECT_EQ(previous.eventName(), "metadata");

    for (const char* garbage : {"", "{", "[1,2]", "\"text\"", "{\"a\":1} trailing", "\xFF"}) {
        writeFile(file, garbage);
        EXPECT_EQ(TLYCrashMetadata::readSerializedDictionaryFromURL(file), std::nullopt) << garbage;
    }
    EXPECT_FALSE(TLYCrashMetadata::writeSerializedDictionary(payload, folder.path() / "missing" / "crash_metadata"));
}

TEST(TLYCrashMetadata, MutatedFilesReadAsMetadataOrNone)
{
    testsupport::TempFolder folder;
    const auto file = folder.path() / "crash_metadata";
    const std::string sample =
        foundation::jsonFromPropertyList(*sampleMetadata("2:abc").dictionaryRepresentationWithStartTime(1));
    testsupport::SeededMutator mutator({sample, "{}", R"({"a":[1,{"b":null}],"c":1e999})"},
                                       testsupport::fuzzSeed(3302));
    // Through a file for a share of the inputs, the rest from memory; what reads as metadata writes back
    // as JSON that reads again.
    for (std::size_t round = 0; round < testsupport::fuzzMutationCount(); ++round) {
        const std::string input = mutator.next();
        if (round % 500 == 0) {
            writeFile(file, input);
            const auto read = TLYCrashMetadata::readSerializedDictionaryFromURL(file);
            if (read) {
                ASSERT_TRUE(foundation::propertyListFromJSON(foundation::jsonFromPropertyList(*read)));
            }
        } else if (const auto read = TLYCrashMetadata::dictionaryFromSerializedData(input)) {
            ASSERT_TRUE(foundation::propertyListFromJSON(foundation::jsonFromPropertyList(*read)));
        }
    }
}

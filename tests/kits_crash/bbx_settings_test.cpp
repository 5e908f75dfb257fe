// Crash kit settings: the defaults without a download, the three-level configuration lookup with its
// override line, the settings' switches and limits, and prompt texts that a strings table overrides.
#include "kits/crash/bbx_settings.h"

#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "foundation/main_bundle.h"

#include "support/child_process.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

using foundation::MainBundle;
using foundation::PropertyListDictionary;
using kits::BBXSettings;

namespace {

class BBXSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { logged += std::string(line) + "\n"; });
    }
    void TearDown() override
    {
        kits::setKitLogSink({});
        MainBundle::setInfoDictionary(nullptr);
        MainBundle::setStringsTable("Blackbox", std::nullopt);
    }

    testsupport::ScopedEnvironment environment{{"BlackboxPackageReports", std::nullopt},
                                               {"BlackboxSubmitReports", std::nullopt},
                                               {"BlackboxUrgentReports", std::nullopt},
                                               {"BlackboxReportsEndpoint", std::nullopt}};
    std::string logged;
};

} // namespace

TEST_F(BBXSettingsTest, WithoutDownloadedSettingsTheDefaultsHold)
{
    const BBXSettings settings(std::nullopt);
    EXPECT_FALSE(settings.settingsDictionary());
    EXPECT_TRUE(settings.crashReportingEnabled());
    EXPECT_TRUE(settings.errorReportingEnabled());
    EXPECT_TRUE(settings.customExceptionsEnabled());
    EXPECT_FALSE(settings.userPromptEnabled());
    EXPECT_EQ(settings.logBufferSize(), 65536u);
    EXPECT_EQ(settings.errorLogBufferSize(), 65536u);
    EXPECT_EQ(settings.maxCustomExceptions(), 16u);
    EXPECT_EQ(settings.maxCustomKeys(), 16u);
    EXPECT_EQ(settings.betaSuspendDuration(), 3600);
    EXPECT_TRUE(settings.shouldPackageReports());
    EXPECT_TRUE(settings.shouldSubmitReports());
    EXPECT_TRUE(settings.canProcessUrgentReports());
    EXPECT_EQ(BBXSettings::valueForConfigurationKey("ReportsEndpoint"), foundation::PropertyListValue(""));
    EXPECT_EQ(BBXSettings::valueForConfigurationKey("BetaEndpoint"), foundation::PropertyListValue(""));
    EXPECT_FALSE(BBXSettings::valueForConfigurationKey("Unknown"));
    EXPECT_EQ(settings.interactivePromptTitle(), "Send Crash Report?");
    EXPECT_EQ(settings.interactivePromptMessage(),
              "Looks like we crashed! Please help us fix the problem by sending a crash report.");
    EXPECT_EQ(settings.interactivePromptCancelTitle(), "Don't Send");
    EXPECT_EQ(settings.interactivePromptSendTitle(), "Send");
    EXPECT_EQ(settings.interactivePromptAlwaysSendTitle(), "Always Send");
    EXPECT_EQ(logged, "");
}

TEST_F(BBXSettingsTest, TheEnvironmentBeatsTheInformationDictionaryWhichBeatsTheDefaults)
{
    MainBundle::setInfoDictionary(PropertyListDictionary{
        {"Blackbox", PropertyListDictionary{{"PackageReports", true},
                                            {"SubmitReports", "NO"},
                                            {"ReportsEndpoint", "https://reports.example.org"}}}});
    EXPECT_EQ(BBXSettings::configuration()->size(), 3u);
    const BBXSettings settings(std::nullopt);
    EXPECT_TRUE(settings.shouldPackageReports());
    EXPECT_FALSE(settings.shouldSubmitReports()) << "the dictionary's text NO";
    EXPECT_TRUE(settings.canProcessUrgentReports()) << "default";
    EXPECT_EQ(BBXSettings::valueForConfigurationKey("ReportsEndpoint"),
              foundation::PropertyListValue("https://reports.example.org"));
    EXPECT_EQ(logged, "");

    ::setenv("BlackboxPackageReports", "NO", 1);
    EXPECT_FALSE(settings.shouldPackageReports());
    EXPECT_EQ(logged, "[Blackbox:Crash] override: 'PackageReports' => 'NO'\n");
    for (const char* text : {"0", "", "no", "false", "  +000"}) {
        ::setenv("BlackboxUrgentReports", text, 1);
        EXPECT_FALSE(settings.canProcessUrgentReports()) << "'" << text << "'";
    }
    for (const char* text : {"YES", "y", "True", "1", " -007", "9"}) {
        ::setenv("BlackboxUrgentReports", text, 1);
        EXPECT_TRUE(settings.canProcessUrgentReports()) << "'" << text << "'";
    }
    MainBundle::setInfoDictionary(PropertyListDictionary{{"Blackbox", "not a dictionary"}});
    EXPECT_FALSE(BBXSettings::configuration());
}

TEST_F(BBXSettingsTest, DownloadedSettingsSetSwitchesAndLimits)
{
    const BBXSettings off(PropertyListDictionary{{"features", PropertyListDictionary{{"collect_reports", false}}}});
    EXPECT_FALSE(off.crashReportingEnabled());
    EXPECT_TRUE(off.errorReportingEnabled());

    const BBXSettings settings(PropertyListDictionary{
        {"features", PropertyListDictionary{{"collect_logged_exceptions", false}, {"prompt_enabled", true}}},
        {"session", PropertyListDictionary{{"log_buffer_size", std::int64_t{1024}},
                                           {"max_custom_exception_events", 4.9},
                                           {"max_custom_key_value_pairs", std::int64_t{-1}}}},
        {"beta", PropertyListDictionary{{"update_suspend_duration", 90.5}}},
        {"app", PropertyListDictionary{{"status", "activated"}}}});
    EXPECT_TRUE(settings.crashReportingEnabled()) << "absent: on";
    EXPECT_FALSE(settings.errorReportingEnabled());
    EXPECT_FALSE(settings.customExceptionsEnabled()) << "follows logged errors";
    EXPECT_TRUE(settings.userPromptEnabled());
    EXPECT_EQ(settings.logBufferSize(), 1024u);
    EXPECT_EQ(settings.errorLogBufferSize(), 1024u);
    EXPECT_EQ(settings.maxCustomExceptions(), 4u);
    EXPECT_EQ(settings.maxCustomKeys(), 4294967295u) << "wraps as an unsigned 32-bit value";
    EXPECT_EQ(settings.betaSuspendDuration(), 90.5);

    const BBXSettings nulls(PropertyListDictionary{
        {"features", PropertyListDictionary{{"collect_reports", foundation::PropertyListNull{}}}},
        {"session", "not a dictionary"}});
    EXPECT_TRUE(nulls.crashReportingEnabled()) << "null counts as absent";
    EXPECT_EQ(nulls.logBufferSize(), 65536u);
}

TEST_F(BBXSettingsTest, AStringsTableBeatsTheServersPromptText)
{
    const BBXSettings settings(PropertyListDictionary{
        {"prompt", PropertyListDictionary{{"title", "Server title"}, {"message", "Server message"}}}});
    EXPECT_EQ(settings.interactivePromptTitle(), "Server title");
    EXPECT_EQ(settings.interactivePromptMessage(), "Server message");
    MainBundle::setStringsTable("Blackbox",
                                PropertyListDictionary{{"BlackboxCrashSubmissionPromptTitle", "Absturz senden?"},
                                                       {"BlackboxCrashSubmissionSendTitle", "Senden"}});
    MainBundle::setStringsTable("Other",
                                PropertyListDictionary{{"BlackboxCrashSubmissionPromptMessage", "wrong table"}});
    EXPECT_EQ(settings.interactivePromptTitle(), "Absturz senden?");
    EXPECT_EQ(settings.interactivePromptMessage(), "Server message");
    EXPECT_EQ(settings.interactivePromptSendTitle(), "Senden");
    EXPECT_EQ(settings.interactivePromptCancelTitle(), "Don't Send");
    MainBundle::setStringsTable("Other", std::nullopt);
}

TEST(BBXSettingsFromKeystone, NoneBeforeADownloadThenTheCachedSettings)
{
    testsupport::TempFolder folder("bbx-settings-keystone");
    const auto outcome = testsupport::runInChild([&folder] {
        MainBundle::setCachesDirectory(folder.path() / "caches");
        MainBundle::setApplicationSupportDirectory(folder.path() / "support");
        MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.tracker"}});
        std::string seen;
        const BBXSettings before(kits::Keystone::sharedSDK().settings());
        seen += before.settingsDictionary() ? "some" : "none";
        seen += before.crashReportingEnabled() ? " on" : " off";
        // What a download leaves: settings.json under the platform's caches folder.
        const auto directory = folder.path() / "caches" / "io.tessmark.sdk.mac.data" / "org.example.tracker";
        std::filesystem::create_directories(directory);
        std::ofstream(directory / "settings.json")
            << R"({"features":{"collect_reports":false},"session":{"max_custom_key_value_pairs":8}})";
        const BBXSettings after(kits::Keystone::sharedSDK().settings());
        seen += after.settingsDictionary() ? ", some" : ", none";
        seen += after.crashReportingEnabled() ? " on " : " off ";
        seen += std::to_string(after.maxCustomKeys());
        return seen;
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.errors;
    EXPECT_EQ(outcome.report, "none on, some off 8");
}

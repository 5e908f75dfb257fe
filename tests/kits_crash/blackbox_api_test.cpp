// The crash kit's calls for the application: identity and custom keys into the launch's two stores,
// logged errors, custom and script exceptions, the installation identifier of an older kit's defaults,
// debug mode, the start calls and the test exception.
#include "kits/crash/blackbox.h"

#include "foundation/main_bundle.h"
#include "foundation/property_list_file.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "kits_crash_capture/user_logging_fixture.h"
#include "support/child_process.h"
#include "support/hex.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace fs = std::filesystem;
using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::Blackbox;
using kits::Keystone;
using testsupport::hex;
using testsupport::recordSections;

namespace {

class BlackboxRecording : public testsupport::UserLoggingTest {
protected:
    PropertyListDictionary entries(const BBXUserLoggingKVStorage& store)
    {
        drainLoggingQueue();
        return BBXUserLoggingGetCompactedKVEntries(&store, true).value_or(PropertyListDictionary{});
    }
    PropertyListDictionary internalEntries() { return entries(files()->internalKVStorage); }
    PropertyListDictionary userEntries() { return entries(files()->userKVStorage); }

    Blackbox& blackbox = Blackbox::sharedInstance();
};

} // namespace

TEST_F(BlackboxRecording, IdentityGoesIntoTheInternalStoreUnderItsKeys)
{
    blackbox.setUserIdentifier("u-17");
    blackbox.setUserName("Ada");
    blackbox.setUserEmail("ada@example.org");
    blackbox.setDevelopmentPlatformName("Qt");
    blackbox.setDevelopmentPlatformVersion("6.4");
    auto internal = internalEntries();
    EXPECT_EQ(internal, (PropertyListDictionary{{"com.faultmere.user-id", "u-17"},
                                                {"com.faultmere.user-name", "Ada"},
                                                {"com.faultmere.user-email", "ada@example.org"},
                                                {"com.faultmere.development-platform-name", "Qt"},
                                                {"com.faultmere.development-platform-version", "6.4"}}));
    EXPECT_TRUE(userEntries().empty()) << "the user's store stays apart";

    blackbox.setUserEmail(std::nullopt);
    internal = internalEntries();
    EXPECT_FALSE(internal.contains("com.faultmere.user-email"));
    EXPECT_TRUE(internal.contains("com.faultmere.user-name"));

    EXPECT_EQ(blackbox.developmentPlatformName(), std::nullopt);
    EXPECT_EQ(blackbox.developmentPlatformVersion(), std::nullopt);
    EXPECT_EQ(console, "[Blackbox] developmentPlatformName is write-only\n"
                       "[Blackbox] developmentPlatformVersion is write-only\n");
}

TEST_F(BlackboxRecording, CustomKeysAreBoxedIntoTheUserStore)
{
    blackbox.setObjectValueForKey(PropertyListValue("projects"), "screen");
    blackbox.setIntValueForKey(-42, "count");
    blackbox.setBoolValueForKey(true, "pro");
    blackbox.setFloatValueForKey(0.1f, "ratio");
    blackbox.setFloatValueForKey(2.0f, "whole");
    blackbox.setObjectValueForKey(PropertyListValue("gone"), "temporary");
    blackbox.setObjectValueForKey(std::nullopt, "temporary");
    EXPECT_EQ(userEntries(), (PropertyListDictionary{{"screen", "projects"},
                                                     {"count", "-42"},
                                                     {"pro", "1"},
                                                     {"ratio", "0.1"},
                                                     {"whole", "2"}}));
    EXPECT_TRUE(internalEntries().empty());
}

TEST_F(BlackboxRecording, ErrorsAndExceptionsGoToTheirFiles)
{
    foundation::Error error;
    error.domain = "ImportError";
    error.code = 7;
    blackbox.recordError(error);
    blackbox.recordError(error, PropertyListDictionary{{"file", "clients.vcf"}});
    drainLoggingQueue();
    const auto errors = recordSections(file("errors_a.bbxrecord"));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0]["error"]["domain"], hex("ImportError"));
    EXPECT_EQ(errors[0]["error"]["code"], 7);
    EXPECT_FALSE(errors[0]["error"].contains("extra_info"));
    EXPECT_EQ(errors[1]["error"]["extra_info"].dump(), "[[\"" + hex("file") + "\",\"" + hex("clients.vcf") + "\"]]");

    std::vector<::BBXStackFrame> frames{::BBXStackFrame::stackFrameWithSymbol("importClients")};
    frames[0].address = 0x4000;
    frames[0].library = "horavine";
    {
        // The caller's values may go as soon as the call returns.
        std::string name = "ImportFailed";
        std::string reason = "line 3 has no name";
        blackbox.recordCustomExceptionName(name, reason, frames);
        name.assign(40, 'x');
        reason.assign(40, 'y');
    }
    blackbox.recordJavaScriptError(
        PropertyListDictionary{{"msg", "x is undefined"}, {"url", "about:blank"}, {"line", std::int64_t{4}}});
    // A page may post a message that is no text; its description is recorded.
    blackbox.recordJavaScriptError(PropertyListDictionary{{"msg", std::int64_t{12}}});
    blackbox.recordJavaScriptError(PropertyListValue("just a string"));
    drainLoggingQueue();
    const auto exceptions = recordSections(file("custom_exception_a.bbxrecord"));
    ASSERT_EQ(exceptions.size(), 3u);
    const auto& custom = exceptions[0]["exception"];
    EXPECT_EQ(custom["type"], "custom");
    EXPECT_EQ(custom["name"], hex("ImportFailed"));
    EXPECT_EQ(custom["reason"], hex("line 3 has no name"));
    ASSERT_EQ(custom["frames"].size(), 1u);
    EXPECT_EQ(custom["frames"][0]["pc"], 0x4000);
    EXPECT_EQ(custom["frames"][0]["symbol"], hex("importClients"));
    EXPECT_EQ(custom["frames"][0]["library"], hex("horavine"));
    const auto& script = exceptions[1]["exception"];
    EXPECT_EQ(script["type"], "javascript");
    EXPECT_EQ(script["name"], hex("exception"));
    EXPECT_EQ(script["reason"], hex("x is undefined"));
    EXPECT_FALSE(script.contains("frames"));
    EXPECT_EQ(exceptions[2]["exception"]["reason"], hex("12"));
    EXPECT_NE(console.find("[Blackbox] Unable to record exception from WKWebView\n"), std::string::npos) << console;
    EXPECT_FALSE(fs::exists(file("exception.bbxrecord"))) << "nothing here is fatal";
}

TEST(BlackboxInstallID, AnOlderKitsDefaultsWinOverThePlatformsIdentifier)
{
    testsupport::TempFolder folder("blackbox-install-id");
    // The platform keeps its own defaults where the folder is when it first needs them (without a bundle
    // identifier, at the older kit's path): in a folder apart.
    foundation::MainBundle::setApplicationSupportDirectory(folder.path() / "platform");
    const auto platformID = Keystone::sharedSDK().installID();
    ASSERT_FALSE(platformID.empty());
    foundation::MainBundle::setApplicationSupportDirectory(folder.path());
    const auto& blackbox = Blackbox::sharedInstance();
    EXPECT_EQ(blackbox.installID(), platformID);

    const auto path = folder.path() / "com.faultmere" / "BBXUserDefaults.plist";
    fs::create_directories(path);
    EXPECT_EQ(blackbox.installID(), platformID) << "a folder in the file's place is no defaults";
    fs::remove(path);

    const auto write = [&](const PropertyListDictionary& defaults) {
        std::ofstream(path, std::ios::binary) << *foundation::xmlPropertyList(defaults).value;
    };
    write({{"com.faultmere.iuuid", "4A2F-OLD"}, {"other", std::int64_t{1}}});
    EXPECT_EQ(blackbox.getHistoricInstallID(), "4A2F-OLD");
    EXPECT_EQ(blackbox.installID(), "4A2F-OLD");

    write({{"other", std::int64_t{1}}});
    EXPECT_EQ(blackbox.installID(), platformID);
    std::ofstream(path, std::ios::trunc) << "not a property list";
    kits::setKitLogSink([](std::string_view) {});
    EXPECT_EQ(blackbox.installID(), platformID);
    kits::setKitLogSink({});
    foundation::MainBundle::setApplicationSupportDirectory(std::nullopt);
}

TEST(BlackboxDebugMode, TheArgumentTurnsThePlatformsDebugOnAndOff)
{
    auto& keystone = Keystone::sharedSDK();
    const bool before = keystone.debug();
    keystone.setDebug(false);
    Blackbox::sharedInstance().setDebugMode(false);
    EXPECT_FALSE(keystone.debug());
    EXPECT_FALSE(Blackbox::sharedInstance().debugMode());
    EXPECT_FALSE(kits::isKitDebugLogging());
    Blackbox::sharedInstance().setDebugMode(true);
    EXPECT_TRUE(Blackbox::sharedInstance().debugMode());
    EXPECT_TRUE(kits::isKitDebugLogging());
    Blackbox::sharedInstance().setDebugMode(false);
    EXPECT_FALSE(Blackbox::sharedInstance().debugMode());
    EXPECT_FALSE(kits::isKitDebugLogging());
    keystone.setDebug(before);
}

TEST(BlackboxStart, TheStartCallsSetTheKeyAndStartThePlatformOnce)
{
    // Like the platform start test beside it: the child waits on kit queues, which need a fresh process.
    if (testsupport::processHasOtherThreads())
        GTEST_SKIP() << "this process runs other threads already";
    testsupport::TempFolder folder("blackbox-start");
    auto outcome = testsupport::runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setCachesDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary(
            {{"CFBundleIdentifier", "org.example.start"}, {"Keystone", PropertyListDictionary{{"APIKey", ""}}}});
        std::string seen;
        kits::setKitLogSink([&seen](std::string_view line) {
            if (line.rfind("[Blackbox] Warning", 0) == 0)
                seen += std::string(line) + "\n";
        });
        kits::BlackboxDelegate delegate;
        delegate.blackboxCanUseBackgroundSessions = [](Blackbox&) { return false; };
        auto& started = Blackbox::startWithAPIKeyAfterDelay("key-1", delegate, 30.0);
        seen += &started == &Blackbox::sharedInstance() ? "shared," : "other,";
        seen += started.isBlackboxStarted() ? "started," : "idle,";
        seen += started.APIKey().value_or("none") + ",";
        seen += started.delegate()->blackboxCanUseBackgroundSessions ? "delegate," : "no delegate,";
        started.setDebugMode(true);
        Blackbox::startWithAPIKey("key-2");
        seen += started.APIKey().value_or("none");
        kits::setKitLogSink({});
        return seen;
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.report << outcome.errors;
    EXPECT_EQ(outcome.report, "[Blackbox] Warning, startWithAPIKey:delegate:afterDelay: is deprecated.\n"
                              "shared,started,key-1,delegate,"
                              "[Blackbox] Warning, consider enabling debug mode before starting Blackbox\n"
                              "key-2");
}

TEST(BlackboxStart, ThrowExceptionEndsTheProcessAsAnUncaughtException)
{
    auto outcome = testsupport::runInChild([]() -> std::string {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        std::signal(SIGABRT, SIG_DFL);
        std::set_terminate([] {
            try {
                std::rethrow_exception(std::current_exception());
            } catch (const std::exception& caught) {
                std::fprintf(stderr, "uncaught: %s\n", caught.what());
            }
            std::abort();
        });
        // Leaving a function that cannot throw: uncaught, as in a host that does not catch it.
        [&]() noexcept { Blackbox::sharedInstance().throwException(); }();
        return std::string("returned from throwException");
    });
    ASSERT_TRUE(WIFSIGNALED(outcome.status)) << outcome.report;
    EXPECT_EQ(WTERMSIG(outcome.status), SIGABRT);
    EXPECT_NE(outcome.errors.find("uncaught: "), std::string::npos) << outcome.errors;
}

#include "kits/crash/blackbox.h"

#include "foundation/main_bundle.h"
#include "kits/analytics/tally.h"
#include "kits/analytics/tly_tally_controller.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <thread>

using foundation::PropertyListDictionary;
using kits::Blackbox;
using kits::Keystone;
using kits::Tally;
using testsupport::runInChild;

TEST(Blackbox, SharedInstanceIsOnePerProcess)
{
    Blackbox* seenByThread = nullptr;
    std::thread other([&] { seenByThread = &Blackbox::sharedInstance(); });
    other.join();
    EXPECT_EQ(seenByThread, &Blackbox::sharedInstance());
}

#ifndef HORAVINE_SANITIZED
// Sanitizers install fault handlers of their own, so the trap is only checked in the plain build.
TEST(Blackbox, CrashEndsTheProcessByATrap)
{
    auto outcome = runInChild([] {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        std::signal(SIGILL, SIG_DFL);
        std::signal(SIGTRAP, SIG_DFL);
        Blackbox::sharedInstance().crash();
        return std::string("returned from crash");
    });
    ASSERT_TRUE(WIFSIGNALED(outcome.status)) << outcome.report;
    EXPECT_TRUE(WTERMSIG(outcome.status) == SIGILL || WTERMSIG(outcome.status) == SIGTRAP) << WTERMSIG(outcome.status);
    EXPECT_EQ(outcome.report, "");
}
#endif

TEST(Blackbox, KeystoneStartsTheCrashKitAndTallyBesideIt)
{
    // The child waits on the kits' queues: see processHasOtherThreads.
    if (testsupport::processHasOtherThreads())
        GTEST_SKIP() << "this process runs other threads already";
    testsupport::TempFolder folder;
    auto outcome = runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setCachesDirectory(folder.path());
        std::string seen;
        Tally::logCustomEvent("Before start", std::nullopt); // dropped: no controller yet
        foundation::MainBundle::setInfoDictionary(
            {{"Keystone", PropertyListDictionary{{"APIKey", "0123abcd"}, {"Kits", foundation::PropertyListArray{}}}}});
        for (const auto& kit : Keystone::with({Blackbox::kitClass()}).kitClasses())
            seen += kit.name + ",";
        seen += Blackbox::sharedInstance().isBlackboxStarted() ? " crash kit started" : " crash kit idle";
        Tally::logCustomEvent("After start", std::nullopt);
        auto controller =
            std::dynamic_pointer_cast<kits::TLYTallyController>(Tally::sharedInstance().tallyController());
        if (!controller)
            return seen + " no event controller";
        controller->eventQueue()->waitUntilAllOperationsAreFinished();
        std::ifstream log(controller->currentLogURL());
        const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        if (text.find("After start") != std::string::npos)
            seen += " event: After start";
        if (text.find("Before start") != std::string::npos)
            seen += " event: Before start";
        return seen;
    });
    EXPECT_TRUE(outcome.exitedCleanly());
    EXPECT_EQ(outcome.report, "Blackbox,Tally, crash kit started event: After start");
}

TEST(Blackbox, WithoutAPIKeyNeitherKitStarts)
{
    testsupport::TempFolder folder;
    auto outcome = runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary({{"Keystone", PropertyListDictionary{{"APIKey", ""}}}});
        Keystone::with({Blackbox::kitClass()});
        return std::string(Blackbox::sharedInstance().isBlackboxStarted() ? "crash kit started" : "crash kit idle")
               + (Tally::sharedInstance().tallyController() ? ", analytics started" : ", analytics idle");
    });
    EXPECT_EQ(outcome.report, "crash kit idle, analytics idle");
}

TEST(Blackbox, TallyDefersToTheCrashKitWhichStartsItWithoutAToken)
{
    if (testsupport::processHasOtherThreads())
        GTEST_SKIP() << "this process runs other threads already";
    testsupport::TempFolder folder;
    auto outcome = runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setCachesDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary(
            {{"Keystone", PropertyListDictionary{{"APIKey", "0123abcd"}, {"Kits", foundation::PropertyListArray{}}}}});
        Blackbox::kitClass(); // registers both kits
        Tally::initializeIfNeeded();
        return std::string(Blackbox::sharedInstance().isBlackboxStarted() ? "crash kit started" : "crash kit idle")
               + (Tally::sharedInstance().tallyController() ? ", analytics started" : ", analytics idle")
               + (Tally::sharedInstance().betaToken() ? ", a token" : ", no token");
    });
    EXPECT_EQ(outcome.report, "crash kit started, analytics started, no token");
}

TEST(Blackbox, WithoutTheCrashKitTallyStartsAlone)
{
    testsupport::TempFolder folder;
    auto outcome = runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setCachesDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary(
            {{"Keystone", PropertyListDictionary{{"APIKey", "0123abcd"}, {"Kits", foundation::PropertyListArray{}}}}});
        kits::KitRegistry::removeAllForTesting();
        Tally::kitClass();
        Tally::initializeIfNeeded();
        return std::string(Blackbox::sharedInstance().isBlackboxStarted() ? "crash kit started" : "crash kit idle")
               + (Tally::sharedInstance().tallyController() ? ", analytics started" : ", analytics idle");
    });
    EXPECT_EQ(outcome.report, "crash kit idle, analytics started") << outcome.status << " " << outcome.errors;
}

TEST(Blackbox, TallyStartsOnceWhateverTheLaterTokens)
{
    testsupport::TempFolder folder;
    auto outcome = runInChild([&folder] {
        foundation::MainBundle::setApplicationSupportDirectory(folder.path());
        foundation::MainBundle::setCachesDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary(
            {{"Keystone", PropertyListDictionary{{"APIKey", "0123abcd"}, {"Kits", foundation::PropertyListArray{}}}}});
        std::string lines;
        kits::setKitLogSink([&lines](std::string_view line) {
            if (!line.starts_with("[Tally] "))
                return;
            lines += line;
            lines += ";";
        });
        kits::setKitDebugLogging(true);
        auto& tally = Tally::sharedInstance();
        tally.startWithBetaToken("first");
        const auto controller = tally.tallyController();
        tally.startWithBetaToken("second");
        kits::setKitLogSink({});
        return lines + (tally.tallyController() == controller && controller ? " same controller" : " replaced")
               + ", token " + tally.betaToken().value_or("none");
    });
    EXPECT_EQ(outcome.report, "[Tally] Initialized; same controller, token first");
}

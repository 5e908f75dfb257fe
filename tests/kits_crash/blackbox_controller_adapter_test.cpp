// The crash kit's answers to its controllers for hosts with no delegate, a delegate that decides about
// reports, one that is only told, and one with the deprecated methods; signals and background
// sessions as the delegate asks; the crash callback's delegate fixed at start; the start's warnings.
#include "kits/crash/blackbox_controller_adapter.h"

#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_report.h"
#include "kits/crash/blackbox.h"
#include "kits/platform/kit_log.h"

#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "support/file_contents.h"
#include "support/manual_main_queue.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>

using kits::BBXCrashReportingController;
using kits::Blackbox;
using kits::BlackboxControllerAdapter;
using kits::BlackboxDelegate;

namespace {

class BlackboxControllerAdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        foundation::MainBundle::setCachesDirectory(folder.path());
        foundation::MainBundle::setInfoDictionary(
            foundation::PropertyListDictionary{{"CFBundleIdentifier", "org.example.app"}});
        mainQueue.install();
        kits::setKitLogSink([this](std::string_view line) {
            std::lock_guard lock(mutex);
            logged += std::string(line) + "\n";
        });
        controller = BBXCrashReportingController::create(std::make_shared<kits::BBXFileManager>(), {});
        const auto directory = folder.path() / "E1";
        std::filesystem::create_directories(directory);
        testsupport::writeFile(directory / "metadata.bbxrecord", R"({"identity":{"session_id":"E1"}})"
                                                                 "\n");
        testsupport::writeFile(directory / "signal.bbxrecord", R"({"signal":{"number":11,"time":1700000000}})"
                                                               "\n");
        report = kits::BBXInternalReport::reportWithPath(directory.string());
    }
    void TearDown() override
    {
        Blackbox::sharedInstance().setDelegate({});
        kits::setKitLogSink({});
        foundation::MainQueue::setExecutor(nullptr);
        foundation::MainBundle::setInfoDictionary(nullptr);
        foundation::MainBundle::setCachesDirectory(std::nullopt);
    }

    // The hand-over's completion answers, in order ("submit"/"keep").
    std::string handOver(BlackboxControllerAdapter& adapter)
    {
        std::string answers;
        adapter.reportingControllerDidDetectReportForLastExecution(
            *controller, report, [&answers](bool submit) { answers += submit ? "submit;" : "keep;"; });
        return answers;
    }

    testsupport::TempFolder folder{"bbx-adapter"};
    std::shared_ptr<BBXCrashReportingController> controller;
    std::shared_ptr<kits::BBXInternalReport> report;
    std::mutex mutex;
    testsupport::ManualMainQueue mainQueue;
    std::string logged;
};

} // namespace

TEST_F(BlackboxControllerAdapterTest, WithoutADelegateEveryReportIsSentAndNothingIsAsked)
{
    BlackboxControllerAdapter adapter(Blackbox::sharedInstance());
    EXPECT_FALSE(adapter.shouldInstallCrashCallback());
    EXPECT_TRUE(adapter.reportingControllerCanUseBackgroundSessions(*controller));
    EXPECT_FALSE(adapter.reportingControllerMustInformDelegateOfReports(*controller));
    EXPECT_FALSE(adapter.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGSEGV));
    EXPECT_EQ(handOver(adapter), "submit;");
    EXPECT_EQ(mainQueue.turn(), 0u);
    adapter.detectedCrash(); // nothing to call
}

TEST_F(BlackboxControllerAdapterTest, ADelegateThatDecidesGetsTheReportAndTheDeprecatedOnesHearOfItAfter)
{
    std::string seen;
    BlackboxDelegate delegate;
    delegate.blackboxDidDetectReportForLastExecutionCompletionHandler = [&](kits::BBXReport& shown, auto completion) {
        seen += "decide " + shown.identifier().value_or("?") + ";";
        completion(false);
    };
    delegate.blackboxDidDetectCrashDuringPreviousExecution = [&](Blackbox& instance, kits::BBXReport& shown) {
        seen += std::string(&instance == &Blackbox::sharedInstance() ? "old with " : "old elsewhere ")
                + shown.identifier().value_or("?") + ";";
    };
    delegate.blackboxDidDetectCrashDuringPreviousExecutionNoReport = [&](Blackbox&) { seen += "older;"; };
    Blackbox::sharedInstance().setDelegate(delegate);
    BlackboxControllerAdapter adapter(Blackbox::sharedInstance());

    EXPECT_TRUE(adapter.reportingControllerMustInformDelegateOfReports(*controller));
    EXPECT_EQ(handOver(adapter), "keep;");
    EXPECT_EQ(seen, "decide E1;"); // on the calling thread
    EXPECT_EQ(mainQueue.turn(), 1u);
    EXPECT_EQ(seen, "decide E1;old with E1;older;");

    Blackbox::sharedInstance().warnDelegateAboutMethods();
    EXPECT_NE(logged.find("[Blackbox] The Blackbox delegate 'BlackboxDelegate' implements deprecated methods.  Please "
                          "see Blackbox for details."),
              std::string::npos);
}

TEST_F(BlackboxControllerAdapterTest, ADelegateThatIsOnlyToldGetsAReadOnlyReportOnTheMainQueue)
{
    std::optional<kits::BBXReport::Date> crashedOn;
    BlackboxDelegate delegate;
    delegate.blackboxDidDetectReportForLastExecution = [&](kits::BBXReport& shown) {
        crashedOn = shown.crashedOnDate();
    };
    Blackbox::sharedInstance().setDelegate(delegate);
    BlackboxControllerAdapter adapter(Blackbox::sharedInstance());
    EXPECT_FALSE(adapter.reportingControllerMustInformDelegateOfReports(*controller));
    EXPECT_EQ(handOver(adapter), "submit;");
    EXPECT_FALSE(crashedOn);
    EXPECT_EQ(mainQueue.turn(), 1u);
    ASSERT_TRUE(crashedOn);
    EXPECT_EQ(crashedOn->time_since_epoch().count(), 1700000000);
}

TEST_F(BlackboxControllerAdapterTest, SignalsSessionsAndTheCrashCallbackFollowTheDelegate)
{
    int crashes = 0;
    BlackboxDelegate delegate;
    delegate.blackboxEnsureDeliveryOfUnixSignal = [](Blackbox&, int signal) { return signal == SIGABRT; };
    delegate.blackboxCanUseBackgroundSessions = [](Blackbox&) { return false; };
    delegate.blackboxDidDetectCrash = [&crashes](Blackbox&) { ++crashes; };
    Blackbox::sharedInstance().setDelegate(delegate);
    BlackboxControllerAdapter adapter(Blackbox::sharedInstance());
    EXPECT_TRUE(adapter.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGABRT));
    EXPECT_FALSE(adapter.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGSEGV));
    EXPECT_FALSE(adapter.reportingControllerCanUseBackgroundSessions(*controller));
    EXPECT_TRUE(adapter.shouldInstallCrashCallback());

    // The crash callback keeps the delegate of the kit's start.
    Blackbox::sharedInstance().setDelegate({});
    adapter.detectedCrash();
    EXPECT_EQ(crashes, 1);
    EXPECT_FALSE(adapter.reportingControllerEnsureDeliveryOfUnixSignal(*controller, SIGABRT));
}

// The crash reporting controller with a fake delegate, a fake handler installer, a fake prompt
// presenter, a main queue the test turns by hand, a virtual scheduler and a loopback reports server:
// the start's checks and the values handed to the capture, earlier launches' reports through the
// delegate or the urgent road, leftovers in "processing" and "prepared", the prompt, and retries.
#include "kits/crash/bbx_crash_reporting_controller.h"

#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_package_report_operation.h"
#include "kits/crash/blackbox.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_mach_exception.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "foundation/dispatch_queue.h"
#include "foundation/main_bundle.h"
#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/hooks/pinned_certificates_hook.h"
#include "support/loopback_server.h"
#include "support/manual_main_queue.h"
#include "support/multipart_reader.h"
#include "support/scoped_environment.h"
#include "support/suite_certificates.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using foundation::MainBundle;
using foundation::PropertyListDictionary;
using kits::BBXCrashReportingController;
using kits::BBXInternalReport;
using testsupport::eventually;
using testsupport::LoopbackServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const char* reportsPath = "/sdk-api/v1/platforms/mac/apps/org.example.app/reports";

testsupport::ScriptedAnswer answer(int status)
{
    return {status, {}, {{"Content-Type", "application/json"}}, "{}"};
}

class FakeDelegate final : public kits::BBXCrashReportingControllerDelegate {
public:
    bool shouldInstallCrashCallback() override { return crashCallback; }
    void detectedCrash() override { ++crashesDetected; }
    bool reportingControllerCanUseBackgroundSessions(BBXCrashReportingController&) override { return true; }
    bool reportingControllerMustInformDelegateOfReports(BBXCrashReportingController&) override { return mustInform; }
    void reportingControllerDidDetectReportForLastExecution(BBXCrashReportingController&,
                                                            const std::shared_ptr<BBXInternalReport>& report,
                                                            std::function<void(bool)> completion) override
    {
        std::lock_guard lock(mutex);
        handedOver.push_back(report->identifier());
        if (decide)
            completion(decide(report->identifier()));
        else
            pending.push_back(std::move(completion));
    }
    void reportingControllerInternalDidDetectReportForLastExecution(
        BBXCrashReportingController&, const std::shared_ptr<BBXInternalReport>& report) override
    {
        std::lock_guard lock(mutex);
        detected.push_back(report->identifier());
    }
    bool reportingControllerEnsureDeliveryOfUnixSignal(BBXCrashReportingController&, int signal) override
    {
        return signal == deliveredSignal;
    }
    std::optional<std::string> APIKeyForCrashReportingController(BBXCrashReportingController&) override
    {
        return "k3y";
    }
    std::string installIDForCrashReportingController(BBXCrashReportingController&) override { return "install-1"; }
    bool isFirstInstallForCrashReportingController(BBXCrashReportingController&) override { return true; }
    kits::BBXSettings settingsForCrashReportingController(BBXCrashReportingController&) override
    {
        ++settingsAsked;
        return kits::BBXSettings(settings);
    }

    std::vector<std::string> handedOverIds()
    {
        std::lock_guard lock(mutex);
        return handedOver;
    }

    bool crashCallback = false;
    bool mustInform = false;
    int deliveredSignal = 0;
    std::optional<PropertyListDictionary> settings;
    // Answers at once when set; else the completions wait in `pending`.
    std::function<bool(const std::string& identifier)> decide = [](const std::string&) { return true; };
    std::atomic<int> crashesDetected{0};
    std::atomic<int> settingsAsked{0};
    std::mutex mutex;
    std::vector<std::string> handedOver;
    std::vector<std::string> detected;
    std::vector<std::function<void(bool)>> pending;
};

// What the controller handed to the capture, copied.
struct Installed {
    std::string apiKey, reportDirectory, reportIdentifier, installIdentifier, betaToken;
    bool hasObserver = false, hasCallback = false, firstInstall = false;
    std::uint32_t mask = 0, maxCustomExceptions = 0, logBufferSize = 0, maxCustomKeys = 0;
    BBXCrashCallback callback;
};

class BBXCrashReportingControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates.make("bbx-controller-certs"); }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        kits::testhooks::setPinnedCertificates(kits::KSTCertificateArray{
            kits::KSTCreateCertificate(certificates->rootA.der.data(), certificates->rootA.der.size())});
        MainBundle::setCachesDirectory(folder.path() / "caches");
        MainBundle::setApplicationSupportDirectory(folder.path() / "support");
        MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.app"}});
        foundation::setScheduler(scheduler);
        mainQueue.install();
        kits::setKitLogSink([this](std::string_view line) {
            std::lock_guard lock(logMutex);
            logged += std::string(line) + "\n";
        });
        kits::setKitDebugLogging(true);
        fileManager = std::make_shared<kits::BBXFileManager>();
        server.setHandler([](const testsupport::RecordedRequest&) { return answer(200); });
    }
    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "kit log:\n%s", log().c_str());
        if (controller)
            controller->operationQueue()->waitUntilAllOperationsAreFinished();
        server.stop();
        kits::Blackbox::sharedInstance().setPromptPresenter({});
        kits::setKitLogSink({});
        kits::setKitDebugLogging(false);
        kits::testhooks::setPinnedCertificates(std::nullopt);
        foundation::MainQueue::setExecutor(nullptr);
        foundation::setScheduler(nullptr);
        MainBundle::setInfoDictionary(nullptr);
        MainBundle::setCachesDirectory(std::nullopt);
        MainBundle::setApplicationSupportDirectory(std::nullopt);
    }

    void makeController(bool installs = true)
    {
        controller = BBXCrashReportingController::create(fileManager, delegate, [this, installs](const auto& data) {
            installed = Installed{data.apiKey ? data.apiKey : "",
                                  data.reportDirectory,
                                  data.reportIdentifier,
                                  data.installIdentifier,
                                  data.betaToken ? data.betaToken : "",
                                  data.crashObserver != nullptr,
                                  data.crashCallbackTarget.deliverCrashDelegateCallback != nullptr,
                                  data.firstInstall != 0,
                                  data.signalOnlyMachMask,
                                  data.maximumCustomExceptions,
                                  data.logBufferSize,
                                  data.maximumCustomKeys,
                                  data.crashCallbackTarget};
            return installs;
        });
    }
    bool start()
    {
        if (!controller)
            makeController();
        return controller->startWithProfilingMark(0, std::string("beta-token"));
    }
    void settle()
    {
        for (int round = 0; round < 3; ++round) {
            controller->operationQueue()->waitUntilAllOperationsAreFinished();
            mainQueue.turn();
        }
    }

    // An earlier launch's directory in "active" (or another state directory): metadata with its
    // identifier and, for a crash, a signal record.
    fs::path earlierLaunch(const std::string& identifier, bool crash = true, const std::string& under = "")
    {
        const fs::path directory = fs::path(under.empty() ? fileManager->activePath() : under) / identifier;
        fs::create_directories(directory);
        writeFile(directory / "metadata.bbxrecord",
                  R"({"identity":{"api_key":"k3y","session_id":")" + identifier + "\"}}\n");
        if (crash)
            writeFile(directory / "signal.bbxrecord", R"({"signal":{"number":11,"time":1700000000}})"
                                                      "\n");
        return directory;
    }
    // The "report_id" of each POST so far.
    std::vector<std::string> uploadedIds()
    {
        std::vector<std::string> ids;
        for (const auto& request : server.requests()) {
            if (request.method != "POST" || request.path() != reportsPath) {
                ids.push_back("elsewhere: " + request.requestLine);
                continue;
            }
            const auto form = testsupport::readMultipartBody(
                request.body, testsupport::boundaryOf(request.header("Content-Type").value_or("")));
            if (!form.parts) {
                ids.push_back("unreadable: " + form.error);
                continue;
            }
            for (const auto& part : *form.parts) {
                if (part.formName() == "report_id")
                    ids.push_back(part.body);
            }
        }
        return ids;
    }
    std::string log()
    {
        std::lock_guard lock(logMutex);
        return logged;
    }
    std::string currentId() const { return kits::Keystone::sharedSDK().executionIdentifier(); }

    static inline testsupport::SuiteCertificates certificates;
    testsupport::TempFolder folder{"bbx-controller"};
    LoopbackServer server{{&certificates->leafA, {}, std::chrono::seconds(120)}};
    testsupport::ScopedEnvironment environment{{"BlackboxReportsEndpoint", server.url("")}};
    std::shared_ptr<foundation::VirtualScheduler> scheduler = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<FakeDelegate> delegate = std::make_shared<FakeDelegate>();
    std::shared_ptr<kits::BBXFileManager> fileManager;
    std::shared_ptr<BBXCrashReportingController> controller;
    std::optional<Installed> installed;
    testsupport::ManualMainQueue mainQueue;
    std::mutex logMutex;
    std::string logged;
};

} // namespace

TEST_F(BBXCrashReportingControllerTest, StartSetsUpThisLaunchAndHandsItsValuesToTheCapture)
{
    delegate->crashCallback = true;
    delegate->deliveredSignal = SIGBUS;
    delegate->settings =
        PropertyListDictionary{{"session", PropertyListDictionary{{"max_custom_exception_events", std::int64_t{3}},
                                                                  {"log_buffer_size", std::int64_t{1000}}}}};
    ASSERT_TRUE(start());

    ASSERT_TRUE(installed);
    const fs::path own = fs::path(fileManager->activePath()) / currentId();
    EXPECT_EQ(installed->reportDirectory, own.string());
    EXPECT_EQ(installed->reportIdentifier, currentId());
    EXPECT_EQ(installed->apiKey, "k3y");
    EXPECT_EQ(installed->installIdentifier, "install-1");
    EXPECT_EQ(installed->betaToken, "beta-token");
    EXPECT_TRUE(installed->firstInstall);
    EXPECT_FALSE(installed->hasObserver); // the crash-observer path is never installed
    EXPECT_EQ(installed->mask, BBXMachExceptionMaskForSignal(SIGBUS));
    EXPECT_EQ(installed->maxCustomExceptions, 3u);
    EXPECT_EQ(installed->logBufferSize, 1000u);
    ASSERT_TRUE(installed->hasCallback);
    installed->callback.deliverCrashDelegateCallback(installed->callback.target);
    EXPECT_EQ(delegate->crashesDetected.load(), 1);

    EXPECT_TRUE(fs::is_directory(own));
    EXPECT_TRUE(fs::is_directory(fileManager->processingPath()));
    EXPECT_TRUE(fs::is_directory(fileManager->preparedPath()));
    EXPECT_FALSE(fs::exists(fileManager->pendingPath()));
    // The marker lives until the main queue's first turn.
    EXPECT_TRUE(controller->launchFailureMarkerPresent());
    mainQueue.turn();
    EXPECT_FALSE(controller->launchFailureMarkerPresent());
    EXPECT_EQ(delegate->settingsAsked.load(), 1); // asked once, then kept
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(BBXCrashReportingControllerTest, HandlerChecksAndThePromptWarningComeTwoSecondsAfterSetUp)
{
    delegate->settings = PropertyListDictionary{{"features", PropertyListDictionary{{"prompt_enabled", true}}}};
    ASSERT_TRUE(start());
    mainQueue.turn();
    scheduler->advance(foundation::SchedulerDuration(1.9));
    mainQueue.turn();
    EXPECT_EQ(log().find("WARNING: the user prompt feature is enabled"), std::string::npos);
    scheduler->advance(foundation::SchedulerDuration(0.1));
    mainQueue.turn();
    EXPECT_NE(log().find("[Blackbox:Crash] WARNING: the user prompt feature is enabled. As of Blackbox 3.0.0"),
              std::string::npos);
}

TEST_F(BBXCrashReportingControllerTest, StartStopsWithoutBundleIdentifierOrWhenReportingIsDisabled)
{
    MainBundle::setInfoDictionary(PropertyListDictionary{});
    makeController();
    EXPECT_FALSE(start());
    EXPECT_NE(log().find("[Blackbox] An application must have a valid bundle idenifier in its Info.plist"),
              std::string::npos);
    EXPECT_FALSE(installed);

    MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example.app"}});
    fileManager = std::make_shared<kits::BBXFileManager>();
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("A1");
    earlierLaunch("P1", true, fileManager->processingPath());
    fs::create_directories(fileManager->pendingPath());
    writeFile(fs::path(fileManager->pendingPath()) / "x", "x");
    writeFile(fs::path(fileManager->preparedPath()) / "B.multipartmime", "x");
    delegate->settings = PropertyListDictionary{{"features", PropertyListDictionary{{"collect_reports", false}}}};
    controller.reset();
    makeController();
    EXPECT_FALSE(start());
    EXPECT_NE(log().find("[Blackbox:Crash] Reporting is disabled"), std::string::npos);
    EXPECT_FALSE(installed);
    for (const auto& path : {fileManager->activePath(), fileManager->processingPath(), fileManager->pendingPath(),
                             fileManager->preparedPath()})
        EXPECT_TRUE(fileManager->contentsOfDirectory(path).empty()) << path;
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(BBXCrashReportingControllerTest, AFailedInstallationStillHandlesEarlierReports)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    makeController(false);
    EXPECT_FALSE(start());
    EXPECT_NE(log().find("[Blackbox:Crash] Unable to start crash reporter"), std::string::npos);
    EXPECT_EQ(controller->currentReport(), nullptr);
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 1; }, 10.0));
    EXPECT_EQ(uploadedIds(), std::vector<std::string>{"E1"});
}

TEST_F(BBXCrashReportingControllerTest, EarlierReportsGoToTheDelegateWhichDecides)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    earlierLaunch("E2");
    const fs::path declined = earlierLaunch("E3");
    const fs::path quiet = earlierLaunch("E4", false); // no crash, no logged errors: nothing to send
    const fs::path noMetadata = fs::path(fileManager->activePath()) / "E5";
    fs::create_directories(noMetadata);
    writeFile(noMetadata / "signal.bbxrecord", "{}\n");
    delegate->decide = [](const std::string& id) { return id != "E3"; };

    ASSERT_TRUE(start());
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 2; }, 10.0));
    settle();
    auto ids = uploadedIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"E1", "E2"}));
    // This launch's directory is never one of the earlier reports.
    EXPECT_EQ(delegate->handedOverIds(), (std::vector<std::string>{"E1", "E2", "E3"}));
    EXPECT_EQ(delegate->detected, (std::vector<std::string>{"E1", "E2", "E3"}));
    EXPECT_FALSE(fs::exists(declined));
    EXPECT_FALSE(fs::exists(quiet));
    EXPECT_FALSE(fs::exists(noMetadata));
    EXPECT_EQ(fileManager->activePathContents(),
              std::vector<std::string>{fileManager->activePath() + "/" + currentId()});
    EXPECT_TRUE(fileManager->processingPathContents().empty());
    EXPECT_TRUE(eventually([&] { return fileManager->preparedPathContents().empty(); }, 10.0));
}

TEST_F(BBXCrashReportingControllerTest, ADelegateThatNeverAnswersLeavesTheReportForTheNextLaunch)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    const fs::path waiting = earlierLaunch("E1");
    delegate->decide = nullptr;
    ASSERT_TRUE(start());
    settle();
    EXPECT_TRUE(fs::exists(waiting / "metadata.bbxrecord"));
    EXPECT_TRUE(server.requests().empty());
    // An answer that comes late still counts.
    delegate->pending.at(0)(true);
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 1; }, 10.0));
    EXPECT_FALSE(fs::exists(waiting));
}

TEST_F(BBXCrashReportingControllerTest, AfterAnEarlyDeathReportsAreUploadedDuringStart)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    makeController();
    ASSERT_TRUE(controller->createLaunchFailureMarker());
    delegate->decide = nullptr; // the urgent road does not ask the delegate
    ASSERT_TRUE(start());
    // Synchronous: the upload happened before start returned.
    EXPECT_EQ(uploadedIds(), std::vector<std::string>{"E1"});
    EXPECT_TRUE(delegate->handedOverIds().empty());
    EXPECT_EQ(delegate->detected, std::vector<std::string>{"E1"});
    EXPECT_TRUE(fileManager->preparedPathContents().empty());
    EXPECT_TRUE(controller->launchFailureMarkerPresent()); // this launch's own marker, until its first turn
}

TEST_F(BBXCrashReportingControllerTest, TheUrgentRoadIsClosedWhenTheDelegateMustBeToldOrTheSettingsForbidIt)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    makeController();
    ASSERT_TRUE(controller->createLaunchFailureMarker());
    delegate->mustInform = true;
    delegate->decide = nullptr;
    ASSERT_TRUE(start());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(delegate->handedOverIds(), std::vector<std::string>{"E1"});
    EXPECT_FALSE(controller->canProcessUrgentReports());

    testsupport::ScopedEnvironment noUrgent{{"BlackboxUrgentReports", "0"}};
    delegate->mustInform = false;
    EXPECT_FALSE(controller->canProcessUrgentReports());
}

TEST_F(BBXCrashReportingControllerTest, LeftoversInProcessingAndPreparedAreSent)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    const fs::path processing = earlierLaunch("P1", true, fileManager->processingPath());
    const fs::path broken = fs::path(fileManager->processingPath()) / "P2"; // no metadata
    fs::create_directories(broken);
    writeFile(broken / "signal.bbxrecord", "{}\n");
    // A package left by an earlier launch.
    const fs::path packaged = earlierLaunch("R1", true, fileManager->processingPath() + "-src");
    auto packaging = std::make_shared<kits::BBXPackageReportOperation>(
        BBXInternalReport::reportWithPath(packaged.string()), fileManager);
    packaging->start();
    ASSERT_TRUE(packaging->finalPath());
    fs::remove_all(packaged.parent_path());
    delegate->decide = nullptr;

    ASSERT_TRUE(start());
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 2; }, 10.0));
    settle();
    auto ids = uploadedIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"P1", "R1"}));
    // Packaged as it was: no second symbolication.
    for (const auto& request : server.requests())
        EXPECT_EQ(request.body.find(".symbolicated"), std::string::npos);
    EXPECT_FALSE(fs::exists(processing));
    EXPECT_FALSE(fs::exists(broken));
    EXPECT_TRUE(eventually([&] { return fileManager->preparedPathContents().empty(); }, 10.0));
}

TEST_F(BBXCrashReportingControllerTest, FailedSubmissionsAreRetriedEvery600SecondsWithoutLimit)
{
    int answered = 0;
    std::mutex mutex;
    server.setHandler([&](const testsupport::RecordedRequest&) {
        std::lock_guard lock(mutex);
        return answer(++answered <= 2 ? 400 : 200);
    });
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    ASSERT_TRUE(start());
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 1; }, 10.0));
    ASSERT_TRUE(eventually([&] { return scheduler->pendingCount() >= 2; }, 10.0)); // the 2 s checks and a retry
    settle();
    ASSERT_EQ(fileManager->preparedPathContents().size(), 1u);
    const std::string package = fileManager->preparedPathContents()[0];

    scheduler->advance(foundation::SchedulerDuration(599));
    settle();
    EXPECT_EQ(server.requests().size(), 1u);
    scheduler->advance(foundation::SchedulerDuration(1));
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 2; }, 10.0));
    ASSERT_TRUE(eventually([&] { return scheduler->pendingCount() >= 1; }, 10.0));
    settle();
    EXPECT_TRUE(fs::exists(package));
    scheduler->advance(foundation::SchedulerDuration(600));
    ASSERT_TRUE(eventually([&] { return server.requests().size() == 3; }, 10.0));
    EXPECT_TRUE(eventually([&] { return !fs::exists(package); }, 10.0));
    EXPECT_EQ(uploadedIds(), (std::vector<std::string>{"E1", "E1", "E1"}));
}

TEST_F(BBXCrashReportingControllerTest, AlwaysSendCoversTheRestOfTheLaunch)
{
    delegate->settings = PropertyListDictionary{{"features", PropertyListDictionary{{"prompt_enabled", true}}}};
    std::atomic<int> asked{0};
    std::vector<std::string> buttons;
    kits::Blackbox::sharedInstance().setPromptPresenter([&](const kits::BlackboxPrompt& prompt, auto respond) {
        ++asked;
        buttons = prompt.buttons;
        respond(1);
    });
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    earlierLaunch("E1");
    earlierLaunch("E2");
    earlierLaunch("E3");
    delegate->decide = nullptr;
    ASSERT_TRUE(start());
    {
        std::lock_guard lock(delegate->mutex);
        delegate->pending.at(0)(true);
        delegate->pending.at(1)(true);
    }
    ASSERT_TRUE(eventually(
        [&] {
            settle();
            return server.requests().size() == 2;
        },
        10.0));
    EXPECT_GE(asked.load(), 1);
    EXPECT_LE(asked.load(), 2);
    EXPECT_EQ(buttons, (std::vector<std::string>{"Send", "Always Send", "Don't Send"}));
    EXPECT_EQ(controller->promptChoice(), BBXCrashReportingController::alwaysAllowed);
    const int before = asked.load();
    // A report handed over after the choice goes without asking.
    {
        std::lock_guard lock(delegate->mutex);
        delegate->pending.at(2)(true);
    }
    ASSERT_TRUE(eventually(
        [&] {
            settle();
            return server.requests().size() == 3;
        },
        10.0));
    EXPECT_EQ(asked.load(), before);
}

TEST_F(BBXCrashReportingControllerTest, DecliningThePromptRemovesTheReport)
{
    delegate->settings = PropertyListDictionary{{"features", PropertyListDictionary{{"prompt_enabled", true}}}};
    kits::Blackbox::sharedInstance().setPromptPresenter(
        [](const kits::BlackboxPrompt& prompt, auto respond) { respond(prompt.buttons.size() - 1); });
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    const fs::path report = earlierLaunch("E1");
    ASSERT_TRUE(start());
    settle();
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(controller->promptChoice(), BBXCrashReportingController::declined);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(BBXCrashReportingControllerTest, TwoButtonPromptsAndHostsWithoutAPresenter)
{
    makeController();
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    std::vector<std::string> buttons;
    std::size_t press = 1;
    kits::Blackbox::sharedInstance().setPromptPresenter([&](const kits::BlackboxPrompt& prompt, auto respond) {
        buttons = prompt.buttons;
        respond(press);
    });
    const fs::path first = earlierLaunch("E1");
    controller->setupAndDisplayAlert("T", "M", "No", "Yes", std::nullopt, BBXInternalReport::reportWithPath(first));
    settle();
    EXPECT_EQ(buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_FALSE(fs::exists(first)); // the second of two buttons declines
    EXPECT_EQ(controller->promptChoice(), BBXCrashReportingController::declined);

    // Without a presenter the host counts as an extension: sent without asking.
    kits::Blackbox::sharedInstance().setPromptPresenter({});
    delegate->settings = PropertyListDictionary{{"features", PropertyListDictionary{{"prompt_enabled", true}}}};
    controller.reset();
    makeController();
    earlierLaunch("E2");
    ASSERT_TRUE(start());
    ASSERT_TRUE(eventually(
        [&] {
            settle();
            return server.requests().size() == 1;
        },
        10.0));
    EXPECT_EQ(uploadedIds(), std::vector<std::string>{"E2"});
}

TEST_F(BBXCrashReportingControllerTest, TheCrashObserverPathSubmitsACopyOfTheOnlyActiveReport)
{
    ASSERT_TRUE(fileManager->prepareForNewLaunch());
    makeController();
    EXPECT_FALSE(controller->potentiallySubmittableCrashOccurred()); // nothing in "active"
    const fs::path only = earlierLaunch("C1");
    ASSERT_TRUE(controller->potentiallySubmittableCrashOccurred());
    EXPECT_EQ(uploadedIds(), std::vector<std::string>{"C1"});
    EXPECT_TRUE(fs::exists(only)); // the copy went, the directory stays
    earlierLaunch("C2");
    EXPECT_FALSE(controller->attemptCurrentReportSubmission());
}

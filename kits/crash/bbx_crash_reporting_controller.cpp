// The crash kit's launch: start sequence, earlier launches' reports, the permission prompt, submission
// results and retries, application state keys.

#include "kits/crash/bbx_crash_reporting_controller.h"

#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/blackbox.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_mach_exception.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_signal.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/crash/capture/bbx_user_logging.h"
#include "kits/platform/bundle_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_error_description.h"

#include "foundation/application_notifications.h"
#include "foundation/dispatch_queue.h"
#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"

#include <charconv>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace kits {

namespace fs = std::filesystem;

namespace {

constexpr double retryDelaySeconds = 600.0;
constexpr double handlerCheckDelaySeconds = 2.0;

void deliverCrashCallback(void* target)
{
    static_cast<BBXCrashReportingController*>(target)->deliverCrashDelegateCallback();
}

// A double as its shortest decimal text ("12.5", "3").
std::string numberText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

std::shared_ptr<BBXCrashReportingController>
BBXCrashReportingController::create(std::shared_ptr<BBXFileManager> fileManager,
                                    std::weak_ptr<BBXCrashReportingControllerDelegate> delegate,
                                    HandlerInstaller installer)
{
    if (!installer)
        installer = [](const BBXContextInitData& data) { return BBXContextInitialize(&data); };
    std::shared_ptr<BBXCrashReportingController> controller(
        new BBXCrashReportingController(std::move(fileManager), std::move(delegate), std::move(installer)));
    controller->networkClient_ =
        clientWithOperationQueue(controller->operationQueue_, controller->fileManager_, controller->weak_from_this());
    return controller;
}

BBXCrashReportingController::BBXCrashReportingController(std::shared_ptr<BBXFileManager> fileManager,
                                                         std::weak_ptr<BBXCrashReportingControllerDelegate> delegate,
                                                         HandlerInstaller installer)
    : fileManager_(std::move(fileManager)), operationQueue_(std::make_shared<foundation::OperationQueue>(1)),
      delegate_(std::move(delegate)), installer_(std::move(installer))
{}

BBXCrashReportingController::~BBXCrashReportingController() = default;

std::shared_ptr<BBXNetworkClient>
BBXCrashReportingController::clientWithOperationQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                      std::shared_ptr<BBXFileManager> fileManager,
                                                      std::weak_ptr<BBXNetworkClientDelegate> delegate)
{
    return BBXNetworkClient::initWithQueue(std::move(queue), std::move(fileManager), std::move(delegate));
}

std::shared_ptr<BBXReportsController> BBXCrashReportingController::reportsController()
{
    std::lock_guard lock(mutex_);
    if (!reportsController_)
        reportsController_ =
            std::make_shared<BBXReportsController>(operationQueue_, weak_from_this(), networkClient_, fileManager_);
    return reportsController_;
}

bool BBXCrashReportingController::hasReportsController() const
{
    std::lock_guard lock(mutex_);
    return reportsController_ != nullptr;
}

std::shared_ptr<BBXInternalReport> BBXCrashReportingController::currentReport() const
{
    std::lock_guard lock(mutex_);
    return currentReport_;
}

void BBXCrashReportingController::addOperation(std::function<void()> block)
{
    operationQueue_->addOperationWithBlock(std::move(block));
}

void BBXCrashReportingController::recordInternalValue(const std::string& key,
                                                      const foundation::PropertyListValue& value)
{
    if (!BBXContextIsInitialized())
        return;
    BBXContextLoggingQueue()->async([key, value] { BBXUserLoggingRecordInternalKeyValue(&key, &value); });
}

// MARK: start

bool BBXCrashReportingController::startWithProfilingMark(std::uint64_t profilingMark,
                                                         const std::optional<std::string>& betaToken)
{
    if (!checkPreconditions())
        return false;
    if (!settings().crashReportingEnabled()) {
        kitLog("[Blackbox:Crash] Reporting is disabled");
        fileManager_->removeContentsOfAllPaths();
        return false;
    }
    if (!prepareForNewLaunch())
        return false;
    // From here this launch's marker is in place (an earlier launch's serves as it) until the first
    // main-queue turn removes it.
    const bool urgent = checkForAndCreateLaunchMarker();
    // Taken before this launch's directory exists, so it is never among the earlier reports, and
    // before any of this launch's work is queued, so a package this launch makes is not also taken
    // for a leftover and sent twice.
    const std::vector<std::string> earlierReports = fileManager_->activePathContents();
    const std::vector<std::string> leftInProcessing = fileManager_->processingPathContents();
    const std::vector<std::string> leftInPrepared = fileManager_->preparedPathContents();

    std::shared_ptr<BBXInternalReport> report = setupCurrentReport();
    if (!report)
        kitLog("[Blackbox:Crash] Unable to setup a new report");
    if (!startCrashReporterWithAPIKey(APIKey(), betaToken, profilingMark, report)) {
        kitLog("[Blackbox:Crash] Unable to start crash reporter");
        report = nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        currentReport_ = report;
    }
    processExistingReportPaths(earlierReports, urgent);
    handleExistingFilesInProcessing(leftInProcessing);
    handleExistingFilesInPrepared(leftInPrepared);

    recordInternalValue("com.faultmere.kit-start-time", numberText(BBXProfileEnd(profilingMark)));
    return report != nullptr;
}

bool BBXCrashReportingController::checkPreconditions()
{
    if (bundleIdentifier().empty()) {
        kitLog("[Blackbox] An application must have a valid bundle idenifier in its Info.plist");
        return false;
    }
    return true;
}

bool BBXCrashReportingController::prepareForNewLaunch()
{
    // The legacy tree must be gone before the new directories are made in its place.
    fileManager_->removeLegacyDirectories();
    return fileManager_->prepareForNewLaunch();
}

std::shared_ptr<BBXInternalReport> BBXCrashReportingController::setupCurrentReport()
{
    const std::string identifier = Keystone::sharedSDK().executionIdentifier();
    const auto path = fileManager_->setupNewPathForExecutionIdentifier(identifier);
    if (!path)
        return nullptr;
    return BBXInternalReport::reportWithPath(*path, identifier);
}

bool BBXCrashReportingController::startCrashReporterWithAPIKey(const std::optional<std::string>& APIKey,
                                                               const std::optional<std::string>& betaToken,
                                                               std::uint64_t profilingMark,
                                                               const std::shared_ptr<BBXInternalReport>& report)
{
    if (!report)
        return false;
    const auto delegate = delegate_.lock();
    const BBXSettings current = settings();
    const std::string installID = installIdentifier();
    BBXContextInitData data;
    data.apiKey = APIKey ? APIKey->c_str() : nullptr;
    data.crashObserver = nullptr;
    data.firstInstall = firstInstall() ? 1 : 0;
    if (delegate && delegate->shouldInstallCrashCallback())
        data.crashCallbackTarget = {deliverCrashCallback, this};
    data.customBundleIdentifier = nullptr;
    data.reportDirectory = report->path().c_str();
    data.reportIdentifier = report->identifier().c_str();
    data.installIdentifier = installID.c_str();
    data.betaToken = betaToken ? betaToken->c_str() : nullptr;
    data.signalOnlyMachMask = machExceptionMask();
    data.errorReportingEnabled = current.errorReportingEnabled() ? 1 : 0;
    data.customExceptionsEnabled = current.customExceptionsEnabled() ? 1 : 0;
    data.maximumCustomExceptions = current.maxCustomExceptions();
    data.errorLogBufferSize = current.errorLogBufferSize();
    data.logBufferSize = current.logBufferSize();
    data.maximumCustomKeys = current.maxCustomKeys();
    if (!installCrashReportingHandlers(data))
        return false;
    crashReportingSetupCompleted(profilingMark);
    return true;
}

bool BBXCrashReportingController::installCrashReportingHandlers(const BBXContextInitData& data)
{
    if (!installer_(data))
        return false;
    setupStateNotifications();
    return true;
}

void BBXCrashReportingController::crashReportingSetupCompleted(std::uint64_t profilingMark)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    foundation::scheduler()->after(foundation::SchedulerDuration(handlerCheckDelaySeconds), [weak] {
        foundation::MainQueue::async([weak] {
            BBXExceptionCheckHandlers();
            BBXSignalCheckHandlers();
            if (const auto self = weak.lock())
                self->checkForUserPromptSetting();
        });
    });
    foundation::MainQueue::async([weak, profilingMark] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->removeLaunchFailureMarker();
        self->recordInternalValue("com.faultmere.first-run-loop-time", numberText(BBXProfileEnd(profilingMark)));
    });
}

// MARK: reports of earlier launches

void BBXCrashReportingController::processExistingReportPaths(const std::vector<std::string>& paths, bool urgent)
{
    for (const auto& path : paths)
        processExistingActiveReportPath(path, urgent);
}

void BBXCrashReportingController::processExistingActiveReportPath(const std::string& path, bool urgent)
{
    const auto report = BBXInternalReport::reportWithPath(path);
    if (!report || !report->needsToBeSubmitted()) {
        addOperation([fileManager = fileManager_, path] { fileManager->removeItemAtPath(path); });
        return;
    }
    const auto delegate = delegate_.lock();
    if (delegate)
        delegate->reportingControllerInternalDidDetectReportForLastExecution(*this, report);
    if (urgent && canProcessUrgentReports()) {
        reportsController()->prepareAndSubmitReport(report, true, true);
        return;
    }
    if (!delegate) {
        handleDelegateCompletionForReport(report, true);
        return;
    }
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    delegate->reportingControllerDidDetectReportForLastExecution(*this, report, [weak, report](bool submit) {
        if (const auto self = weak.lock())
            self->handleDelegateCompletionForReport(report, submit);
    });
}

void BBXCrashReportingController::handleDelegateCompletionForReport(const std::shared_ptr<BBXInternalReport>& report,
                                                                    bool submit)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    addOperation([weak, report, submit] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (!submit) {
            kitDebugLog("[Blackbox:Crash] Removing report at request of delegate");
            self->removeReport(report);
        } else if (self->needsToPrompt()) {
            self->displayPermissionAlertForReport(report);
        } else {
            self->reportsController()->prepareAndSubmitReport(report, false, true);
        }
    });
}

void BBXCrashReportingController::removeReport(const std::shared_ptr<BBXInternalReport>& report)
{
    if (report)
        fileManager_->removeItemAtPath(report->path());
}

// MARK: leftovers

void BBXCrashReportingController::handleExistingFilesInProcessing(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    addOperation([weak, paths] {
        const auto self = weak.lock();
        if (!self)
            return;
        for (const auto& path : paths) {
            const auto report = BBXInternalReport::reportWithPath(path);
            if (!report) {
                // Without metadata it can never become a report: kept, it would be tried at every launch.
                self->fileManager_->removeItemAtPath(path);
                continue;
            }
            self->reportsController()->prepareAndSubmitReport(report, false, false);
        }
    });
}

void BBXCrashReportingController::handleExistingFilesInPrepared(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    networkClient_->attemptToReconnectBackgroundSessionWithCompletionBlock([weak, paths] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->addOperation([weak, paths] {
            if (const auto strong = weak.lock())
                strong->uploadPreexistingFiles(paths);
        });
    });
}

void BBXCrashReportingController::uploadPreexistingFiles(const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        std::error_code error;
        if (fs::exists(path, error))
            reportsController()->uploadPackagedReportAtPath(path, false);
    }
}

void BBXCrashReportingController::retryUploadForReportAtPath(const std::string& path)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    BBXDispatchAfterSecondsOnGlobalQueue(operationQueue_, retryDelaySeconds, [weak, path] {
        const auto self = weak.lock();
        if (!self)
            return;
        kitDebugLog("[Blackbox:Crash] re-attempting report submission");
        self->reportsController()->uploadPackagedReportAtPath(path, false);
    });
}

// MARK: permission prompt

void BBXCrashReportingController::displayPermissionAlertForReport(const std::shared_ptr<BBXInternalReport>& report)
{
    // A host without a prompt presenter is an extension: it cannot ask, so the report goes.
    if (BBXApplicationIsExtension() || !Blackbox::sharedInstance().promptPresenter()) {
        std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
        addOperation([weak, report] {
            if (const auto self = weak.lock())
                self->reportsController()->prepareAndSubmitReport(report, false, true);
        });
        return;
    }
    const BBXSettings current = settings();
    std::string title = current.interactivePromptTitle();
    std::string message = current.interactivePromptMessage();
    std::string cancel = current.interactivePromptCancelTitle();
    std::string send = current.interactivePromptSendTitle();
    std::optional<std::string> alwaysSend = current.interactivePromptAlwaysSendTitle();
    kitDebugLog("[Blackbox:Crash] Displaying permission alert");
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    foundation::MainQueue::async([weak, title, message, cancel, send, alwaysSend, report] {
        if (const auto self = weak.lock())
            self->setupAndDisplayAlert(title, message, cancel, send, alwaysSend, report);
    });
}

void BBXCrashReportingController::setupAndDisplayAlert(const std::string& title, const std::string& message,
                                                       const std::string& cancel, const std::string& send,
                                                       const std::optional<std::string>& alwaysSend,
                                                       const std::shared_ptr<BBXInternalReport>& report)
{
    const auto choice = promptChoice_.load();
    if (choice == allowed || choice == alwaysAllowed) {
        handlePromptCompleteForReport(report, true, false);
        return;
    }
    if (choice == declined) {
        handlePromptCompleteForReport(report, false, false);
        return;
    }
    const BlackboxPromptPresenter presenter = Blackbox::sharedInstance().promptPresenter();
    if (!presenter) {
        handlePromptCompleteForReport(report, true, false);
        return;
    }
    const BlackboxPrompt prompt = BlackboxPrompt::make(title, message, cancel, send, alwaysSend);
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    presenter(prompt, [weak, prompt, report](std::size_t buttonIndex) {
        const auto self = weak.lock();
        if (!self)
            return;
        const BlackboxPrompt::Answer answer = prompt.answerForButton(buttonIndex);
        self->handlePromptCompleteForReport(report, answer != BlackboxPrompt::Answer::cancel,
                                            answer == BlackboxPrompt::Answer::alwaysSend);
    });
}

void BBXCrashReportingController::handlePromptCompleteForReport(const std::shared_ptr<BBXInternalReport>& report,
                                                                bool shouldSubmit, bool shouldMarkAlwaysSubmit)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    addOperation([weak, report, shouldSubmit, shouldMarkAlwaysSubmit] {
        const auto self = weak.lock();
        if (!self)
            return;
        if (!shouldSubmit) {
            self->promptChoice_.store(declined);
            kitDebugLog("[Blackbox:Crash] Removing report at request of user");
            self->removeReport(report);
            return;
        }
        self->reportsController()->prepareAndSubmitReport(report, false, true);
        self->promptChoice_.store(shouldMarkAlwaysSubmit ? alwaysAllowed : allowed);
        if (shouldMarkAlwaysSubmit)
            kitLog("should set always submit here");
    });
}

// MARK: launch marker

std::string BBXCrashReportingController::launchFailureMarkerPath() const
{
    return (fs::path(fileManager_->structurePath()) / "launchmarker").string();
}

bool BBXCrashReportingController::createLaunchFailureMarker() const
{
    const int fd = ::open(launchFailureMarkerPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool BBXCrashReportingController::launchFailureMarkerPresent() const
{
    return ::access(launchFailureMarkerPath().c_str(), F_OK) == 0;
}

bool BBXCrashReportingController::removeLaunchFailureMarker() const
{
    return ::unlink(launchFailureMarkerPath().c_str()) == 0;
}

bool BBXCrashReportingController::checkForAndCreateLaunchMarker()
{
    if (launchFailureMarkerPresent()) {
        if (Keystone::sharedSDK().debug())
            kitLog("[Blackbox:Crash] Last launch failed: this may indicate a crash shortly after app launch.");
        return true;
    }
    createLaunchFailureMarker();
    return false;
}

// MARK: application state

void BBXCrashReportingController::setupStateNotifications()
{
    captureInitialNotificationStates();
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    auto& center = foundation::NotificationCenter::defaultCenter();
    willBecomeActiveToken_ =
        center.addObserver(foundation::ApplicationWillBecomeActiveNotification, nullptr, [weak](const auto&) {
            if (const auto self = weak.lock())
                self->willBecomeActive();
        });
    didResignActiveToken_ =
        center.addObserver(foundation::ApplicationDidResignActiveNotification, nullptr, [weak](const auto&) {
            if (const auto self = weak.lock())
                self->didBecomeInactive();
        });
}

void BBXCrashReportingController::captureInitialNotificationStates()
{
    recordInternalValue("com.faultmere.in-background", std::string("0"));
}

void BBXCrashReportingController::willBecomeActive()
{
    recordInternalValue("com.faultmere.in-background", false);
}

void BBXCrashReportingController::didBecomeInactive()
{
    recordInternalValue("com.faultmere.in-background", true);
}

// MARK: crash time

std::uint32_t BBXCrashReportingController::machExceptionMask()
{
    std::uint32_t mask = 0;
    const auto delegate = delegate_.lock();
    if (!delegate)
        return mask;
    BBXSignalEnumerateFatalSignals([&](std::size_t, int signal) {
        if (delegate->reportingControllerEnsureDeliveryOfUnixSignal(*this, signal))
            mask |= BBXMachExceptionMaskForSignal(signal);
    });
    return mask;
}

void BBXCrashReportingController::deliverCrashDelegateCallback()
{
    if (const auto delegate = delegate_.lock())
        delegate->detectedCrash();
}

// MARK: decisions and the delegate's values

void BBXCrashReportingController::checkForUserPromptSetting()
{
    if (settings().userPromptEnabled() && !delegateNeedsToBeInformedOfReports())
        kitLog("[Blackbox:Crash] WARNING: the user prompt feature is enabled. As of Blackbox 3.0.0, implementing a "
               "user prompt is the application's responsibility. See Blackbox's notes about "
               "-blackboxDidDetectReportForLastExecution:completionHandler:");
}

bool BBXCrashReportingController::packagingEnabled()
{
    return settings().shouldPackageReports();
}

bool BBXCrashReportingController::delegateNeedsToBeInformedOfReports()
{
    const auto delegate = delegate_.lock();
    return delegate && delegate->reportingControllerMustInformDelegateOfReports(*this);
}

bool BBXCrashReportingController::canProcessUrgentReports()
{
    return settings().canProcessUrgentReports() && !needsToPrompt() && !delegateNeedsToBeInformedOfReports();
}

bool BBXCrashReportingController::needsToPrompt()
{
    const auto choice = promptChoice_.load();
    if (choice == allowed || choice == alwaysAllowed)
        return false;
    return settings().userPromptEnabled();
}

bool BBXCrashReportingController::firstInstall()
{
    const auto delegate = delegate_.lock();
    return delegate && delegate->isFirstInstallForCrashReportingController(*this);
}

std::string BBXCrashReportingController::installIdentifier()
{
    const auto delegate = delegate_.lock();
    return delegate ? delegate->installIDForCrashReportingController(*this) : std::string();
}

std::optional<std::string> BBXCrashReportingController::APIKey()
{
    const auto delegate = delegate_.lock();
    return delegate ? delegate->APIKeyForCrashReportingController(*this) : std::nullopt;
}

BBXSettings BBXCrashReportingController::settings()
{
    {
        std::lock_guard lock(mutex_);
        if (settings_)
            return *settings_;
    }
    const auto delegate = delegate_.lock();
    BBXSettings asked = delegate ? delegate->settingsForCrashReportingController(*this) : BBXSettings(std::nullopt);
    std::lock_guard lock(mutex_);
    if (!settings_)
        settings_ = std::move(asked);
    return *settings_;
}

std::string BBXCrashReportingController::bundleIdentifier() const
{
    return KSTEscapedBundleIdentifier().value_or(std::string());
}

// MARK: the reports controller's and the network client's delegate

BBXSettings BBXCrashReportingController::settingsForReportsController(BBXReportsController&)
{
    return settings();
}

std::optional<std::string> BBXCrashReportingController::APIKeyForReportsController(BBXReportsController&)
{
    return APIKey();
}

std::string BBXCrashReportingController::bundleIdentifierForReportsController(BBXReportsController&)
{
    return bundleIdentifier();
}

void BBXCrashReportingController::reportsControllerDidCompletePackageSubmission(
    BBXReportsController&, const std::string& packagePath, const std::optional<foundation::Error>& error)
{
    if (!error) {
        kitDebugLog("[Blackbox:Crash] report submission successful");
        return;
    }
    const std::string description = KSTErrorDescription(*error);
    kitDebugLog("[Blackbox:Crash] report submission failed with error " + description);
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: failed to submit report '%s'\n", description.c_str());
    retryUploadForReportAtPath(packagePath);
}

void BBXCrashReportingController::reportsControllerDidCompleteAllSubmissions(BBXReportsController&)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    addOperation([weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        {
            std::lock_guard lock(self->mutex_);
            self->reportsController_.reset();
        }
        kitDebugLog("[Blackbox:Crash] report submission complete");
    });
}

bool BBXCrashReportingController::networkClientCanUseBackgroundSessions(BBXNetworkClient&)
{
    const auto delegate = delegate_.lock();
    return delegate && delegate->reportingControllerCanUseBackgroundSessions(*this);
}

void BBXCrashReportingController::networkClientDidFinishUploadWithPath(BBXNetworkClient&, const std::string& path,
                                                                       const std::optional<foundation::Error>& error)
{
    reportsController()->reportUploadAtPathCompletedWithError(path, error);
}

// MARK: crash observer

bool BBXCrashReportingController::potentiallySubmittableCrashOccurred()
{
    if (!canProcessUrgentReports())
        return false;
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Attempting submission\n");
    try {
        return attemptCurrentReportSubmission();
    } catch (...) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Last effort exception\n");
    }
    return false;
}

bool BBXCrashReportingController::attemptCurrentReportSubmission()
{
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Attempting to submit the current report\n");
    const std::vector<std::string> active = fileManager_->activePathContents();
    if (active.size() != 1) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] More than one directory in active - cannot submit\n");
        return false;
    }
    const std::string copy = active.front() + "-submit";
    std::error_code error;
    fs::copy(active.front(), copy, fs::copy_options::recursive, error);
    const auto report = error ? nullptr : BBXInternalReport::reportWithPath(copy);
    if (!report) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to copy report for submission\n");
        return false;
    }
    return reportsController()->prepareAndSubmitReport(report, true, true);
}

} // namespace kits

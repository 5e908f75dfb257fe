// Runs the crash kit for one launch: at start it sets up the report tree and this launch's report
// directory, installs the capture, and then deals with what earlier launches left: directories in
// "active" go to the delegate (and the user, when the settings ask) and are processed, packaged and
// uploaded through the reports controller; directories in "processing" are packaged; packages in
// "prepared" are uploaded. A launch marker tells the next launch that this one died before its first
// main-queue turn, whose reports are then handled at once during start. Failed uploads are retried
// every 600 seconds for as long as the launch runs.
#pragma once

#include "kits/crash/bbx_network_client.h"
#include "kits/crash/bbx_reports_controller.h"
#include "kits/crash/bbx_settings.h"

#include "foundation/notification_center.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct BBXContextInitData;

namespace foundation {
class OperationQueue;
}

namespace kits {

class BBXCrashReportingController;
class BBXFileManager;
class BBXInternalReport;

class BBXCrashReportingControllerDelegate {
public:
    virtual ~BBXCrashReportingControllerDelegate() = default;
    virtual bool shouldInstallCrashCallback() = 0;
    // On the crashing thread, during the capture.
    virtual void detectedCrash() = 0;
    virtual bool reportingControllerCanUseBackgroundSessions(BBXCrashReportingController& controller) = 0;
    virtual bool reportingControllerMustInformDelegateOfReports(BBXCrashReportingController& controller) = 0;
    // `completionHandler` may be called from any thread, at any time, or never (the report then stays
    // in "active" for the next launch).
    virtual void
    reportingControllerDidDetectReportForLastExecution(BBXCrashReportingController& controller,
                                                       const std::shared_ptr<BBXInternalReport>& report,
                                                       std::function<void(bool submit)> completionHandler) = 0;
    virtual void
    reportingControllerInternalDidDetectReportForLastExecution(BBXCrashReportingController& controller,
                                                               const std::shared_ptr<BBXInternalReport>& report) = 0;
    virtual bool reportingControllerEnsureDeliveryOfUnixSignal(BBXCrashReportingController& controller, int signal) = 0;
    virtual std::optional<std::string> APIKeyForCrashReportingController(BBXCrashReportingController& controller) = 0;
    virtual std::string installIDForCrashReportingController(BBXCrashReportingController& controller) = 0;
    virtual bool isFirstInstallForCrashReportingController(BBXCrashReportingController& controller) = 0;
    virtual BBXSettings settingsForCrashReportingController(BBXCrashReportingController& controller) = 0;
};

class BBXCrashReportingController final : public BBXNetworkClientDelegate,
                                          public BBXReportsControllerDelegate,
                                          public std::enable_shared_from_this<BBXCrashReportingController> {
public:
    // Installs the capture; BBXContextInitialize unless a test replaces it.
    using HandlerInstaller = std::function<bool(const BBXContextInitData& data)>;
    // The user's answer for the rest of the launch.
    enum PromptChoice : std::int64_t { notAsked = 0, declined = 1, allowed = 2, alwaysAllowed = 3 };

    static std::shared_ptr<BBXCrashReportingController>
    create(std::shared_ptr<BBXFileManager> fileManager, std::weak_ptr<BBXCrashReportingControllerDelegate> delegate,
           HandlerInstaller installer = {});
    ~BBXCrashReportingController() override;
    BBXCrashReportingController(const BBXCrashReportingController&) = delete;
    BBXCrashReportingController& operator=(const BBXCrashReportingController&) = delete;

    static std::shared_ptr<BBXNetworkClient> clientWithOperationQueue(std::shared_ptr<foundation::OperationQueue> queue,
                                                                      std::shared_ptr<BBXFileManager> fileManager,
                                                                      std::weak_ptr<BBXNetworkClientDelegate> delegate);

    const std::shared_ptr<BBXFileManager>& fileManager() const { return fileManager_; }
    const std::shared_ptr<BBXNetworkClient>& networkClient() const { return networkClient_; }
    // The one-at-a-time queue every background step runs on.
    const std::shared_ptr<foundation::OperationQueue>& operationQueue() const { return operationQueue_; }
    // Made on first use; released when all submissions completed.
    std::shared_ptr<BBXReportsController> reportsController();
    bool hasReportsController() const;
    PromptChoice promptChoice() const { return static_cast<PromptChoice>(promptChoice_.load()); }

    // On the caller's (main) thread: true when this launch's report directory exists and the capture
    // was installed for it.
    bool startWithProfilingMark(std::uint64_t profilingMark, const std::optional<std::string>& betaToken);
    bool startCrashReporterWithAPIKey(const std::optional<std::string>& APIKey,
                                      const std::optional<std::string>& betaToken, std::uint64_t profilingMark,
                                      const std::shared_ptr<BBXInternalReport>& report);
    bool installCrashReportingHandlers(const BBXContextInitData& data);
    void crashReportingSetupCompleted(std::uint64_t profilingMark);

    bool checkPreconditions();
    bool prepareForNewLaunch();
    std::shared_ptr<BBXInternalReport> setupCurrentReport();
    // This launch's report; none before start or when its set-up failed.
    std::shared_ptr<BBXInternalReport> currentReport() const;

    void processExistingReportPaths(const std::vector<std::string>& paths, bool urgent);
    void processExistingActiveReportPath(const std::string& path, bool urgent);
    void handleDelegateCompletionForReport(const std::shared_ptr<BBXInternalReport>& report, bool submit);
    void removeReport(const std::shared_ptr<BBXInternalReport>& report);

    // Packages and sends these directories of "processing" (without processing them again).
    void handleExistingFilesInProcessing(const std::vector<std::string>& paths);
    // Sends these packages of "prepared" that still exist.
    void handleExistingFilesInPrepared(const std::vector<std::string>& paths);
    void uploadPreexistingFiles(const std::vector<std::string>& paths);
    void retryUploadForReportAtPath(const std::string& path);

    void displayPermissionAlertForReport(const std::shared_ptr<BBXInternalReport>& report);
    // Main thread. A missing always-send title gives two buttons, the second declining.
    void setupAndDisplayAlert(const std::string& title, const std::string& message, const std::string& cancel,
                              const std::string& send, const std::optional<std::string>& alwaysSend,
                              const std::shared_ptr<BBXInternalReport>& report);
    void handlePromptCompleteForReport(const std::shared_ptr<BBXInternalReport>& report, bool shouldSubmit,
                                       bool shouldMarkAlwaysSubmit);

    std::string launchFailureMarkerPath() const;
    bool createLaunchFailureMarker() const;
    bool launchFailureMarkerPresent() const;
    bool removeLaunchFailureMarker() const;
    // True when the marker was present (the last launch died early); creates it otherwise.
    bool checkForAndCreateLaunchMarker();

    void setupStateNotifications();
    void captureInitialNotificationStates();
    void willBecomeActive();
    void didBecomeInactive();

    std::uint32_t machExceptionMask();
    // The capture core's crash callback: the delegate's detectedCrash, on the crashing thread.
    void deliverCrashDelegateCallback();

    void checkForUserPromptSetting();
    bool packagingEnabled();
    bool delegateNeedsToBeInformedOfReports();
    bool canProcessUrgentReports();
    bool needsToPrompt();
    bool firstInstall();
    std::string installIdentifier();
    std::optional<std::string> APIKey();
    // Asked from the delegate once and kept.
    BBXSettings settings();
    std::string bundleIdentifier() const;

    // The reports controller's delegate.
    BBXSettings settingsForReportsController(BBXReportsController& controller) override;
    std::optional<std::string> APIKeyForReportsController(BBXReportsController& controller) override;
    std::string bundleIdentifierForReportsController(BBXReportsController& controller) override;
    void reportsControllerDidCompletePackageSubmission(BBXReportsController& controller, const std::string& packagePath,
                                                       const std::optional<foundation::Error>& error) override;
    void reportsControllerDidCompleteAllSubmissions(BBXReportsController& controller) override;

    // The network client's delegate.
    bool networkClientCanUseBackgroundSessions(BBXNetworkClient& client) override;
    void networkClientDidFinishUploadWithPath(BBXNetworkClient& client, const std::string& path,
                                              const std::optional<foundation::Error>& error) override;

    // A last-moment upload of this launch's report while it crashes. The capture core would call it
    // through the crash observer, which this controller never installs.
    bool potentiallySubmittableCrashOccurred();
    bool attemptCurrentReportSubmission();

private:
    BBXCrashReportingController(std::shared_ptr<BBXFileManager> fileManager,
                                std::weak_ptr<BBXCrashReportingControllerDelegate> delegate,
                                HandlerInstaller installer);
    void addOperation(std::function<void()> block);
    void recordInternalValue(const std::string& key, const foundation::PropertyListValue& value);

    std::shared_ptr<BBXFileManager> fileManager_;
    std::shared_ptr<BBXNetworkClient> networkClient_;
    mutable std::mutex mutex_; // the reports controller, the settings and the current report
    std::shared_ptr<BBXReportsController> reportsController_;
    std::shared_ptr<foundation::OperationQueue> operationQueue_;
    std::optional<BBXSettings> settings_;
    std::atomic<std::int64_t> promptChoice_{notAsked};
    std::weak_ptr<BBXCrashReportingControllerDelegate> delegate_;
    HandlerInstaller installer_;
    std::shared_ptr<BBXInternalReport> currentReport_;
    foundation::ObserverToken willBecomeActiveToken_;
    foundation::ObserverToken didResignActiveToken_;
};

} // namespace kits

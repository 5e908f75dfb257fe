// The crash kit's start and its answers to the crash reporting controller: the host's optional
// delegate translated into the controller's questions, and reports of earlier launches handed to it.

#include "kits/analytics/tally.h"
#include "kits/crash/bbx_beta_controller.h"
#include "kits/crash/bbx_crash_reporting_controller.h"
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_report.h"
#include "kits/crash/blackbox.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "foundation/dispatch_queue.h"

namespace kits {

// The controllers' delegate. The host's delegate is taken when the kit starts, so the crash callback
// reads it without a lock on the crashing thread; the other answers read the current one.
class BlackboxControllerAdapter final : public BBXCrashReportingControllerDelegate, public BBXBetaControllerDelegate {
public:
    explicit BlackboxControllerAdapter(Blackbox& blackbox) : blackbox_(blackbox), delegateAtStart_(blackbox.delegate())
    {}

    bool shouldInstallCrashCallback() override { return static_cast<bool>(delegateAtStart_->blackboxDidDetectCrash); }
    void detectedCrash() override
    {
        if (delegateAtStart_->blackboxDidDetectCrash)
            delegateAtStart_->blackboxDidDetectCrash(blackbox_);
    }
    bool reportingControllerCanUseBackgroundSessions(BBXCrashReportingController&) override
    {
        const auto delegate = blackbox_.delegate();
        if (delegate->blackboxCanUseBackgroundSessions)
            return delegate->blackboxCanUseBackgroundSessions(blackbox_);
        return !BBXApplicationIsExtension();
    }
    bool reportingControllerMustInformDelegateOfReports(BBXCrashReportingController&) override
    {
        const auto delegate = blackbox_.delegate();
        return delegate->blackboxDidDetectReportForLastExecutionCompletionHandler
               || delegate->implementsDeprecatedMethods();
    }
    void reportingControllerDidDetectReportForLastExecution(BBXCrashReportingController& controller,
                                                            const std::shared_ptr<BBXInternalReport>& internalReport,
                                                            std::function<void(bool)> completionHandler) override;
    void reportingControllerInternalDidDetectReportForLastExecution(
        BBXCrashReportingController&, const std::shared_ptr<BBXInternalReport>& internalReport) override
    {
        const BBXReport report(internalReport);
        if (!report.isCrash().value_or(false))
            return;
        const auto created = report.dateCreated();
        foundation::MainQueue::async([created] {
            Tally::logPreviousSessionCrashedOnDate(created ? std::optional<foundation::Date>(*created) : std::nullopt);
        });
    }
    bool reportingControllerEnsureDeliveryOfUnixSignal(BBXCrashReportingController&, int signal) override
    {
        const auto delegate = blackbox_.delegate();
        return delegate->blackboxEnsureDeliveryOfUnixSignal
               && delegate->blackboxEnsureDeliveryOfUnixSignal(blackbox_, signal);
    }
    std::optional<std::string> APIKeyForCrashReportingController(BBXCrashReportingController&) override
    {
        return blackbox_.APIKey();
    }
    std::string installIDForCrashReportingController(BBXCrashReportingController&) override
    {
        return blackbox_.installID();
    }
    bool isFirstInstallForCrashReportingController(BBXCrashReportingController&) override
    {
        return blackbox_.isFirstInstall();
    }
    BBXSettings settingsForCrashReportingController(BBXCrashReportingController&) override
    {
        return BBXSettings(Keystone::sharedSDK().settings());
    }
    std::optional<std::string> APIKeyForBetaController(BBXBetaController&) override { return blackbox_.APIKey(); }
    BBXSettings settingsForBetaController(BBXBetaController&) override
    {
        return BBXSettings(Keystone::sharedSDK().settings());
    }

private:
    Blackbox& blackbox_;
    const std::shared_ptr<const BlackboxDelegate> delegateAtStart_;
};

void BlackboxControllerAdapter::reportingControllerDidDetectReportForLastExecution(
    BBXCrashReportingController& controller, const std::shared_ptr<BBXInternalReport>& internalReport,
    std::function<void(bool)> completionHandler)
{
    const auto delegate = blackbox_.delegate();
    Blackbox& blackbox = blackbox_;
    std::shared_ptr<BBXReport> report;
    if (delegate->blackboxDidDetectReportForLastExecution) {
        report = std::make_shared<BBXReport>(internalReport, true);
        foundation::MainQueue::async(
            [delegate, report] { delegate->blackboxDidDetectReportForLastExecution(*report); });
    }
    if (!reportingControllerMustInformDelegateOfReports(controller)) {
        completionHandler(true);
        return;
    }
    if (!report)
        report = std::make_shared<BBXReport>(internalReport);
    if (delegate->blackboxDidDetectReportForLastExecutionCompletionHandler)
        delegate->blackboxDidDetectReportForLastExecutionCompletionHandler(*report, std::move(completionHandler));
    else
        completionHandler(true);
    foundation::MainQueue::async([delegate, report, &blackbox] {
        if (delegate->blackboxDidDetectCrashDuringPreviousExecution)
            delegate->blackboxDidDetectCrashDuringPreviousExecution(blackbox, *report);
        if (delegate->blackboxDidDetectCrashDuringPreviousExecutionNoReport)
            delegate->blackboxDidDetectCrashDuringPreviousExecutionNoReport(blackbox);
    });
}

void Blackbox::start()
{
    if (started_.exchange(true))
        return;
    const std::uint64_t profilingMark = BBXProfileMark();
    kitLog("[Blackbox] Version 3.8.4 (121)");
    if (Keystone::sharedSDK().debug())
        kitLog("[Blackbox] Running on " + KSTHostModelName().value_or("(null)") + ", " + KSTHostOSDisplayVersion()
               + " (" + KSTHostOSBuildVersion().value_or("(null)") + ")");
    foundation::MainQueue::async([this] { warnDelegateAboutMethods(); });
    auto fileManager = std::make_shared<BBXFileManager>();
    controllerAdapter_ = std::make_shared<BlackboxControllerAdapter>(*this);
    if (BBXBetaController::isBetaSupported()) {
        betaController_ = BBXBetaController::create(controllerAdapter_);
        if (!betaController_->start())
            kitLog("[Blackbox] Beta could not be initialized");
    }
    const std::optional<std::string> betaToken = betaController_ ? betaController_->betaToken() : std::nullopt;

    crashReportingController_ = BBXCrashReportingController::create(fileManager, controllerAdapter_);
    controllerCreated_.store(true);
    if (!crashReportingController_->startWithProfilingMark(profilingMark, betaToken))
        kitLog("[Blackbox] Crash reporting could not be initialized");

    Tally::sharedInstance().startWithBetaToken(betaToken);
}

bool Blackbox::isBlackboxStarted() const
{
    return controllerCreated_.load();
}

std::shared_ptr<BBXCrashReportingController> Blackbox::crashReportingController() const
{
    return controllerCreated_.load() ? crashReportingController_ : nullptr;
}

std::shared_ptr<BBXBetaController> Blackbox::betaController() const
{
    return controllerCreated_.load() ? betaController_ : nullptr;
}

bool Blackbox::delegateRespondsToLegacyMethods() const
{
    return delegate()->implementsDeprecatedMethods();
}

void Blackbox::warnDelegateAboutMethods() const
{
    const auto current = delegate();
    if (current->implementsDeprecatedMethods())
        kitLog("[Blackbox] The Blackbox delegate '" + std::string("BlackboxDelegate")
               + "' implements deprecated methods.  Please see Blackbox for details.");
    if (current->blackboxCanUseBackgroundSessions && BBXApplicationIsExtension()
        && current->blackboxCanUseBackgroundSessions(const_cast<Blackbox&>(*this)))
        kitLog("[Blackbox] Background sessions are not supported in extensions. Please see Blackbox.h for details.");
}

} // namespace kits

// The crash kit's start and its answers to its controllers.

#include "kits/analytics/tally.h"
#include "kits/crash/bbx_beta_controller.h"
#include "kits/crash/bbx_crash_reporting_controller.h"
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_report.h"
#include "kits/crash/blackbox.h"
#include "kits/crash/blackbox_controller_adapter.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"

#include "foundation/dispatch_queue.h"

namespace kits {

BlackboxControllerAdapter::BlackboxControllerAdapter(Blackbox& blackbox)
    : blackbox_(blackbox), delegateAtStart_(blackbox.delegate())
{}

bool BlackboxControllerAdapter::shouldInstallCrashCallback()
{
    return static_cast<bool>(delegateAtStart_->blackboxDidDetectCrash);
}

void BlackboxControllerAdapter::detectedCrash()
{
    if (delegateAtStart_->blackboxDidDetectCrash)
        delegateAtStart_->blackboxDidDetectCrash(blackbox_);
}

bool BlackboxControllerAdapter::reportingControllerCanUseBackgroundSessions(BBXCrashReportingController&)
{
    const auto delegate = blackbox_.delegate();
    if (delegate->blackboxCanUseBackgroundSessions)
        return delegate->blackboxCanUseBackgroundSessions(blackbox_);
    return !BBXApplicationIsExtension();
}

bool BlackboxControllerAdapter::reportingControllerMustInformDelegateOfReports(BBXCrashReportingController&)
{
    const auto delegate = blackbox_.delegate();
    return delegate->blackboxDidDetectReportForLastExecutionCompletionHandler
           || delegate->implementsDeprecatedMethods();
}

void BlackboxControllerAdapter::reportingControllerInternalDidDetectReportForLastExecution(
    BBXCrashReportingController&, const std::shared_ptr<BBXInternalReport>& internalReport)
{
    const BBXReport report(internalReport);
    if (!report.isCrash().value_or(false))
        return;
    const auto created = report.dateCreated();
    foundation::MainQueue::async([created] {
        Tally::logPreviousSessionCrashedOnDate(created ? std::optional<foundation::Date>(*created) : std::nullopt);
    });
}

bool BlackboxControllerAdapter::reportingControllerEnsureDeliveryOfUnixSignal(BBXCrashReportingController&, int signal)
{
    const auto delegate = blackbox_.delegate();
    return delegate->blackboxEnsureDeliveryOfUnixSignal
           && delegate->blackboxEnsureDeliveryOfUnixSignal(blackbox_, signal);
}

std::optional<std::string> BlackboxControllerAdapter::APIKeyForCrashReportingController(BBXCrashReportingController&)
{
    return blackbox_.APIKey();
}

std::string BlackboxControllerAdapter::installIDForCrashReportingController(BBXCrashReportingController&)
{
    return blackbox_.installID();
}

bool BlackboxControllerAdapter::isFirstInstallForCrashReportingController(BBXCrashReportingController&)
{
    return blackbox_.isFirstInstall();
}

BBXSettings BlackboxControllerAdapter::settingsForCrashReportingController(BBXCrashReportingController&)
{
    return BBXSettings(Keystone::sharedSDK().settings());
}

std::optional<std::string> BlackboxControllerAdapter::APIKeyForBetaController(BBXBetaController&)
{
    return blackbox_.APIKey();
}

BBXSettings BlackboxControllerAdapter::settingsForBetaController(BBXBetaController&)
{
    return BBXSettings(Keystone::sharedSDK().settings());
}

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

// The crash kit's answers to its controllers: the host's optional delegate translated into the
// crash reporting controller's and the beta controller's questions, and reports of earlier launches
// handed to it. The crash callback uses the delegate as it was when the adapter was made (at kit
// start), so the crashing thread reads it without a lock; every other answer reads the current one.
#pragma once

#include "kits/crash/bbx_beta_controller.h"
#include "kits/crash/bbx_crash_reporting_controller.h"
#include "kits/crash/blackbox_delegate.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class Blackbox;

class BlackboxControllerAdapter final : public BBXCrashReportingControllerDelegate, public BBXBetaControllerDelegate {
public:
    explicit BlackboxControllerAdapter(Blackbox& blackbox);

    bool shouldInstallCrashCallback() override;
    void detectedCrash() override;
    // The delegate's answer; without one, yes outside an application extension.
    bool reportingControllerCanUseBackgroundSessions(BBXCrashReportingController& controller) override;
    // The delegate decides about reports itself, or implements a deprecated method.
    bool reportingControllerMustInformDelegateOfReports(BBXCrashReportingController& controller) override;
    // Hands a report to the delegate's callbacks (the completion one on this thread, the others on the
    // main queue); the report is sent unless a delegate that decides says no.
    void reportingControllerDidDetectReportForLastExecution(BBXCrashReportingController& controller,
                                                            const std::shared_ptr<BBXInternalReport>& internalReport,
                                                            std::function<void(bool)> completionHandler) override;
    // A crash of the last launch is logged to the analytics kit on the main queue, dated by its start.
    void reportingControllerInternalDidDetectReportForLastExecution(
        BBXCrashReportingController& controller, const std::shared_ptr<BBXInternalReport>& internalReport) override;
    bool reportingControllerEnsureDeliveryOfUnixSignal(BBXCrashReportingController& controller, int signal) override;
    std::optional<std::string> APIKeyForCrashReportingController(BBXCrashReportingController& controller) override;
    std::string installIDForCrashReportingController(BBXCrashReportingController& controller) override;
    bool isFirstInstallForCrashReportingController(BBXCrashReportingController& controller) override;
    // The kit platform's settings as they are now.
    BBXSettings settingsForCrashReportingController(BBXCrashReportingController& controller) override;
    std::optional<std::string> APIKeyForBetaController(BBXBetaController& controller) override;
    BBXSettings settingsForBetaController(BBXBetaController& controller) override;

private:
    Blackbox& blackbox_;
    const std::shared_ptr<const BlackboxDelegate> delegateAtStart_;
};

} // namespace kits

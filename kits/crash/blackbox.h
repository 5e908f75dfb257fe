// The crash kit's public class. The host passes Blackbox::kitClass() to Keystone::with (or calls a
// startWithAPIKey form), which starts the kit and, beside it, the analytics kit. Its calls record the
// user's identity, custom keys, errors and non-fatal exceptions into the running launch's report.
#pragma once

#include "foundation/error.h"
#include "foundation/property_list.h"
#include "kits/analytics/tly_event.h"
#include "kits/crash/blackbox_delegate.h"
#include "kits/crash/capture/bbx_stack_frame.h"
#include "kits/platform/kit_class.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class BBXBetaController;
class BBXCrashReportingController;
class BlackboxControllerAdapter;

class Blackbox {
public:
    // The one instance per process, created on first use.
    static Blackbox& sharedInstance();
    // The kit as the kit platform starts it ("Blackbox"); registers it and Tally, which the platform
    // adds after it.
    static KitClass kitClass();

    // Ends the process at once by a processor trap; never returns.
    [[noreturn]] void crash();

    // Starts crash reporting for this launch and then the analytics kit; later calls do nothing.
    void start();
    // From the creation of the crash reporting controller on, whether or not its start succeeded.
    bool isBlackboxStarted() const;
    // None before start.
    std::shared_ptr<BBXCrashReportingController> crashReportingController() const;
    // None before start and where beta is not supported.
    std::shared_ptr<BBXBetaController> betaController() const;
    // Logs the delegate's deprecated methods and background sessions asked for in an extension.
    void warnDelegateAboutMethods() const;
    bool delegateRespondsToLegacyMethods() const;

    // The host's delegate; set it before the kit starts (a later one misses the start's callbacks and
    // is warned about). Readers get the delegate as it was when they asked: never null.
    void setDelegate(BlackboxDelegate delegate);
    std::shared_ptr<const BlackboxDelegate> delegate() const;
    // How the kit asks the user before sending a report; empty (the default): no prompt is shown.
    void setPromptPresenter(BlackboxPromptPresenter presenter);
    BlackboxPromptPresenter promptPresenter() const;

    // Sets the kit platform's API key and starts the platform with this kit (and the delegate, when
    // one is given); only the platform's first start counts. The delay is ignored (deprecated).
    static Blackbox& startWithAPIKey(const std::string& APIKey);
    static Blackbox& startWithAPIKey(const std::string& APIKey, std::optional<BlackboxDelegate> delegate);
    static Blackbox& startWithAPIKeyAfterDelay(const std::string& APIKey, double delay);
    static Blackbox& startWithAPIKeyAfterDelay(const std::string& APIKey, std::optional<BlackboxDelegate> delegate,
                                               double delay);

    std::optional<std::string> APIKey() const;
    // The identifier of an older kit's defaults when they have one, else the platform's.
    std::string installID() const;
    bool isFirstInstall() const;
    std::optional<std::string> getHistoricInstallID() const;
    // The older kit's defaults, "com.faultmere/BBXUserDefaults.plist" in the application-support folder.
    std::optional<foundation::PropertyListDictionary> attemptToLoadMacHistoricDefaults() const;

    // Turns the kit platform's debug mode (the kits' informational log lines) on or off.
    void setDebugMode(bool debugMode);
    bool debugMode() const;

    // Raises the capture's test exception, which ends the process as an uncaught exception.
    [[noreturn]] void throwException();

    // Into the launch's internal store (none removes the value). Nothing before the kit has started.
    void setUserIdentifier(const std::optional<std::string>& identifier);
    void setUserName(const std::optional<std::string>& name);
    void setUserEmail(const std::optional<std::string>& email);
    void setDevelopmentPlatformName(const std::optional<std::string>& name);
    void setDevelopmentPlatformVersion(const std::optional<std::string>& version);
    // Write-only: logged and none.
    std::optional<std::string> developmentPlatformName() const;
    std::optional<std::string> developmentPlatformVersion() const;

    // Into the launch's user store (none removes the key).
    void setObjectValueForKey(const std::optional<foundation::PropertyListValue>& value, const std::string& key);
    void setIntValueForKey(std::int32_t value, const std::string& key);
    void setBoolValueForKey(bool value, const std::string& key);
    void setFloatValueForKey(float value, const std::string& key);

    // A logged (non-fatal) error, with the caller's stack, when error reporting is on.
    void recordError(const foundation::Error& error,
                     const std::optional<foundation::PropertyListDictionary>& additionalUserInfo = std::nullopt);
    // A non-fatal custom exception with the caller's frames.
    void recordCustomExceptionName(const std::string& name, const std::string& reason,
                                   const std::vector<::BBXStackFrame>& frameArray);
    // A web page's script error as its error handler posts it: {msg, url, line, column}. Anything but
    // a dictionary is logged and dropped.
    void recordJavaScriptError(const foundation::PropertyListValue& body);

    // A custom analytics event.
    void logEvent(const std::string& name, const std::optional<Attributes>& attributes = std::nullopt);

    Blackbox(const Blackbox&) = delete;
    Blackbox& operator=(const Blackbox&) = delete;

private:
    Blackbox() = default;

    std::atomic<bool> started_ = false;
    mutable std::mutex hostMutex_;
    std::shared_ptr<const BlackboxDelegate> delegate_ = std::make_shared<BlackboxDelegate>();
    BlackboxPromptPresenter promptPresenter_;
    // Set once by start(), read from any thread afterwards.
    std::shared_ptr<BlackboxControllerAdapter> controllerAdapter_;
    std::shared_ptr<BBXCrashReportingController> crashReportingController_;
    std::shared_ptr<BBXBetaController> betaController_;
    std::atomic<bool> controllerCreated_ = false;
};

} // namespace kits

// The crash kit's shared instance, its identity for the kit platform, the host's calls into the
// launch's stores and the deliberate crashes.

#include "kits/crash/blackbox.h"

#include "foundation/main_bundle.h"
#include "foundation/property_list_file.h"
#include "kits/analytics/tally.h"
#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_user_logging.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_value_description.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kits {

namespace fs = std::filesystem;

Blackbox& Blackbox::sharedInstance()
{
    // Never destroyed: the kits' threads may still reach it while the process exits.
    static auto* instance = new Blackbox();
    return *instance;
}

KitClass Blackbox::kitClass()
{
    KitClass kit{
        .name = "Blackbox",
        .conformsToKSTKit = true,
        .bundleIdentifier = "com.mirrowick.blackbox.mac",
        .kitDisplayVersion = "3.8.4",
        .initializeIfNeeded = [] { sharedInstance().start(); },
        .sharedInstance = {},
    };
    // Registered here, where the host asks for it (a static library drops unreferenced initialisers),
    // with the analytics kit, which the kit platform adds after this one.
    KitRegistry::registerKitClass(kit);
    Tally::kitClass();
    return kit;
}

void Blackbox::setDelegate(BlackboxDelegate delegate)
{
    {
        std::lock_guard lock(hostMutex_);
        delegate_ = std::make_shared<const BlackboxDelegate>(std::move(delegate));
    }
    if (started_.load())
        kitLog("[Blackbox] Warning, setting delegate after start. Make sure to set the Blackbox delegate before "
               "calling startWithAPIKey:.., or +[Keystone with...] to avoid missing some delegate callbacks.");
}

std::shared_ptr<const BlackboxDelegate> Blackbox::delegate() const
{
    std::lock_guard lock(hostMutex_);
    return delegate_;
}

void Blackbox::setPromptPresenter(BlackboxPromptPresenter presenter)
{
    std::lock_guard lock(hostMutex_);
    promptPresenter_ = std::move(presenter);
}

BlackboxPromptPresenter Blackbox::promptPresenter() const
{
    std::lock_guard lock(hostMutex_);
    return promptPresenter_;
}

void Blackbox::crash()
{
    __builtin_trap();
}

Blackbox& Blackbox::startWithAPIKey(const std::string& APIKey)
{
    return startWithAPIKey(APIKey, std::nullopt);
}

Blackbox& Blackbox::startWithAPIKey(const std::string& APIKey, std::optional<BlackboxDelegate> delegate)
{
    auto& blackbox = sharedInstance();
    if (delegate)
        blackbox.setDelegate(std::move(*delegate));
    Keystone::sharedSDK().setAPIKey(APIKey);
    Keystone::with({kitClass()});
    return blackbox;
}

Blackbox& Blackbox::startWithAPIKeyAfterDelay(const std::string& APIKey, double)
{
    kitLog("[Blackbox] Warning, startWithAPIKey:afterDelay: is deprecated.");
    return startWithAPIKey(APIKey, std::nullopt);
}

Blackbox& Blackbox::startWithAPIKeyAfterDelay(const std::string& APIKey, std::optional<BlackboxDelegate> delegate,
                                              double)
{
    kitLog("[Blackbox] Warning, startWithAPIKey:delegate:afterDelay: is deprecated.");
    return startWithAPIKey(APIKey, std::move(delegate));
}

std::optional<std::string> Blackbox::APIKey() const
{
    return Keystone::sharedSDK().APIKey();
}

std::string Blackbox::installID() const
{
    if (auto historic = getHistoricInstallID())
        return *historic;
    return Keystone::sharedSDK().installID();
}

bool Blackbox::isFirstInstall() const
{
    return Keystone::sharedSDK().isFirstInstall();
}

std::optional<std::string> Blackbox::getHistoricInstallID() const
{
    const auto defaults = attemptToLoadMacHistoricDefaults();
    const auto* identifier = defaults ? defaults->get<std::string>(KSTInstallationUUIDKey) : nullptr;
    if (!identifier || identifier->empty())
        return std::nullopt;
    return *identifier;
}

std::optional<foundation::PropertyListDictionary> Blackbox::attemptToLoadMacHistoricDefaults() const
{
    const auto path = foundation::MainBundle::applicationSupportDirectory() / "com.faultmere" / "BBXUserDefaults.plist";
    std::error_code error;
    if (!fs::exists(path, error) || fs::is_directory(path, error))
        return std::nullopt;
    std::ifstream stream(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    auto parsed = foundation::propertyListFromBytes(bytes);
    if (!parsed) {
        kitLog("[Blackbox] Unable to read " + path.string() + ": " + parsed.error);
        return std::nullopt;
    }
    if (auto* dictionary = parsed.value->get<foundation::PropertyListDictionary>())
        return std::move(*dictionary);
    return std::nullopt;
}

void Blackbox::setDebugMode(bool debugMode)
{
    // Debug mode changes what the kits log, nothing else.
    Keystone::sharedSDK().setDebug(debugMode);
    if (debugMode && started_.load())
        kitLog("[Blackbox] Warning, consider enabling debug mode before starting Blackbox");
}

bool Blackbox::debugMode() const
{
    return Keystone::sharedSDK().debug();
}

void Blackbox::throwException()
{
    BBXExceptionRaiseTestException();
}

namespace {

void recordInternal(const char* key, const std::optional<std::string>& value)
{
    const std::string name(key);
    const std::optional<foundation::PropertyListValue> boxed =
        value ? std::optional<foundation::PropertyListValue>(*value) : std::nullopt;
    BBXUserLoggingRecordInternalKeyValue(&name, boxed ? &*boxed : nullptr);
}

} // namespace

void Blackbox::setUserIdentifier(const std::optional<std::string>& identifier)
{
    recordInternal("com.faultmere.user-id", identifier);
}

void Blackbox::setUserName(const std::optional<std::string>& name)
{
    recordInternal("com.faultmere.user-name", name);
}

void Blackbox::setUserEmail(const std::optional<std::string>& email)
{
    recordInternal("com.faultmere.user-email", email);
}

void Blackbox::setDevelopmentPlatformName(const std::optional<std::string>& name)
{
    recordInternal("com.faultmere.development-platform-name", name);
}

void Blackbox::setDevelopmentPlatformVersion(const std::optional<std::string>& version)
{
    recordInternal("com.faultmere.development-platform-version", version);
}

std::optional<std::string> Blackbox::developmentPlatformName() const
{
    kitLog("[Blackbox] developmentPlatformName is write-only");
    return std::nullopt;
}

std::optional<std::string> Blackbox::developmentPlatformVersion() const
{
    kitLog("[Blackbox] developmentPlatformVersion is write-only");
    return std::nullopt;
}

void Blackbox::setObjectValueForKey(const std::optional<foundation::PropertyListValue>& value, const std::string& key)
{
    BBXUserLoggingRecordUserKeyValue(&key, value ? &*value : nullptr);
}

void Blackbox::setIntValueForKey(std::int32_t value, const std::string& key)
{
    setObjectValueForKey(foundation::PropertyListValue(std::int64_t{value}), key);
}

void Blackbox::setBoolValueForKey(bool value, const std::string& key)
{
    setObjectValueForKey(foundation::PropertyListValue(value), key);
}

void Blackbox::setFloatValueForKey(float value, const std::string& key)
{
    // Through the float's own shortest text, so 0.1f is recorded as "0.1", not as its binary double.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double widened = value;
    std::from_chars(buffer, written.ptr, widened);
    setObjectValueForKey(foundation::PropertyListValue(widened), key);
}

void Blackbox::recordError(const foundation::Error& error,
                           const std::optional<foundation::PropertyListDictionary>& additionalUserInfo)
{
    BBXUserLoggingRecordError(&error, additionalUserInfo ? &*additionalUserInfo : nullptr);
}

void Blackbox::recordCustomExceptionName(const std::string& name, const std::string& reason,
                                         const std::vector<::BBXStackFrame>& frameArray)
{
    // Written before the call returns, so the records may point into the caller's frames and texts.
    const auto records = BBXExceptionFramesFromStackFrames(frameArray);
    BBXExceptionRecord(BBXExceptionTypeCustom, name.c_str(), reason.c_str(), records.data(), records.size(), false);
}

void Blackbox::recordJavaScriptError(const foundation::PropertyListValue& body)
{
    const auto* message = body.get<foundation::PropertyListDictionary>();
    if (!message) {
        kitLog("[Blackbox] Unable to record exception from WKWebView");
        return;
    }
    // A page may post any value as its message: one that is not text is recorded as its description.
    const auto* msg = message->find("msg");
    const std::optional<std::string> reason = msg ? std::optional(KSTValueDescription(*msg)) : std::nullopt;
    BBXExceptionRecord(BBXExceptionTypeJavaScript, "exception", reason ? reason->c_str() : nullptr, nullptr, 0, false);
}

void Blackbox::logEvent(const std::string& name, const std::optional<Attributes>& attributes)
{
    Tally::logCustomEvent(name, attributes);
}

} // namespace kits

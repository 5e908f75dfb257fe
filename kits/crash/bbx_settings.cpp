// Crash kit settings over the downloaded dictionary, the main bundle and the environment.

#include "kits/crash/bbx_settings.h"

#include "kits/platform/bundle_functions.h"
#include "kits/platform/kit_log.h"

#include "foundation/main_bundle.h"

#include <cmath>
#include <cstdlib>

namespace kits {

namespace {

bool configurationSwitch(const char* key)
{
    const auto value = BBXSettings::valueForConfigurationKey(key);
    return value && KSTBoolValue(*value);
}

} // namespace

BBXSettings::BBXSettings(std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary)
    : settingsDictionary_(std::move(settingsDictionary))
{}

BBXSettings::BBXSettings(std::optional<foundation::PropertyListDictionary> settingsDictionary)
    : settingsDictionary_(
        settingsDictionary ? std::make_shared<const foundation::PropertyListDictionary>(std::move(*settingsDictionary))
                           : nullptr)
{}

std::optional<foundation::PropertyListDictionary> BBXSettings::configuration()
{
    const auto value = foundation::MainBundle::objectForInfoDictionaryKey("Blackbox");
    const auto* dictionary = value ? value->get<foundation::PropertyListDictionary>() : nullptr;
    return dictionary ? std::optional(*dictionary) : std::nullopt;
}

foundation::PropertyListDictionary BBXSettings::defaultConfiguration()
{
    return {{"ReportsEndpoint", ""},
            {"BetaEndpoint", ""},
            {"PackageReports", true},
            {"SubmitReports", true},
            {"UrgentReports", true}};
}

std::optional<foundation::PropertyListValue> BBXSettings::valueForConfigurationKey(const std::string& key)
{
    if (const char* overridden = std::getenv(("Blackbox" + key).c_str())) {
        kitLog("[Blackbox:Crash] override: '" + key + "' => '" + overridden + "'");
        return foundation::PropertyListValue(std::string(overridden));
    }
    if (const auto configured = configuration()) {
        if (const auto* value = configured->find(key))
            return *value;
    }
    const auto defaults = defaultConfiguration();
    if (const auto* value = defaults.find(key))
        return *value;
    return std::nullopt;
}

bool BBXSettings::shouldPackageReports() const
{
    return configurationSwitch("PackageReports");
}

bool BBXSettings::shouldSubmitReports() const
{
    return configurationSwitch("SubmitReports");
}

bool BBXSettings::canProcessUrgentReports() const
{
    return configurationSwitch("UrgentReports");
}

const foundation::PropertyListValue* BBXSettings::nestedValue(const char* section, const char* key) const
{
    if (!settingsDictionary_)
        return nullptr;
    const auto* group = settingsDictionary_->get<foundation::PropertyListDictionary>(section);
    const auto* value = group ? group->find(key) : nullptr;
    return value && !value->isNull() ? value : nullptr;
}

bool BBXSettings::boolean(const char* section, const char* key, bool fallback) const
{
    const auto* value = nestedValue(section, key);
    return value ? KSTBoolValue(*value) : fallback;
}

std::uint32_t BBXSettings::unsigned32(const char* section, const char* key, std::uint32_t fallback) const
{
    const auto* value = nestedValue(section, key);
    if (!value)
        return fallback;
    // The platform's unsigned 32-bit reading of a number: integers wrap, reals are cut toward zero.
    if (const auto* integer = value->get<std::int64_t>())
        return static_cast<std::uint32_t>(*integer);
    if (const auto* real = value->get<double>())
        return std::isfinite(*real) && std::fabs(*real) < 9.2e18
                   ? static_cast<std::uint32_t>(static_cast<std::int64_t>(*real))
                   : fallback;
    if (const auto* flag = value->get<bool>())
        return *flag ? 1 : 0;
    if (const auto* text = value->get<std::string>())
        return static_cast<std::uint32_t>(std::strtoll(text->c_str(), nullptr, 10));
    return fallback;
}

bool BBXSettings::crashReportingEnabled() const
{
    return boolean("features", "collect_reports", true);
}

bool BBXSettings::errorReportingEnabled() const
{
    return boolean("features", "collect_logged_exceptions", true);
}

bool BBXSettings::customExceptionsEnabled() const
{
    return errorReportingEnabled();
}

bool BBXSettings::userPromptEnabled() const
{
    return boolean("features", "prompt_enabled", false);
}

std::uint32_t BBXSettings::logBufferSize() const
{
    return unsigned32("session", "log_buffer_size", 65536);
}

std::uint32_t BBXSettings::errorLogBufferSize() const
{
    return logBufferSize();
}

std::uint32_t BBXSettings::maxCustomExceptions() const
{
    return unsigned32("session", "max_custom_exception_events", 16);
}

std::uint32_t BBXSettings::maxCustomKeys() const
{
    return unsigned32("session", "max_custom_key_value_pairs", 16);
}

double BBXSettings::betaSuspendDuration() const
{
    const auto* value = nestedValue("beta", "update_suspend_duration");
    if (const auto* integer = value ? value->get<std::int64_t>() : nullptr)
        return static_cast<double>(*integer);
    if (const auto* real = value ? value->get<double>() : nullptr)
        return *real;
    return 3600;
}

std::string BBXSettings::promptValueForSettingsKey(const std::string& settingsKey, const std::string& localizedKey,
                                                   const std::string& defaultValue) const
{
    const auto* value = nestedValue("prompt", settingsKey.c_str());
    const auto* text = value ? value->get<std::string>() : nullptr;
    return foundation::MainBundle::localizedString(localizedKey, text ? *text : defaultValue, "Blackbox");
}

std::string BBXSettings::interactivePromptTitle() const
{
    return promptValueForSettingsKey("title", "BlackboxCrashSubmissionPromptTitle", "Send Crash Report?");
}

std::string BBXSettings::interactivePromptMessage() const
{
    return promptValueForSettingsKey(
        "message", "BlackboxCrashSubmissionPromptMessage",
        "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}

std::string BBXSettings::interactivePromptCancelTitle() const
{
    return promptValueForSettingsKey("cancel_button_title", "BlackboxCrashSubmissionCancelTitle", "Don't Send");
}

std::string BBXSettings::interactivePromptSendTitle() const
{
    return promptValueForSettingsKey("send_button_title", "BlackboxCrashSubmissionSendTitle", "Send");
}

std::string BBXSettings::interactivePromptAlwaysSendTitle() const
{
    return promptValueForSettingsKey("always_send_button_title", "BlackboxCrashSubmissionAlwaysSendTitle",
                                     "Always Send");
}

} // namespace kits

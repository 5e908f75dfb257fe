// Loading the cached settings and building the settings URL.
#include "kits/platform/kst_settings.h"

#include "foundation/property_list_json.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_url_builder.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace kits {

KSTSettings::KSTSettings(std::filesystem::path settingsPath) : settingsPath_(std::move(settingsPath)) {}

std::mutex& KSTSettings::fileMutex()
{
    static std::mutex* mutex = new std::mutex; // settings may be read while the process exits
    return *mutex;
}

std::shared_ptr<const foundation::PropertyListDictionary> KSTSettings::settingsDictionary()
{
    std::lock_guard lock(mutex_);
    if (settingsDictionary_)
        return settingsDictionary_;
    std::lock_guard fileLock(fileMutex());
    std::ifstream file(settingsPath_, std::ios::binary);
    if (!file)
        return nullptr; // nothing held: a later read tries again
    std::ostringstream text;
    text << file.rdbuf();
    file.close();
    auto parsed = foundation::propertyListFromJSON(text.str());
    std::string reason = parsed.error;
    if (parsed) {
        if (auto* dictionary = parsed.value->get<foundation::PropertyListDictionary>()) {
            settingsDictionary_ = std::make_shared<const foundation::PropertyListDictionary>(std::move(*dictionary));
            return settingsDictionary_;
        }
        // The kits read the settings as a dictionary; any other document is as unusable as bad JSON.
        reason = "the settings are a JSON " + std::string(foundation::propertyListKindName(*parsed.value))
                 + ", not an object";
    }
    kitLog("[Keystone] Could not load settings with error: " + reason);
    std::error_code ignored;
    std::filesystem::remove(settingsPath_, ignored);
    return nullptr;
}

void KSTSettings::clearSettingsDictionary()
{
    std::lock_guard lock(mutex_);
    settingsDictionary_.reset();
}

std::optional<foundation::PropertyListDictionary> KSTSettings::appSettings()
{
    const auto settings = settingsDictionary();
    const auto* app = settings ? settings->get<foundation::PropertyListDictionary>("app") : nullptr;
    return app ? std::optional<foundation::PropertyListDictionary>(*app) : std::nullopt;
}

std::optional<std::string> KSTSettings::appStatus()
{
    const auto app = appSettings();
    const std::string* status = app ? app->get<std::string>("status") : nullptr;
    return status ? std::optional<std::string>(*status) : std::nullopt;
}

bool KSTSettings::appNeedsOnboarding()
{
    return appStatus() == "new";
}

bool KSTSettings::appUpdateRequired()
{
    const auto app = appSettings();
    const foundation::PropertyListValue* value = app ? app->find("update_required") : nullptr;
    if (!value)
        return false;
    if (const bool* flag = value->get<bool>())
        return *flag;
    if (const auto* integer = value->get<std::int64_t>())
        return *integer != 0;
    if (const double* real = value->get<double>())
        return *real != 0;
    return false;
}

std::optional<std::string> KSTSettings::settingsURLForEndpoint(const std::optional<std::string>& endpoint,
                                                               const std::optional<std::string>& appInstanceIdentifier,
                                                               const std::optional<std::string>& appIconHash)
{
    const auto identifier = appBundleIdentifier();
    if (!endpoint || endpoint->empty() || !identifier)
        return std::nullopt;
    auto builder = KSTURLBuilder::URLWithBase(*endpoint);
    builder.appendComponent("/spi/v2/platforms/");
    builder.escapeAndAppendComponent(appPlatform());
    builder.appendComponent("/apps/");
    builder.escapeAndAppendComponent(*identifier);
    builder.appendComponent("/settings");
    // Missing values are left out, so each parameter is added only when there is text.
    auto addText = [&builder](const std::optional<std::string>& text, std::string_view name) {
        if (text)
            builder.appendValueForQueryParam(foundation::PropertyListValue(*text), name);
    };
    addText(appBuildVersion(), "build_version");
    addText(appDisplayVersion(), "display_version");
    addText(appInstanceIdentifier, "instance");
    addText(appIconHash, "icon_hash");
    builder.appendValueForQueryParam(foundation::PropertyListValue(appSource()), "source");
    return builder.URL();
}

} // namespace kits

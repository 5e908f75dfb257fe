// The crash kit's read-only view of its configuration: the downloaded kit settings (feature switches,
// limits, prompt texts; none before a first download) and, for endpoints and pipeline switches, a
// lookup through the process environment ("Blackbox" + key), the information dictionary's "Blackbox"
// entry and built-in defaults. Endpoints are configuration: their defaults are empty.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kits {

class BBXSettings {
public:
    // Keystone::sharedSDK().settings() as it is now: nullptr before any download.
    explicit BBXSettings(std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary);
    explicit BBXSettings(std::optional<foundation::PropertyListDictionary> settingsDictionary);

    // nullptr when there are none.
    const foundation::PropertyListDictionary* settingsDictionary() const { return settingsDictionary_.get(); }

    // The information dictionary's "Blackbox" dictionary; none when absent.
    static std::optional<foundation::PropertyListDictionary> configuration();
    // "ReportsEndpoint", "BetaEndpoint" (empty), "PackageReports", "SubmitReports", "UrgentReports" (YES).
    static foundation::PropertyListDictionary defaultConfiguration();
    // The environment's "Blackbox<key>" (logged as an override), else configuration(), else the defaults.
    static std::optional<foundation::PropertyListValue> valueForConfigurationKey(const std::string& key);

    bool shouldPackageReports() const;
    bool shouldSubmitReports() const;
    bool canProcessUrgentReports() const;

    bool crashReportingEnabled() const;
    bool errorReportingEnabled() const;
    bool customExceptionsEnabled() const;
    bool userPromptEnabled() const;
    std::uint32_t logBufferSize() const;
    std::uint32_t errorLogBufferSize() const;
    std::uint32_t maxCustomExceptions() const;
    std::uint32_t maxCustomKeys() const;
    double betaSuspendDuration() const;

    std::string interactivePromptTitle() const;
    std::string interactivePromptMessage() const;
    std::string interactivePromptCancelTitle() const;
    std::string interactivePromptSendTitle() const;
    std::string interactivePromptAlwaysSendTitle() const;
    // "prompt"/`settingsKey` when it is text, else `defaultValue`; then the host's "Blackbox" strings
    // table's `localizedKey`, which wins when it has one.
    std::string promptValueForSettingsKey(const std::string& settingsKey, const std::string& localizedKey,
                                          const std::string& defaultValue) const;

private:
    const foundation::PropertyListValue* nestedValue(const char* section, const char* key) const;
    bool boolean(const char* section, const char* key, bool fallback) const;
    std::uint32_t unsigned32(const char* section, const char* key, std::uint32_t fallback) const;

    std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary_;
};

} // namespace kits

// The kits' settings as the settings service last sent them, cached in "settings.json": loaded on
// first read and kept until cleared, so any thread may read a snapshot while the settings manager
// clears it after a download. A file that is no JSON object is logged, deleted and read as none.
// Also the facts the settings request and the onboarding derive from the settings and the bundle.
#pragma once

#include "foundation/property_list.h"
#include "kits/platform/bundle_functions.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kits {

class KSTSettings {
public:
    explicit KSTSettings(std::filesystem::path settingsPath);

    const std::filesystem::path& settingsPath() const { return settingsPath_; }
    // The held dictionary, else the file's (then held); nullptr when there is no file or it cannot be
    // read as a JSON object, which is logged and the file deleted.
    std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary();
    // Drops the held dictionary; the next read loads the file again.
    void clearSettingsDictionary();

    // "app" when it is an object; a value of another kind (also null) counts as absent.
    std::optional<foundation::PropertyListDictionary> appSettings();
    // "status" of "app" when it is text.
    std::optional<std::string> appStatus();
    bool appNeedsOnboarding();
    // "update_required" of "app" when it is a Boolean or a number (not zero); false otherwise.
    bool appUpdateRequired();

    static std::string appPlatform() { return "mac"; }
    static std::optional<std::string> appBundleIdentifier() { return KSTEscapedBundleIdentifier(); }
    static std::optional<std::string> appBuildVersion() { return KSTBundleVersion(); }
    static std::optional<std::string> appDisplayVersion() { return KSTBundleShortVersionString(); }
    static std::int64_t appSource() { return static_cast<std::int64_t>(KSTAppInstallSource()); }

    // <endpoint>/spi/v2/platforms/mac/apps/<escaped identifier>/settings with the query parameters
    // build_version, display_version, instance, icon_hash and source, each left out when missing.
    // Nothing without an endpoint or a bundle identifier, or when the text is no URL.
    static std::optional<std::string> settingsURLForEndpoint(const std::optional<std::string>& endpoint,
                                                             const std::optional<std::string>& appInstanceIdentifier,
                                                             const std::optional<std::string>& appIconHash);

    // Serialises reading (and deleting) a settings file with replacing it, across all instances:
    // a reader must never delete a file a download has just put in place.
    static std::mutex& fileMutex();

private:
    const std::filesystem::path settingsPath_;
    std::mutex mutex_;
    std::shared_ptr<const foundation::PropertyListDictionary> settingsDictionary_;
};

} // namespace kits

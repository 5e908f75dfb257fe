// The kit platform's start call and shared instance. The host sets its information dictionary on
// foundation::MainBundle, then calls Keystone::with once at launch with the kits it wants; the kits
// later ask the shared instance for the API key, the installation and execution identifiers, the
// instance identifier, the debug flag, the final kit list and the downloaded settings. Misuse by the host (a broken
// configuration, a class that is no kit) raises KSTException from the first with().
#pragma once

#include "foundation/notification_center.h"
#include "foundation/property_list.h"
#include "kits/platform/kit_class.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kits {

class KSTApplicationIdentiferModel;
class KSTSettingsOnboardingManager;

// The exception the kits raise for the host's misuse; what() is the reason.
class KSTException : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
    static constexpr const char* name = "KSTException";
};

// The platform's own identity.
inline constexpr const char* KSTPlatformIdentifier = "io.tessmark.sdk.mac";
inline constexpr const char* KSTPlatformDisplayVersion = "1.6.11";
inline constexpr const char* KSTPlatformBuildVersion = "60";
// The kit defaults key of the installation UUID.
inline constexpr const char* KSTInstallationUUIDKey = "com.faultmere.iuuid";

class Keystone {
public:
    // Only the first call in a process does anything, even when it raises: with an API key it
    // validates and completes the kit list and starts every kit in order. Every later call logs that
    // it was called again and changes nothing. Returns the shared instance.
    static Keystone& with(const std::vector<KitClass>& kits);
    // The one instance per process, created on first use (which reads or makes the installation UUID).
    static Keystone& sharedSDK();

    // The list steps of with(), each taking and returning a list.
    static std::vector<KitClass> convertToKitClassesIfNeeded(std::vector<KitClass> kits);
    // Raises KSTException for a class that is neither a kit nor an older kit.
    static std::vector<KitClass> validateKSTKitConformance(std::vector<KitClass> kits);
    static std::vector<KitClass> kitClassesByAddingSignetIfFound(std::vector<KitClass> kits);
    static std::vector<KitClass> kitClassesByAddingTallyIfFound(std::vector<KitClass> kits);
    static std::vector<KitClass> kitClassesByEnsuringGlimpseIsFirst(std::vector<KitClass> kits);
    static void initializeKit(const KitClass& kit);

    // The "KitInfo" of the first "Kits" entry whose "KitName" is the class's name; empty when that
    // entry has none; nothing when no entry matches.
    static std::optional<foundation::PropertyListDictionary> configurationDictionaryForKitClass(const KitClass& kit);

    // The validated "Keystone" dictionary of an information dictionary; raises KSTException.
    static foundation::PropertyListDictionary
    validKeystoneConfigFromInfoPlist(const foundation::PropertyListDictionary* infoDictionary);

    // The main bundle's "Keystone" dictionary, validated on first read and kept.
    foundation::PropertyListDictionary keystoneConfig();
    // The key set with setAPIKey, else "APIKey" of keystoneConfig (an empty one counts as none; a
    // missing one is logged).
    std::optional<std::string> APIKey();
    void setAPIKey(std::optional<std::string> key);

    std::vector<KitClass> kitClasses() const;
    // Kit bundle identifier → version, with the platform's own entry.
    foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier() const;
    // Starts the settings download and, when the settings ask for it, the onboarding.
    void onboardAppAndDownloadSettings();

    bool debug() const { return debug_.load(); }
    // Also switches the kits' informational console lines.
    void setDebug(bool debug);
    bool isFirstInstall() const { return isFirstInstall_; }
    const std::string& installID() const { return installID_; }
    const std::string& executionIdentifier() const { return executionIdentifier_; }
    std::optional<std::string> advertisingToken() const;
    void setAdvertisingToken(std::optional<std::string> token);
    // Nothing when the running executable could not be read.
    const std::shared_ptr<const KSTApplicationIdentiferModel>& applicationIdentifierModel() const
    {
        return applicationIdentifierModel_;
    }
    std::optional<std::string> instanceIdentifier() const;
    const std::shared_ptr<KSTSettingsOnboardingManager>& settingsAndOnboardingManager() const
    {
        return settingsAndOnboardingManager_;
    }
    // A snapshot of the cached settings (the last download's, or an earlier launch's until then);
    // nullptr when there are none. Any thread: the snapshot stays whole while the settings change.
    std::shared_ptr<const foundation::PropertyListDictionary> settings() const;

    Keystone(const Keystone&) = delete;
    Keystone& operator=(const Keystone&) = delete;

private:
    Keystone();
    ~Keystone();
    std::string readInstallationUUID();
    std::string generateInstallationUUID();
    void startKits(const std::vector<KitClass>& kits);
    // Download files: those ended processes left go at start; at quit the settings sequence ends and
    // every one goes.
    void manageDownloadFiles();

    mutable std::mutex mutex_; // the lazily read and the set-once values below
    std::optional<foundation::PropertyListDictionary> keystoneConfig_;
    std::optional<std::string> APIKey_;
    std::vector<KitClass> kitClasses_;
    std::optional<std::string> advertisingToken_;

    std::atomic<bool> debug_{false};
    bool isFirstInstall_ = false;
    std::string installID_;
    std::string executionIdentifier_;
    std::shared_ptr<const KSTApplicationIdentiferModel> applicationIdentifierModel_;
    std::shared_ptr<KSTSettingsOnboardingManager> settingsAndOnboardingManager_;
    foundation::ObserverToken terminationObserver_;
};

} // namespace kits

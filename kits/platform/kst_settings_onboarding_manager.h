// The order of the kits' settings work at start: download the settings, register the application
// with the kit API service when the settings ask for it (at most once a run), and post
// "KSTSettingsAvailableNotification" on the default centre once settings can be read. Each step
// starts from the completion of the one before, on the network client's queue; the client is ended
// when the sequence is over. The endpoints come from the environment, then the information
// dictionary's "Blackbox" entry; none are built in, and without one nothing is sent.
#pragma once

#include "foundation/property_list.h"
#include "kits/platform/kst_download_and_save_settings_operation.h"
#include "kits/platform/kst_onboarding_operation.h"
#include "kits/platform/kst_settings.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class KSTApplicationIdentiferModel;
class KSTNetworkClient;

inline constexpr const char* KSTSettingsAvailableNotification = "KSTSettingsAvailableNotification";

class KSTSettingsOnboardingManager final : public KSTDownloadAndSaveSettingsOperationDelegate,
                                           public KSTOnboardingOperationDelegate,
                                           public std::enable_shared_from_this<KSTSettingsOnboardingManager> {
public:
    // Reads the advertising token to send (the kit platform's, which the analytics kit sets).
    using AdvertisingTokenSource = std::function<std::optional<std::string>()>;

    // The manager; its network client is pinned to the platform's roots and has its own queue. A missing
    // model (the executable could not be read) leaves out what depends on it; the installation UUID
    // is then `installID`. Without a token source no token is sent.
    static std::shared_ptr<KSTSettingsOnboardingManager>
    initWithApplicationIdentifierModel(std::shared_ptr<const KSTApplicationIdentiferModel> model,
                                       std::string installID = {}, AdvertisingTokenSource advertisingToken = {});
    // Ends the network client at once.
    ~KSTSettingsOnboardingManager() override;

    // Keeps both and starts the download. Called once, at start.
    void
    beginSettingsAndOnboardingOperationsWithAPIKey(std::optional<std::string> APIKey,
                                                   foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier);
    void beginSettingsDownload();
    // Cancels a running onboarding and starts a new one.
    void beginOnboarding(bool create, std::optional<std::string> endpointString);

    std::optional<std::string> settingsURL() const;
    // <caches>/io.tessmark.sdk.mac.data/<bundle identifier>; nothing without a bundle identifier.
    static std::optional<std::filesystem::path> settingsDirectoryPath();
    std::optional<std::filesystem::path> settingsPath() const;
    // The environment's variable of that name, else the key in "Blackbox", else the built-in value.
    std::optional<std::string> valueForConfigurationKey(std::string_view key) const;
    // The information dictionary's "Blackbox" entry, read afresh; empty when there is none.
    static foundation::PropertyListDictionary configuration();
    // The built-in endpoints: none (a deployment configures its own).
    static foundation::PropertyListDictionary defaultConfiguration();
    std::optional<std::string> appIconHash() const;
    // The kit platform's advertising token.
    std::optional<std::string> advertisingToken() const;

    // The settings over the cache file, created on first use; nullptr without a settings path.
    std::shared_ptr<KSTSettings> settingsModel();
    bool hasAttemptedAppConfigure() const;
    std::shared_ptr<KSTOnboardingOperation> onboardingOperation() const;
    const std::shared_ptr<const KSTApplicationIdentiferModel>& appIdentifierModel() const { return model_; }
    // Made on first use (the first request), so a process that sends nothing runs no session
    // thread; nullptr only when no session could be made.
    std::shared_ptr<KSTNetworkClient> networkClient();
    // Whether the sequence has ended (and with it the client, if one was made).
    bool networkingFinished() const;

    void postSettingsDownloadCompletedNotification();
    void finishNetworkingSession();

    void operationDidDownloadAndSaveSettingsWithError(KSTDownloadAndSaveSettingsOperation& operation,
                                                      const std::optional<foundation::Error>& error) override;
    void onboardingOperationDidCompleteAppCreationWithError(KSTOnboardingOperation& operation,
                                                            const std::optional<foundation::Error>& error) override;
    void onboardingOperationDidCompleteAppUpdateWithError(KSTOnboardingOperation& operation,
                                                          const std::optional<foundation::Error>& error) override;

private:
    KSTSettingsOnboardingManager() = default;

    std::shared_ptr<const KSTApplicationIdentiferModel> model_;
    std::string installID_;
    AdvertisingTokenSource advertisingTokenSource_;
    mutable std::mutex mutex_;
    bool hasAttemptedAppConfigure_ = false;
    std::shared_ptr<KSTSettings> settingsModel_;
    std::shared_ptr<KSTOnboardingOperation> onboardingOperation_;
    std::shared_ptr<KSTNetworkClient> networkClient_;
    bool networkingFinished_ = false;
    std::optional<std::string> APIKey_;
    foundation::PropertyListDictionary kitVersions_;
};

} // namespace kits

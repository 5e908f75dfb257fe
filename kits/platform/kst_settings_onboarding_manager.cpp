// The settings manager's sequence: download, onboarding, notification.
#include "kits/platform/kst_settings_onboarding_manager.h"

#include "foundation/main_bundle.h"
#include "foundation/notification_center.h"
#include "kits/platform/keystone.h" // the platform identifier
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_application_identifier_model.h"
#include "kits/platform/kst_error_description.h"
#include "kits/platform/kst_network_client.h"

#include <cstdlib>

namespace kits {

std::shared_ptr<KSTSettingsOnboardingManager> KSTSettingsOnboardingManager::initWithApplicationIdentifierModel(
    std::shared_ptr<const KSTApplicationIdentiferModel> model, std::string installID,
    AdvertisingTokenSource advertisingToken)
{
    std::shared_ptr<KSTSettingsOnboardingManager> manager(new KSTSettingsOnboardingManager());
    manager->installID_ = model ? model->installID() : std::move(installID);
    manager->advertisingTokenSource_ = std::move(advertisingToken);
    manager->model_ = std::move(model);
    return manager;
}

KSTSettingsOnboardingManager::~KSTSettingsOnboardingManager()
{
    if (networkClient_)
        networkClient_->invalidateAndCancel();
}

std::shared_ptr<KSTNetworkClient> KSTSettingsOnboardingManager::networkClient()
{
    std::lock_guard lock(mutex_);
    if (!networkClient_)
        networkClient_ = KSTNetworkClient::create({}, nullptr, KSTPinnedCertificates());
    return networkClient_;
}

void KSTSettingsOnboardingManager::beginSettingsAndOnboardingOperationsWithAPIKey(
    std::optional<std::string> APIKey, foundation::PropertyListDictionary kitVersionsByKitBundleIdentifier)
{
    {
        std::lock_guard lock(mutex_);
        APIKey_ = std::move(APIKey);
        kitVersions_ = std::move(kitVersionsByKitBundleIdentifier);
    }
    beginSettingsDownload();
}

void KSTSettingsOnboardingManager::beginSettingsDownload()
{
    std::optional<std::string> key;
    {
        std::lock_guard lock(mutex_);
        key = APIKey_;
    }
    const auto directory = settingsDirectoryPath();
    const auto url = settingsURL();
    std::string missing = "no \"SettingsEndpoint\" is configured";
    if (valueForConfigurationKey("SettingsEndpoint").value_or("").empty())
        ; // the endpoint is what is missing, whatever else is
    else if (!directory)
        missing = "the application has no bundle identifier to file its settings under";
    else
        missing = "no settings URL could be made from \"SettingsEndpoint\"";
    auto operation = KSTDownloadAndSaveSettingsOperation::initWithAPIKey(
        key, weak_from_this(), directory ? url : std::nullopt, directory.value_or(std::filesystem::path()),
        directory ? *directory / "settings.json" : std::filesystem::path(), installID_, advertisingToken(),
        url && directory ? networkClient() : nullptr, missing);
    if (operation)
        operation->start();
}

void KSTSettingsOnboardingManager::beginOnboarding(bool create, std::optional<std::string> endpointString)
{
    const auto client = networkClient();
    std::shared_ptr<KSTOnboardingOperation> operation;
    {
        std::lock_guard lock(mutex_);
        if (onboardingOperation_)
            onboardingOperation_->cancel();
        operation = KSTOnboardingOperation::initWithDelegate(weak_from_this(), create, APIKey_, kitVersions_, model_,
                                                             std::move(endpointString), client);
        onboardingOperation_ = operation;
    }
    if (operation)
        operation->start();
}

std::optional<std::string> KSTSettingsOnboardingManager::settingsURL() const
{
    return KSTSettings::settingsURLForEndpoint(
        valueForConfigurationKey("SettingsEndpoint"),
        model_ ? std::optional<std::string>(model_->instanceIdentifier()) : std::nullopt, appIconHash());
}

std::optional<std::filesystem::path> KSTSettingsOnboardingManager::settingsDirectoryPath()
{
    const auto identifier = foundation::MainBundle::bundleIdentifier();
    if (!identifier || identifier->empty())
        return std::nullopt;
    return foundation::MainBundle::cachesDirectory() / (std::string(KSTPlatformIdentifier) + ".data") / *identifier;
}

std::optional<std::filesystem::path> KSTSettingsOnboardingManager::settingsPath() const
{
    const auto directory = settingsDirectoryPath();
    return directory ? std::optional<std::filesystem::path>(*directory / "settings.json") : std::nullopt;
}

std::optional<std::string> KSTSettingsOnboardingManager::valueForConfigurationKey(std::string_view key) const
{
    const std::string name(key);
    if (const char* value = std::getenv(name.c_str()))
        return std::string(value);
    const auto overrides = configuration();
    if (const std::string* value = overrides.get<std::string>(key))
        return *value;
    const auto defaults = defaultConfiguration();
    if (const std::string* value = defaults.get<std::string>(key))
        return *value;
    return std::nullopt;
}

foundation::PropertyListDictionary KSTSettingsOnboardingManager::configuration()
{
    const auto info = foundation::MainBundle::infoDictionary();
    const auto* blackbox = info ? info->get<foundation::PropertyListDictionary>("Blackbox") : nullptr;
    return blackbox ? *blackbox : foundation::PropertyListDictionary{};
}

foundation::PropertyListDictionary KSTSettingsOnboardingManager::defaultConfiguration()
{
    return {};
}

std::optional<std::string> KSTSettingsOnboardingManager::appIconHash() const
{
    if (!model_ || !model_->icon())
        return std::nullopt;
    return model_->icon()->dataHash();
}

std::optional<std::string> KSTSettingsOnboardingManager::advertisingToken() const
{
    return advertisingTokenSource_ ? advertisingTokenSource_() : std::nullopt;
}

std::shared_ptr<KSTSettings> KSTSettingsOnboardingManager::settingsModel()
{
    std::lock_guard lock(mutex_);
    if (!settingsModel_) {
        if (const auto path = settingsPath())
            settingsModel_ = std::make_shared<KSTSettings>(*path);
    }
    return settingsModel_;
}

bool KSTSettingsOnboardingManager::hasAttemptedAppConfigure() const
{
    std::lock_guard lock(mutex_);
    return hasAttemptedAppConfigure_;
}

std::shared_ptr<KSTOnboardingOperation> KSTSettingsOnboardingManager::onboardingOperation() const
{
    std::lock_guard lock(mutex_);
    return onboardingOperation_;
}

void KSTSettingsOnboardingManager::postSettingsDownloadCompletedNotification()
{
    kitDebugLog("[Keystone] Settings are available for consumption");
    foundation::NotificationCenter::defaultCenter().post(KSTSettingsAvailableNotification);
}

void KSTSettingsOnboardingManager::finishNetworkingSession()
{
    std::shared_ptr<KSTNetworkClient> client;
    {
        std::lock_guard lock(mutex_);
        networkingFinished_ = true;
        client = networkClient_;
    }
    if (client)
        client->invalidateAndCancel();
}

bool KSTSettingsOnboardingManager::networkingFinished() const
{
    std::lock_guard lock(mutex_);
    return networkingFinished_;
}

void KSTSettingsOnboardingManager::operationDidDownloadAndSaveSettingsWithError(
    KSTDownloadAndSaveSettingsOperation&, const std::optional<foundation::Error>& error)
{
    if (error) {
        kitLog("[Keystone] failed to download settings " + KSTErrorDescription(*error));
        finishNetworkingSession();
        return;
    }
    kitDebugLog("[Keystone] settings downloaded successfully");
    const auto settings = settingsModel();
    if (settings)
        settings->clearSettingsDictionary();

    bool attempted = false;
    {
        std::lock_guard lock(mutex_);
        attempted = hasAttemptedAppConfigure_;
    }
    if (attempted) {
        kitDebugLog("[Keystone] App already onboarded in this run of the app");
        postSettingsDownloadCompletedNotification();
        finishNetworkingSession();
        return;
    }
    if (settings && settings->appNeedsOnboarding()) {
        kitDebugLog("[Keystone] Starting onboarding with app create");
        {
            std::lock_guard lock(mutex_);
            hasAttemptedAppConfigure_ = true;
        }
        beginOnboarding(true, valueForConfigurationKey("ConfigureEndpoint"));
        return; // the notification waits for the download after the creation
    }
    postSettingsDownloadCompletedNotification();
    if (settings && settings->appUpdateRequired()) {
        kitDebugLog("[Keystone] Starting onboarding with app update");
        {
            std::lock_guard lock(mutex_);
            hasAttemptedAppConfigure_ = true;
        }
        beginOnboarding(false, valueForConfigurationKey("ConfigureEndpoint"));
    } else {
        finishNetworkingSession();
    }
}

void KSTSettingsOnboardingManager::onboardingOperationDidCompleteAppCreationWithError(
    KSTOnboardingOperation&, const std::optional<foundation::Error>& error)
{
    if (error) {
        kitLog("[Keystone] unable to complete application configure: " + KSTErrorDescription(*error));
        finishNetworkingSession();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        onboardingOperation_.reset();
    }
    kitDebugLog("[Keystone] completed configure");
    beginSettingsDownload();
}

void KSTSettingsOnboardingManager::onboardingOperationDidCompleteAppUpdateWithError(
    KSTOnboardingOperation&, const std::optional<foundation::Error>& error)
{
    finishNetworkingSession();
    if (error) {
        kitLog("[Keystone] unable to complete application update: " + KSTErrorDescription(*error));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        onboardingOperation_.reset();
    }
    kitDebugLog("[Keystone] completed application update");
}

} // namespace kits

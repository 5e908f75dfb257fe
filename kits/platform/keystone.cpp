// Kit start-up: the once-only body of Keystone::with (list steps, start), the validated
// configuration and API key, the installation and execution identifiers, the version table and the
// settings.

#include "kits/platform/keystone.h"

#include "foundation/application_notifications.h"
#include "foundation/main_bundle.h"
#include "foundation/property_list_json.h"
#include "kits/platform/bbx_url_session.h"
#include "kits/platform/bbx_user_defaults.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/kit_log.h"
#include "kits/platform/kst_application_identifier_model.h"
#include "kits/platform/kst_settings_onboarding_manager.h"

#include <algorithm>
#include <cctype>

namespace kits {

namespace {

constexpr const char* calledMultipleTimesMessage =
    "[Keystone] [Keystone +with] called multiple times. Only the first call is honored, please pass all kits "
    "you wish to initialize";
constexpr const char* missingAPIKeyMessage =
    "[Keystone] Keystone API Key is nil! Keystone won't work unless there is a valid API Key setup in Info.plist";

bool contains(const std::vector<KitClass>& kits, const std::string& name)
{
    return std::any_of(kits.begin(), kits.end(), [&](const KitClass& kit) { return kit.name == name; });
}

} // namespace

Keystone::Keystone()
{
    installID_ = readInstallationUUID();
    std::string execution = KSTGenerateUUIDString();
    execution.erase(std::remove(execution.begin(), execution.end(), '-'), execution.end());
    std::transform(execution.begin(), execution.end(), execution.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    executionIdentifier_ = execution;
    applicationIdentifierModel_ = KSTApplicationIdentiferModel::initWithInstallID(installID_);
    settingsAndOnboardingManager_ = KSTSettingsOnboardingManager::initWithApplicationIdentifierModel(
        applicationIdentifierModel_, installID_, [this] { return advertisingToken(); });
}

Keystone::~Keystone() = default;

Keystone& Keystone::sharedSDK()
{
    // Never destroyed: kit threads may still ask for it while the process exits.
    static Keystone* instance = new Keystone();
    return *instance;
}

std::string Keystone::readInstallationUUID()
{
    auto stored =
        BBXUserDefaults::standardUserDefaults().objectForKeyByMigratingFromNSUserDefaults(KSTInstallationUUIDKey);
    if (const std::string* text = stored ? stored->get<std::string>() : nullptr; text && !text->empty())
        return *text;
    isFirstInstall_ = true;
    return generateInstallationUUID();
}

std::string Keystone::generateInstallationUUID()
{
    std::string uuid = KSTGenerateUUIDString();
    auto& defaults = BBXUserDefaults::standardUserDefaults();
    defaults.setString(uuid, KSTInstallationUUIDKey);
    defaults.synchronize();
    return uuid;
}

Keystone& Keystone::with(const std::vector<KitClass>& kits)
{
    // The token is consumed by the first call even when its body raises: the exception reaches that
    // caller, every later call only logs, and no kit can start twice. Concurrent callers wait for the
    // first body to end.
    static std::mutex firstCallMutex;
    static bool called = false;
    std::unique_lock lock(firstCallMutex);
    if (called) {
        lock.unlock();
        kitLog(calledMultipleTimesMessage);
        return sharedSDK();
    }
    called = true;
    sharedSDK().startKits(kits);
    return sharedSDK();
}

void Keystone::startKits(const std::vector<KitClass>& kits)
{
    if (!APIKey())
        return;
    auto list = convertToKitClassesIfNeeded(kits);
    list = validateKSTKitConformance(std::move(list));
    list = kitClassesByAddingSignetIfFound(std::move(list));
    list = kitClassesByAddingTallyIfFound(std::move(list));
    list = kitClassesByEnsuringGlimpseIsFirst(std::move(list));
    {
        std::lock_guard lock(mutex_);
        kitClasses_ = list;
    }
    for (const auto& kit : list)
        initializeKit(kit);
    manageDownloadFiles();
    onboardAppAndDownloadSettings();
}

void Keystone::manageDownloadFiles()
{
    BBXURLSession::removeDownloadFiles(false);
    terminationObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
        foundation::ApplicationWillTerminateNotification, nullptr, [this](const foundation::Notification&) {
            if (settingsAndOnboardingManager_)
                settingsAndOnboardingManager_->finishNetworkingSession();
            BBXURLSession::removeDownloadFiles(true);
        });
}

std::vector<KitClass> Keystone::convertToKitClassesIfNeeded(std::vector<KitClass> kits)
{
    return kits; // instances and classes are both handed over as their class here
}

std::vector<KitClass> Keystone::validateKSTKitConformance(std::vector<KitClass> kits)
{
    for (const auto& kit : kits) {
        if (kit.conformsToKSTKit)
            continue;
        if (kit.sharedInstance) {
            kitLog("[Keystone] Please upgrade to the latest version of \"" + kit.name + "\"");
            const KitInstance& instance = kit.sharedInstance();
            if (instance.start && instance.bundleIdentifier && instance.version)
                continue;
        }
        throw KSTException("[Keystone] It appears that \"" + kit.name
                           + "\" is not a valid Keystone Kit. Please make sure you only pass Keystone Kits to "
                             "[Keystone with:].");
    }
    return kits;
}

std::vector<KitClass> Keystone::kitClassesByAddingSignetIfFound(std::vector<KitClass> kits)
{
    if (auto signet = KitRegistry::kitClassNamed("Signet"); signet && !contains(kits, "Signet"))
        kits.push_back(*signet);
    return kits;
}

std::vector<KitClass> Keystone::kitClassesByAddingTallyIfFound(std::vector<KitClass> kits)
{
    const auto blackbox = KitRegistry::kitClassNamed("Blackbox");
    const auto tally = KitRegistry::kitClassNamed("Tally");
    if (blackbox && tally && contains(kits, "Blackbox") && tally->conformsToKSTKit && !contains(kits, "Tally"))
        kits.push_back(*tally);
    return kits;
}

std::vector<KitClass> Keystone::kitClassesByEnsuringGlimpseIsFirst(std::vector<KitClass> kits)
{
    if (!KitRegistry::kitClassNamed("Glimpse"))
        return kits;
    auto glimpse = std::find_if(kits.begin(), kits.end(), [](const KitClass& kit) { return kit.name == "Glimpse"; });
    if (glimpse != kits.end())
        std::rotate(kits.begin(), glimpse, glimpse + 1);
    return kits;
}

void Keystone::initializeKit(const KitClass& kit)
{
    if (!kit.conformsToKSTKit) {
        if (kit.sharedInstance)
            kit.sharedInstance().start();
        return;
    }
    if (kit.initializeIfNeeded)
        kit.initializeIfNeeded();
}

foundation::PropertyListDictionary
Keystone::validKeystoneConfigFromInfoPlist(const foundation::PropertyListDictionary* infoDictionary)
{
    if (!infoDictionary)
        throw KSTException("[Keystone] Cannot find Info.plist.");
    const auto* config = infoDictionary->get<foundation::PropertyListDictionary>("Keystone");
    if (!config)
        throw KSTException("[Keystone] Value of Info.plist key \"Keystone\" must be a NSDictionary.");
    const foundation::PropertyListValue* kitEntries = config->find("Kits");
    if (!kitEntries || !kitEntries->holds<foundation::PropertyListArray>())
        kitLog("[Keystone] [Keystone] Value of Info.plist[Keystone][Kits] should be a NSArray.");
    if (!config->get<std::string>("APIKey"))
        throw KSTException("[Keystone] Value of Info.plist[Keystone][APIKey] must contain your Keystone API Key.");
    return *config;
}

foundation::PropertyListDictionary Keystone::keystoneConfig()
{
    std::lock_guard lock(mutex_);
    if (!keystoneConfig_)
        keystoneConfig_ = validKeystoneConfigFromInfoPlist(foundation::MainBundle::infoDictionary().get());
    return *keystoneConfig_;
}

std::optional<std::string> Keystone::APIKey()
{
    {
        std::lock_guard lock(mutex_);
        if (APIKey_)
            return APIKey_;
    }
    const auto config = keystoneConfig();
    const std::string* key = config.get<std::string>("APIKey");
    std::lock_guard lock(mutex_);
    if (key && !key->empty())
        APIKey_ = *key;
    else
        kitLog(missingAPIKeyMessage);
    return APIKey_;
}

void Keystone::setAPIKey(std::optional<std::string> key)
{
    std::lock_guard lock(mutex_);
    APIKey_ = std::move(key);
}

std::vector<KitClass> Keystone::kitClasses() const
{
    std::lock_guard lock(mutex_);
    return kitClasses_;
}

foundation::PropertyListDictionary Keystone::kitVersionsByKitBundleIdentifier() const
{
    foundation::PropertyListDictionary versions;
    for (const auto& kit : kitClasses()) {
        if (kit.conformsToKSTKit) {
            versions.set(kit.bundleIdentifier, kit.kitDisplayVersion);
        } else if (kit.sharedInstance) {
            const KitInstance& instance = kit.sharedInstance();
            versions.set(instance.bundleIdentifier(), instance.version());
        }
    }
    versions.set(KSTPlatformIdentifier, KSTPlatformDisplayVersion);
    if (debug())
        kitLog("[Keystone] Initialized with kit versions: " + foundation::jsonFromPropertyList(versions));
    return versions;
}

void Keystone::onboardAppAndDownloadSettings()
{
    settingsAndOnboardingManager_->beginSettingsAndOnboardingOperationsWithAPIKey(APIKey(),
                                                                                  kitVersionsByKitBundleIdentifier());
}

std::optional<foundation::PropertyListDictionary> Keystone::configurationDictionaryForKitClass(const KitClass& kit)
{
    const auto config = sharedSDK().keystoneConfig();
    const auto* entries = config.get<foundation::PropertyListArray>("Kits");
    if (!entries)
        return std::nullopt;
    for (const auto& entry : *entries) {
        const auto* dictionary = entry.get<foundation::PropertyListDictionary>();
        const std::string* name = dictionary ? dictionary->get<std::string>("KitName") : nullptr;
        if (!name || *name != kit.name)
            continue;
        const auto* info = dictionary->get<foundation::PropertyListDictionary>("KitInfo");
        return info ? *info : foundation::PropertyListDictionary{};
    }
    return std::nullopt;
}

void Keystone::setDebug(bool debug)
{
    debug_.store(debug);
    setKitDebugLogging(debug);
}

std::optional<std::string> Keystone::advertisingToken() const
{
    std::lock_guard lock(mutex_);
    return advertisingToken_;
}

void Keystone::setAdvertisingToken(std::optional<std::string> token)
{
    std::lock_guard lock(mutex_);
    advertisingToken_ = std::move(token);
}

std::optional<std::string> Keystone::instanceIdentifier() const
{
    if (!applicationIdentifierModel_)
        return std::nullopt;
    return applicationIdentifierModel_->instanceIdentifier();
}

std::shared_ptr<const foundation::PropertyListDictionary> Keystone::settings() const
{
    const auto model = settingsAndOnboardingManager_->settingsModel();
    return model ? model->settingsDictionary() : nullptr;
}

} // namespace kits

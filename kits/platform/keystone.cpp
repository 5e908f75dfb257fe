// Kit start-up: the once-only body of Keystone::with (validate, complete, start) and the API key lookup.

#include "kits/platform/keystone.h"

#include "foundation/main_bundle.h"
#include "kits/platform/kit_log.h"

#include <algorithm>
#include <stdexcept>

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

void validateKits(const std::vector<KitClass>& kits)
{
    for (const auto& kit : kits) {
        if (!kit.isKit())
            throw std::invalid_argument("[Keystone] It appears that \"" + kit.name
                                        + "\" is not a valid Keystone Kit. Please make sure you only pass "
                                          "Keystone Kits to [Keystone with:].");
    }
}

// Appends every companion the list lacks, so the analytics kit always follows the crash kit; a list
// that already holds a companion keeps its own order.
std::vector<KitClass> addingCompanions(std::vector<KitClass> kits)
{
    for (std::size_t index = 0; index < kits.size(); ++index) {
        const auto companions = kits[index].companionKits;
        for (const auto& companion : companions) {
            if (companion.isKit() && !contains(kits, companion.name))
                kits.push_back(companion);
        }
    }
    return kits;
}

} // namespace

Keystone& Keystone::sharedSDK()
{
    static Keystone instance;
    return instance;
}

Keystone& Keystone::with(const std::vector<KitClass>& kits)
{
    static std::once_flag firstCall;
    bool honoured = false;
    // A first call that throws leaves the flag unset, so a corrected call may still start the kits.
    std::call_once(firstCall, [&] {
        honoured = true;
        sharedSDK().startKits(kits);
    });
    if (!honoured)
        kitLog(calledMultipleTimesMessage);
    return sharedSDK();
}

void Keystone::startKits(const std::vector<KitClass>& kits)
{
    if (!APIKey()) {
        kitLog(missingAPIKeyMessage);
        return;
    }
    validateKits(kits);
    auto completed = addingCompanions(kits);
    {
        std::lock_guard lock(mutex_);
        kitClasses_ = completed;
    }
    for (const auto& kit : completed) {
        if (kit.initializeIfNeeded)
            kit.initializeIfNeeded();
    }
}

std::optional<std::string> Keystone::APIKey() const
{
    const auto infoDictionary = foundation::MainBundle::infoDictionary();
    if (!infoDictionary)
        return std::nullopt;
    const foundation::PropertyListValue* config = infoDictionary->find("Keystone");
    if (!config)
        return std::nullopt;
    const auto* dictionary = config->get<foundation::PropertyListDictionary>();
    if (!dictionary)
        throw std::invalid_argument("[Keystone] Value of Info.plist key \"Keystone\" must be a dictionary.");
    const foundation::PropertyListValue* key = dictionary->find("APIKey");
    if (!key)
        return std::nullopt;
    const auto* text = key->get<std::string>();
    if (!text)
        throw std::invalid_argument(
            "[Keystone] Value of Info.plist[Keystone][APIKey] must contain your Keystone API Key.");
    if (text->empty())
        return std::nullopt;
    return *text;
}

std::vector<KitClass> Keystone::kitClasses() const
{
    std::lock_guard lock(mutex_);
    return kitClasses_;
}

} // namespace kits

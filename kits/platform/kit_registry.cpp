// The kit classes known by name.
#include "kits/platform/kit_class.h"

#include <map>
#include <mutex>

namespace kits {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, KitClass> classes;
};

Registry& registry()
{
    // Never destroyed: the kits' threads may still look a kit up while the process exits.
    static auto* shared = new Registry();
    return *shared;
}

} // namespace

void KitRegistry::registerKitClass(const KitClass& kit)
{
    std::lock_guard lock(registry().mutex);
    registry().classes[kit.name] = kit;
}

std::optional<KitClass> KitRegistry::kitClassNamed(const std::string& name)
{
    std::lock_guard lock(registry().mutex);
    auto found = registry().classes.find(name);
    return found == registry().classes.end() ? std::nullopt : std::optional(found->second);
}

void KitRegistry::removeAllForTesting()
{
    std::lock_guard lock(registry().mutex);
    registry().classes.clear();
}

} // namespace kits

// What the kit platform knows of a kit class: its name, whether it is a kit (bundle identifier and
// display version, optionally initializeIfNeeded) or an older kit (a shared instance that starts and
// names itself), and a registry by name that stands for looking a class up at run time. Kits hand out
// one of these from their kitClass(), which also registers them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kits {

// The instance of an older kit: each member is empty when the instance does not answer it.
struct KitInstance {
    std::function<void()> start;
    std::function<std::string()> bundleIdentifier;
    std::function<std::string()> version;
};

struct KitClass {
    std::string name;              // the class name, e.g. "Blackbox"; kits are told apart by it
    bool conformsToKSTKit = false; // answers bundleIdentifier and kitDisplayVersion
    std::string bundleIdentifier;  // reverse-DNS identity of a kit
    std::string kitDisplayVersion; // version text of a kit
    // Starts a kit; empty for a kit that does not answer it. Must tolerate repeats.
    std::function<void()> initializeIfNeeded;
    // An older kit's shared instance; empty when the class does not answer sharedInstance.
    std::function<KitInstance&()> sharedInstance;
};

// Classes by name, in place of the runtime's class lookup: "a class named X exists" means X is
// registered. Any thread.
class KitRegistry {
public:
    // Adds or replaces the class under its name.
    static void registerKitClass(const KitClass& kit);
    static std::optional<KitClass> kitClassNamed(const std::string& name);
    // Empties the registry (tests, in a child process).
    static void removeAllForTesting();
};

} // namespace kits

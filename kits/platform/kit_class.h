// What the kit platform knows of a kit: its name and identity, how to start it, and the kits it brings
// along. Kits hand out one of these from their kitClass(); the host passes them to Keystone::with.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kits {

struct KitClass {
    std::string name;              // the kit's class name, e.g. "Blackbox"; kits are told apart by it
    std::string bundleIdentifier;  // reverse-DNS identity; a class without one is no kit
    std::string kitDisplayVersion; // version text; a class without one is no kit
    // Starts the kit; may be empty for a kit that starts itself on first use. Must tolerate repeats.
    std::function<void()> initializeIfNeeded;
    // Kits that always run beside this one; the platform appends each that the list lacks.
    std::vector<KitClass> companionKits;

    bool isKit() const { return !name.empty() && !bundleIdentifier.empty() && !kitDisplayVersion.empty(); }
};

} // namespace kits

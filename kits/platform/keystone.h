// The kit platform's start call and shared instance. The host sets its information dictionary on
// foundation::MainBundle, then calls Keystone::with once at launch with the kits it wants; the kits later ask the shared instance
// for the API key and the final kit list.
#pragma once

#include "kits/platform/kit_class.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kits {

class Keystone {
public:
    // Only the first call in a process does anything: with an API key it validates `kits` (a class
    // that is no kit throws std::invalid_argument before anything starts), appends the kits' companions
    // and starts every kit in order; without an API key it starts nothing. Every later call logs that
    // it was called again and changes nothing. Returns the shared instance.
    static Keystone& with(const std::vector<KitClass>& kits);
    // The one instance per process, created on first use.
    static Keystone& sharedSDK();

    // The "Keystone"/"APIKey" text of the main bundle's information dictionary; nothing when absent or empty.
    // A "Keystone" entry that is no dictionary, or an "APIKey" that is no text, throws
    // std::invalid_argument: the host's configuration is broken.
    std::optional<std::string> APIKey() const;
    // The final, ordered kit list set by the first honoured with(); empty before.
    std::vector<KitClass> kitClasses() const;

    Keystone(const Keystone&) = delete;
    Keystone& operator=(const Keystone&) = delete;

private:
    Keystone() = default;
    void startKits(const std::vector<KitClass>& kits);

    mutable std::mutex mutex_;
    std::vector<KitClass> kitClasses_;
};

} // namespace kits

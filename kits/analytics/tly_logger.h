// The analytics kit's console logger: informational lines with the "[Tally] " prefix (or
// "[Tally:<label>] "), printed only while its debug mode is on. The kit sets the mode from the kit
// platform's debug flag at start; any thread may log or switch it.
#pragma once

#include <atomic>
#include <string_view>

namespace kits {

class TLYLogger {
public:
    // The one logger of the process, created on first use.
    static TLYLogger& sharedLogger();

    bool debugMode() const { return debugMode_.load(std::memory_order_relaxed); }
    void setDebugMode(bool debugMode) { debugMode_.store(debugMode, std::memory_order_relaxed); }

    // "[Tally] <text>", in debug mode only.
    void log(std::string_view text) const;
    // "[Tally:<label>] <text>", in debug mode only.
    void logWithLabel(std::string_view label, std::string_view text) const;

private:
    TLYLogger() = default;
    std::atomic<bool> debugMode_{false};
};

} // namespace kits

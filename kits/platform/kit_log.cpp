// Serialised console lines for the kits, with a replaceable sink and an atomic debug switch.

#include "kits/platform/kit_log.h"

#include <atomic>
#include <iostream>
#include <mutex>
#include <string>

namespace kits {

namespace {

std::atomic<bool> debugLogging{false};

struct LogState {
    std::mutex mutex;
    KitLogSink sink;
};

LogState& logState()
{
    // Never destroyed: the kits' threads may still log while the process exits.
    static auto* state = new LogState();
    return *state;
}

} // namespace

void kitLog(std::string_view line)
{
    auto& state = logState();
    std::lock_guard lock(state.mutex);
    if (state.sink) {
        state.sink(line);
        return;
    }
    std::string whole(line);
    whole += '\n';
    std::cerr.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    std::cerr.flush();
}

void kitDebugLog(std::string_view line)
{
    if (debugLogging.load(std::memory_order_relaxed))
        kitLog(line);
}

void setKitDebugLogging(bool enabled)
{
    debugLogging.store(enabled, std::memory_order_relaxed);
}

bool isKitDebugLogging()
{
    return debugLogging.load(std::memory_order_relaxed);
}

void setKitLogSink(KitLogSink sink)
{
    auto& state = logState();
    std::lock_guard lock(state.mutex);
    state.sink = std::move(sink);
}

} // namespace kits

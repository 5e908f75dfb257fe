// Waiting in a test for what another thread or process makes true: polled, and bounded so that a
// fault fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Waits up to `seconds` for `condition`; whether it came to hold.
inline bool eventually(const std::function<bool()>& condition, double seconds = 3.0)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace testsupport

// The crash kit's public class. The host passes Blackbox::kitClass() to Keystone::with, which starts
// the kit and, beside it, the analytics kit.
#pragma once

#include "kits/platform/kit_class.h"

#include <atomic>

namespace kits {

class Blackbox {
public:
    // The one instance per process, created on first use.
    static Blackbox& sharedInstance();
    // The kit as the kit platform starts it ("Blackbox"); registers it and Tally, which the platform
    // adds after it.
    static KitClass kitClass();

    // Ends the process at once by a processor trap; never returns.
    [[noreturn]] void crash();

    // Starts the kit; later calls do nothing.
    void start();
    bool isStarted() const { return started_.load(); }

    Blackbox(const Blackbox&) = delete;
    Blackbox& operator=(const Blackbox&) = delete;

private:
    Blackbox() = default;

    std::atomic<bool> started_ = false;
};

} // namespace kits

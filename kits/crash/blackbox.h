// The crash kit's public class. The host passes Blackbox::kitClass() to Keystone::with, which starts
// the kit and, beside it, the analytics kit.
#pragma once

#include "kits/crash/blackbox_delegate.h"
#include "kits/platform/kit_class.h"

#include <atomic>
#include <memory>
#include <mutex>

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

    // The host's delegate; set it before the kit starts (a later one misses the start's callbacks and
    // is warned about). Readers get the delegate as it was when they asked: never null.
    void setDelegate(BlackboxDelegate delegate);
    std::shared_ptr<const BlackboxDelegate> delegate() const;
    // How the kit asks the user before sending a report; empty (the default): no prompt is shown.
    void setPromptPresenter(BlackboxPromptPresenter presenter);
    BlackboxPromptPresenter promptPresenter() const;

    Blackbox(const Blackbox&) = delete;
    Blackbox& operator=(const Blackbox&) = delete;

private:
    Blackbox() = default;

    std::atomic<bool> started_ = false;
    mutable std::mutex hostMutex_;
    std::shared_ptr<const BlackboxDelegate> delegate_ = std::make_shared<BlackboxDelegate>();
    BlackboxPromptPresenter promptPresenter_;
};

} // namespace kits

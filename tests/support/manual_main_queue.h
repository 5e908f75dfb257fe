// The main queue as tests and test programs drive it: once installed, work posted to
// foundation::MainQueue waits here until the owner turns the queue, and then runs on the turning thread.
#pragma once

#include "foundation/dispatch_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace testsupport {

class ManualMainQueue {
public:
    // Makes this queue the main queue's executor. The owner resets the executor
    // (MainQueue::setExecutor(nullptr)) before the queue goes.
    void install()
    {
        foundation::MainQueue::setExecutor([this](foundation::Work work) {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
            arrived_.notify_all();
        });
    }

    // Runs the waiting work, including work it adds, and returns how many pieces ran. With a deadline
    // it also waits for work until then; without one it returns as soon as none is waiting.
    std::size_t turn(std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt)
    {
        std::size_t ran = 0;
        for (;;) {
            foundation::Work work;
            {
                std::unique_lock lock(mutex_);
                if (deadline)
                    arrived_.wait_until(lock, *deadline, [this] { return !work_.empty(); });
                if (work_.empty())
                    return ran;
                work = std::move(work_.front());
                work_.pop_front();
            }
            work();
            ++ran;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<foundation::Work> work_;
};

} // namespace testsupport

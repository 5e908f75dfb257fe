// One injectable source of delays and repeating timers for all kit work: in the program a timer thread,
// in tests a virtual clock that records each requested delay and runs the work when advanced. Work runs
// on the scheduler's thread (or the advancing thread); callers hand it on to their own queue.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace foundation {

using SchedulerDuration = std::chrono::duration<double>; // seconds

// Cancels its timer when cancelled; a copy cancels the same timer. Dropping it does not cancel.
class ScheduledWork {
public:
    ScheduledWork() = default;
    explicit ScheduledWork(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
    void cancel()
    {
        if (cancelled_)
            cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Runs `work` once, `delay` from now.
    virtual ScheduledWork after(SchedulerDuration delay, std::function<void()> work) = 0;
    // Runs `work` every `interval`, the first time one interval from now, until cancelled.
    virtual ScheduledWork every(SchedulerDuration interval, std::function<void()> work) = 0;
};

// The process-wide scheduler: a timer thread unless replaced (tests). Any thread.
std::shared_ptr<Scheduler> scheduler();
void setScheduler(std::shared_ptr<Scheduler> replacement);

// A virtual clock that starts at 0 and moves only when advanced.
class VirtualScheduler final : public Scheduler {
public:
    ScheduledWork after(SchedulerDuration delay, std::function<void()> work) override;
    ScheduledWork every(SchedulerDuration interval, std::function<void()> work) override;

    // Moves the clock forward, running due work in time order (then in the order it was asked for) on
    // the calling thread; work asked for while advancing runs when it falls within the same advance.
    void advance(SchedulerDuration by);
    SchedulerDuration now() const;
    // Every delay and interval asked for, in order.
    std::vector<SchedulerDuration> requestedDelays() const;
    // Timers not yet run (or repeating) and not cancelled.
    std::size_t pendingCount() const;

private:
    struct Entry;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<SchedulerDuration> requested_;
    SchedulerDuration now_{0};
    std::uint64_t nextSequence_ = 0;
};

} // namespace foundation

// The timer thread and the virtual scheduler.
#include "foundation/scheduler.h"

#include "foundation/dispatch_queue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace foundation {

namespace {

// One thread sleeping until the earliest timer is due.
class ThreadScheduler final : public Scheduler {
public:
    ThreadScheduler() : thread_([this] { run(); }) {}
    ~ThreadScheduler() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    ScheduledWork after(SchedulerDuration delay, std::function<void()> work) override
    {
        return add(delay, SchedulerDuration(0), std::move(work));
    }
    ScheduledWork every(SchedulerDuration interval, std::function<void()> work) override
    {
        return add(interval, interval, std::move(work));
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        std::uint64_t sequence;
        SchedulerDuration interval; // zero: once
        std::shared_ptr<std::atomic<bool>> cancelled;
        std::function<void()> work;
    };

    ScheduledWork add(SchedulerDuration delay, SchedulerDuration interval, std::function<void()> work)
    {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        {
            std::lock_guard lock(mutex_);
            timers_.push_back({Clock::now() + std::chrono::duration_cast<Clock::duration>(delay), nextSequence_++,
                               interval, cancelled, std::move(work)});
        }
        changed_.notify_all();
        return ScheduledWork(cancelled);
    }

    void run()
    {
        nameCurrentThread("scheduler");
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                         [](const Timer& timer) { return timer.cancelled->load(); }),
                          timers_.end());
            auto earliest = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
            });
            if (earliest == timers_.end()) {
                changed_.wait(lock);
                continue;
            }
            if (earliest->due > Clock::now()) {
                // A copy: the wait reads the time again after waking, when timers added meanwhile may have
                // moved the list.
                const Clock::time_point due = earliest->due;
                changed_.wait_until(lock, due);
                continue;
            }
            Timer due = std::move(*earliest);
            timers_.erase(earliest);
            if (due.interval.count() > 0) {
                Timer next = due;
                next.due = due.due + std::chrono::duration_cast<Clock::duration>(due.interval);
                next.sequence = nextSequence_++;
                timers_.push_back(std::move(next));
            }
            lock.unlock();
            if (!due.cancelled->load())
                due.work();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Timer> timers_;
    std::uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

struct InstalledScheduler {
    std::mutex mutex;
    std::shared_ptr<Scheduler> scheduler;
};
InstalledScheduler& installed()
{
    static InstalledScheduler* shared = new InstalledScheduler; // timers may fire during exit
    return *shared;
}

} // namespace

std::shared_ptr<Scheduler> scheduler()
{
    std::lock_guard lock(installed().mutex);
    if (!installed().scheduler)
        installed().scheduler = std::make_shared<ThreadScheduler>();
    return installed().scheduler;
}

void setScheduler(std::shared_ptr<Scheduler> replacement)
{
    std::shared_ptr<Scheduler> previous;
    {
        std::lock_guard lock(installed().mutex);
        previous = std::move(installed().scheduler);
        installed().scheduler = std::move(replacement);
    }
    // `previous` (perhaps a timer thread) ends here, outside the lock.
}

struct VirtualScheduler::Entry {
    SchedulerDuration due;
    std::uint64_t sequence;
    SchedulerDuration interval;
    std::shared_ptr<std::atomic<bool>> cancelled;
    std::function<void()> work;
};

ScheduledWork VirtualScheduler::after(SchedulerDuration delay, std::function<void()> work)
{
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    requested_.push_back(delay);
    entries_.push_back(std::make_shared<Entry>(
        Entry{now_ + delay, nextSequence_++, SchedulerDuration(0), cancelled, std::move(work)}));
    return ScheduledWork(cancelled);
}

ScheduledWork VirtualScheduler::every(SchedulerDuration interval, std::function<void()> work)
{
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard lock(mutex_);
    requested_.push_back(interval);
    entries_.push_back(
        std::make_shared<Entry>(Entry{now_ + interval, nextSequence_++, interval, cancelled, std::move(work)}));
    return ScheduledWork(cancelled);
}

void VirtualScheduler::advance(SchedulerDuration by)
{
    std::unique_lock lock(mutex_);
    const SchedulerDuration target = now_ + by;
    for (;;) {
        std::erase_if(entries_, [](const auto& entry) { return entry->cancelled->load(); });
        auto earliest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a->due != b->due ? a->due < b->due : a->sequence < b->sequence;
        });
        // A small tolerance: 0.1 s steps that add up to 2.0 s must reach a 2.0 s timer.
        if (earliest == entries_.end() || (*earliest)->due.count() > target.count() + 1e-9)
            break;
        std::shared_ptr<Entry> due = *earliest;
        now_ = std::max(now_, due->due);
        if (due->interval.count() > 0) {
            auto next = std::make_shared<Entry>(*due);
            next->due = due->due + due->interval;
            next->sequence = nextSequence_++;
            entries_.push_back(std::move(next));
        }
        entries_.erase(std::find(entries_.begin(), entries_.end(), due));
        lock.unlock();
        due->work();
        lock.lock();
    }
    now_ = target;
}

SchedulerDuration VirtualScheduler::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

std::vector<SchedulerDuration> VirtualScheduler::requestedDelays() const
{
    std::lock_guard lock(mutex_);
    return requested_;
}

std::size_t VirtualScheduler::pendingCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return !entry->cancelled->load(); }));
}

} // namespace foundation

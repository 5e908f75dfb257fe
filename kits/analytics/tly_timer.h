// The analytics kit's repeating timer (behind the flush timer): every interval it adds its block to
// its operation queue. Linux has no background activity scheduler, so it always runs as a repeating
// timer on the kits' scheduler, one interval after creation first, with a tolerance of a tenth of
// the interval. Destroying the timer stops it.
#pragma once

#include "foundation/operation_queue.h"
#include "foundation/scheduler.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kits {

class TLYTimer : public std::enable_shared_from_this<TLYTimer> {
public:
    // Makes the timer and schedules it at once. An interval that is not a positive finite number of
    // seconds schedules nothing (and says so): such a timer would fire without pause.
    static std::shared_ptr<TLYTimer> initWithTimeInterval(double timeInterval,
                                                          std::shared_ptr<foundation::OperationQueue> queue,
                                                          std::string timerIdentifier, std::function<void()> block);
    ~TLYTimer();
    TLYTimer(const TLYTimer&) = delete;
    TLYTimer& operator=(const TLYTimer&) = delete;

    double timeInterval() const { return timeInterval_; }
    double tolerance() const { return timeInterval_ / 10; }
    const std::shared_ptr<foundation::OperationQueue>& queue() const { return queue_; }
    const std::string& timerIdentifier() const { return timerIdentifier_; }
    // The interval and the tolerance as the timer source takes them: seconds × 1e9, truncated.
    std::uint64_t intervalNanoseconds() const;
    std::uint64_t leewayNanoseconds() const;
    // Whether a timer source is running.
    bool isScheduled() const;

    // Replaces any earlier source by a new repeating one (the only path on Linux).
    void scheduleTimer();
    void scheduleDispatchTimer();
    // Adds the block to the queue as an operation.
    void executeBlock();

private:
    TLYTimer(double timeInterval, std::shared_ptr<foundation::OperationQueue> queue, std::string timerIdentifier,
             std::function<void()> block);

    const double timeInterval_;
    const std::shared_ptr<foundation::OperationQueue> queue_;
    const std::string timerIdentifier_;
    const std::function<void()> timerBlock_;
    mutable std::mutex mutex_;
    std::optional<foundation::ScheduledWork> timerSource_;
};

} // namespace kits

// The analytics timer on the kits' scheduler.
#include "kits/analytics/tly_timer.h"

#include "kits/platform/kit_log.h"

#include <cmath>
#include <limits>

namespace kits {

namespace {

std::uint64_t toNanoseconds(double seconds)
{
    const double nanoseconds = seconds * 1e9;
    if (!(nanoseconds > 0))
        return 0;
    if (nanoseconds >= static_cast<double>(std::numeric_limits<std::uint64_t>::max()))
        return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(nanoseconds);
}

} // namespace

TLYTimer::TLYTimer(double timeInterval, std::shared_ptr<foundation::OperationQueue> queue, std::string timerIdentifier,
                   std::function<void()> block)
    : timeInterval_(timeInterval), queue_(std::move(queue)), timerIdentifier_(std::move(timerIdentifier)),
      timerBlock_(std::move(block))
{}

std::shared_ptr<TLYTimer> TLYTimer::initWithTimeInterval(double timeInterval,
                                                         std::shared_ptr<foundation::OperationQueue> queue,
                                                         std::string timerIdentifier, std::function<void()> block)
{
    std::shared_ptr<TLYTimer> timer(
        new TLYTimer(timeInterval, std::move(queue), std::move(timerIdentifier), std::move(block)));
    timer->scheduleTimer();
    return timer;
}

TLYTimer::~TLYTimer()
{
    std::lock_guard lock(mutex_);
    if (timerSource_)
        timerSource_->cancel();
}

std::uint64_t TLYTimer::intervalNanoseconds() const
{
    return toNanoseconds(timeInterval_);
}

std::uint64_t TLYTimer::leewayNanoseconds() const
{
    return toNanoseconds(tolerance());
}

bool TLYTimer::isScheduled() const
{
    std::lock_guard lock(mutex_);
    return timerSource_ && !timerSource_->isCancelled();
}

void TLYTimer::scheduleTimer()
{
    scheduleDispatchTimer();
}

void TLYTimer::scheduleDispatchTimer()
{
    std::lock_guard lock(mutex_);
    if (timerSource_)
        timerSource_->cancel();
    timerSource_.reset();
    if (!std::isfinite(timeInterval_) || timeInterval_ <= 0) {
        kitLog("[Tally] Timer " + timerIdentifier_
               + " not scheduled: its interval must be a positive number "
                 "of seconds");
        return;
    }
    // The handler holds the timer weakly: a destroyed timer is never fired, and the source ends with it.
    std::weak_ptr<TLYTimer> weak = weak_from_this();
    timerSource_ = foundation::scheduler()->every(foundation::SchedulerDuration(timeInterval_), [weak] {
        if (const auto timer = weak.lock())
            timer->executeBlock();
    });
}

void TLYTimer::executeBlock()
{
    if (queue_ && timerBlock_)
        queue_->addOperationWithBlock(timerBlock_);
}

} // namespace kits

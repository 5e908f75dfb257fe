// The in-memory event controller: a bounded, locked queue of the latest events.

#include "kits/analytics/event_controller.h"

#include <utility>

namespace kits {

TLYRecordingEventController::TLYRecordingEventController(std::size_t capacity) : capacity_(capacity) {}

void TLYRecordingEventController::logEvent(std::shared_ptr<const TLYEvent> event)
{
    std::lock_guard lock(mutex_);
    if (capacity_ == 0 || !event)
        return;
    if (events_.size() == capacity_)
        events_.pop_front();
    events_.push_back(std::move(event));
}

void TLYRecordingEventController::logCrashEvent(std::shared_ptr<const TLYCrashEvent> event)
{
    logEvent(std::move(event));
}

std::vector<std::shared_ptr<const TLYEvent>> TLYRecordingEventController::events() const
{
    std::lock_guard lock(mutex_);
    return {events_.begin(), events_.end()};
}

} // namespace kits

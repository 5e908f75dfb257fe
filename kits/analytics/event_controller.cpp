// The in-memory event controller: a bounded, locked queue of the latest events.

#include "kits/analytics/event_controller.h"

#include <utility>

namespace kits {

TLYRecordingEventController::TLYRecordingEventController(std::size_t capacity) : capacity_(capacity) {}

void TLYRecordingEventController::queueEvent(TLYEvent event)
{
    std::lock_guard lock(mutex_);
    if (capacity_ == 0)
        return;
    if (events_.size() == capacity_)
        events_.pop_front();
    events_.push_back(std::move(event));
}

std::vector<TLYEvent> TLYRecordingEventController::events() const
{
    std::lock_guard lock(mutex_);
    return {events_.begin(), events_.end()};
}

} // namespace kits

// Where Tally hands its events: the controller interface, and the in-memory controller the kit starts
// with until the event log arrives. Controllers are called from any thread.
#pragma once

#include "kits/analytics/tly_event.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace kits {

class TLYEventController {
public:
    virtual ~TLYEventController() = default;
    // Takes the event over; returns at once and tells the caller nothing of the outcome.
    virtual void queueEvent(TLYEvent event) = 0;
};

// Keeps the most recent events in memory; beyond `capacity` the oldest is dropped, so a long session
// cannot grow without bound.
class TLYRecordingEventController final : public TLYEventController {
public:
    static constexpr std::size_t defaultCapacity = 1000;

    explicit TLYRecordingEventController(std::size_t capacity = defaultCapacity);
    void queueEvent(TLYEvent event) override;
    // The kept events, oldest first.
    std::vector<TLYEvent> events() const;

private:
    mutable std::mutex mutex_;
    std::size_t capacity_;
    std::deque<TLYEvent> events_;
};

} // namespace kits

// Where Tally hands its events: the controller interface, and the in-memory controller the kit starts
// with until the event log controller arrives (tests use it to see what was logged). Controllers are
// called from any thread.
#pragma once

#include "kits/analytics/tly_event.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace kits {

class TLYEventController {
public:
    virtual ~TLYEventController() = default;
    // Take the event over; return at once and tell the caller nothing of the outcome.
    virtual void logEvent(std::shared_ptr<const TLYEvent> event) = 0;
    // A crash of the previous session, to be written with that session's metadata.
    virtual void logCrashEvent(std::shared_ptr<const TLYCrashEvent> event) = 0;
};

// Keeps the most recent events (crash events among them) in memory; beyond `capacity` the oldest is
// dropped, so a long session cannot grow without bound.
class TLYRecordingEventController final : public TLYEventController {
public:
    static constexpr std::size_t defaultCapacity = 1000;

    explicit TLYRecordingEventController(std::size_t capacity = defaultCapacity);
    void logEvent(std::shared_ptr<const TLYEvent> event) override;
    void logCrashEvent(std::shared_ptr<const TLYCrashEvent> event) override;
    // The kept events, oldest first.
    std::vector<std::shared_ptr<const TLYEvent>> events() const;

private:
    mutable std::mutex mutex_;
    std::size_t capacity_;
    std::deque<std::shared_ptr<const TLYEvent>> events_;
};

} // namespace kits

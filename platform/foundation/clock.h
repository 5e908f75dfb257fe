// The instant type of the whole program and an injectable source of "now".
// Everything that asks for the current time goes through foundation::now(), so tests can pin it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

namespace foundation {

// An instant in time, microsecond precision, counted from the Unix epoch in UTC.
using Date = std::chrono::sys_time<std::chrono::microseconds>;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

// The real clock of the system.
class SystemClock final : public Clock {
public:
    Date now() const override;
};

// A clock that stands still until told otherwise; for tests and benchmarks. Any thread may read it
// while a test moves it.
class FixedClock final : public Clock {
public:
    explicit FixedClock(Date start) : current_(start) {}
    Date now() const override { return current_.load(); }
    void set(Date date) { current_.store(date); }
    void advance(std::chrono::microseconds by) { current_.store(current_.load() + by); }

private:
    std::atomic<Date> current_;
};

// The process-wide clock (the system clock unless replaced); any thread. The pointer keeps a clock
// alive for its reader even when another thread replaces it meanwhile.
std::shared_ptr<const Clock> clock();
Date now();

// Replaces the process-wide clock atomically; nullptr restores the system clock. Kit threads may read
// the clock at the same time.
void setClock(std::shared_ptr<const Clock> replacement);

// Installs a clock for the life of a scope (tests).
class ScopedClock {
public:
    explicit ScopedClock(std::shared_ptr<const Clock> replacement);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    std::shared_ptr<const Clock> previous_;
};

// Seconds since the Unix epoch as a double, and back (rounded to the microsecond).
double secondsSinceEpoch(Date date);
Date dateFromSecondsSinceEpoch(double seconds);

} // namespace foundation

// The process-wide clock: the system clock unless a test installs another one.
#include "foundation/clock.h"

#include <cmath>
#include <mutex>

namespace foundation {
namespace {

// The installed clock behind a mutex: a swap and every read are whole, and a reader's copy keeps the
// clock it read alive.
class InstalledClock {
public:
    std::shared_ptr<const Clock> load() const
    {
        std::lock_guard lock(mutex_);
        return clock_;
    }
    void store(std::shared_ptr<const Clock> replacement)
    {
        std::lock_guard lock(mutex_);
        clock_.swap(replacement);
        // `replacement` now holds the old clock, released after the lock.
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Clock> clock_ = std::make_shared<SystemClock>();
};

InstalledClock& installedClock()
{
    // Never destroyed: the kits' threads may still read it while the process exits.
    static auto* installed = new InstalledClock();
    return *installed;
}

} // namespace

Date SystemClock::now() const
{
    return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

std::shared_ptr<const Clock> clock()
{
    return installedClock().load();
}

Date now()
{
    return installedClock().load()->now();
}

void setClock(std::shared_ptr<const Clock> replacement)
{
    installedClock().store(replacement ? std::move(replacement) : std::make_shared<SystemClock>());
}

ScopedClock::ScopedClock(std::shared_ptr<const Clock> replacement) : previous_(installedClock().load())
{
    setClock(std::move(replacement));
}

ScopedClock::~ScopedClock()
{
    installedClock().store(previous_);
}

double secondsSinceEpoch(Date date)
{
    return std::chrono::duration<double>(date.time_since_epoch()).count();
}

Date dateFromSecondsSinceEpoch(double seconds)
{
    return Date(std::chrono::microseconds(std::llround(seconds * 1e6)));
}

} // namespace foundation

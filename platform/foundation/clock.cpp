// The process-wide clock: the system clock unless a test installs another one.
#include "foundation/clock.h"

#include <cmath>

namespace foundation {
namespace {

std::shared_ptr<const Clock>& installedClock()
{
    static std::shared_ptr<const Clock> installed = std::make_shared<SystemClock>();
    return installed;
}

} // namespace

Date SystemClock::now() const
{
    return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

const Clock& clock()
{
    return *installedClock();
}

Date now()
{
    return installedClock()->now();
}

void setClock(std::shared_ptr<const Clock> replacement)
{
    installedClock() = replacement ? std::move(replacement) : std::make_shared<SystemClock>();
}

ScopedClock::ScopedClock(std::shared_ptr<const Clock> replacement) : previous_(installedClock())
{
    setClock(std::move(replacement));
}

ScopedClock::~ScopedClock()
{
    installedClock() = previous_;
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

// The real-time clock in nanoseconds, for comparing when things happened across processes (a test
// and the programs it runs).
#pragma once

#include <ctime>

namespace testsupport {

inline long realTimeNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1'000'000'000L + now.tv_nsec;
}

} // namespace testsupport

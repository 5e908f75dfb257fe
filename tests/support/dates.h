// Instants for tests, written as the UTC wall time they name: utc(2024, 3, 31, 1, 30) is 2024-03-31
// 01:30:00 UTC. Hours, minutes and seconds may run past their range or below zero, counting from the
// start of the day, so an instant in another zone reads utc(2024, 3, 31, hour - offset).
#pragma once

#include "foundation/clock.h"

#include <date/date.h>

#include <chrono>

namespace testsupport {

inline foundation::Date utc(int year, unsigned month, unsigned day, int hour = 0, int minute = 0, int second = 0)
{
    return foundation::Date(date::sys_days(date::year(year) / month / day)) + std::chrono::hours(hour)
           + std::chrono::minutes(minute) + std::chrono::seconds(second);
}

} // namespace testsupport

// The bounds of the date filter's day, week, month and year ranges around a reference date: both ends
// inclusive, from 00:00:00 of the first day to 23:59:59 of the last (the second before the next day).
#pragma once

#include "model/enums.h"

#include "foundation/clock.h"

#include <optional>

namespace foundation {
class Calendar;
}

namespace model {

struct DateFilterInterval {
    foundation::Date from;
    foundation::Date to;

    friend bool operator==(const DateFilterInterval&, const DateFilterInterval&) = default;
};

// Day, week (starting on the locale's first weekday, the week that contains `reference`), month or
// year around `reference`. Nothing for `all` (no bounds) and `custom` (the caller keeps its own), and
// nothing at the edge of the calendar's years.
std::optional<DateFilterInterval> dateFilterInterval(DateFilterRange range, foundation::Date reference,
                                                     const foundation::Calendar& calendar);
// The same in the user's current calendar.
std::optional<DateFilterInterval> dateFilterInterval(DateFilterRange range, foundation::Date reference);

// The local day `year`-`month`-`day` (fields carry over: day 32 of January is February 1st), from its
// first instant to the second before the next day starts; nothing outside the calendar's years.
std::optional<DateFilterInterval> dayInterval(int year, int month, int day, const foundation::Calendar& calendar);
std::optional<DateFilterInterval> dayInterval(int year, int month, int day);

} // namespace model

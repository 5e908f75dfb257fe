// Date helpers on foundation::Date in the user's current calendar (read from the environment at each
// call), and the split and text of durations given in whole minutes.
#pragma once

#include "foundation/calendar.h"

#include <cstdint>
#include <string>
#include <utility>

namespace model {

using foundation::Date;

// Year, month, day, hour, minute and second (no fraction).
foundation::DateComponents components(Date date);

// The start of the date's minute, keeping the date's own UTC offset (a time in the repeated hour of
// an autumn change stays in that hour).
Date roundedToMinute(Date date);

// The last second of the date's month (23:59:59 of its last day, the second such when that day's last
// hour repeats), and January 1st of its year at 00:00:00.
Date endOfMonth(Date date);
Date startOfYear(Date date);

// Move by N calendar units, keeping the wall time; months and years clamp to the end of the month.
// At the edge of the calendar's years (1 to 9999) the date is returned unchanged.
Date addingDays(Date date, int days);
Date addingMonths(Date date, int months);
Date addingYears(Date date, int years);
Date subtractingDays(Date date, int days);
Date subtractingMonths(Date date, int months);
Date subtractingYears(Date date, int years);

// Hours rounded toward minus infinity and the remaining minutes 0-59: -1 -> (-1, 59).
std::pair<std::int64_t, std::int64_t> splitHoursMinutes(std::int64_t minutes);

// "01h\u00A030m": hours and minutes of at least two digits, joined by a no-break space so that a
// duration never wraps inside; hours are not capped. A negative duration (an end before its start,
// as stored files may hold) is a minus sign and its magnitude: -46 is "-00h\u00A046m".
std::string formattedDuration(std::int64_t minutes);

// The clock text of a duration: "01:30", hours not capped. A negative one is a minus sign and its
// magnitude with the sign inside the hours' two places, so a column keeps its width: -46 is "-0:46",
// -74 "-1:14".
std::string clockDuration(std::int64_t minutes);

} // namespace model

// Date helpers over the current calendar; each call takes the calendar afresh so that a change of
// zone or locale applies at once.
#include "model/dates.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace model {
namespace {

using foundation::Calendar;

// The calendar only fails beyond its years 1 to 9999; there a move has nowhere to go.
Date orUnchanged(std::optional<Date> moved, Date date)
{
    return moved.value_or(date);
}

// Negating INT_MIN would overflow; one day/month/year less is as good at the calendar's edge.
int negated(int n)
{
    return n == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -n;
}

} // namespace

foundation::DateComponents components(Date date)
{
    foundation::DateComponents result = Calendar::current().components(date);
    result.nanosecond.reset();
    return result;
}

Date roundedToMinute(Date date)
{
    return Calendar::current().truncatedToMinute(date);
}

Date endOfMonth(Date date)
{
    const Calendar calendar = Calendar::current();
    foundation::DateComponents c = calendar.components(date);
    // The second before the next month starts: 23:59:59 of the last day, the second one when the
    // clock goes back at that midnight.
    c.month = *c.month + 1;
    c.day = 1;
    c.hour = 0;
    c.minute = 0;
    c.second = 0;
    c.nanosecond = 0;
    if (const auto nextMonth = calendar.date(c))
        return *nextMonth - std::chrono::seconds(1);
    // December of the calendar's last year has no next month.
    c.day = 0;
    c.hour = 23;
    c.minute = 59;
    c.second = 59;
    return orUnchanged(calendar.date(c), date);
}

Date startOfYear(Date date)
{
    const Calendar calendar = Calendar::current();
    foundation::DateComponents c = calendar.components(date);
    c.month = 1;
    c.day = 1;
    c.hour = 0;
    c.minute = 0;
    c.second = 0;
    c.nanosecond = 0;
    return orUnchanged(calendar.date(c), date);
}

// clang-format off
Date addingDays(Date date, int days) { return orUnchanged(Calendar::current().addingDays(date, days), date); }
Date addingMonths(Date date, int months) { return orUnchanged(Calendar::current().addingMonths(date, months), date); }
Date addingYears(Date date, int years) { return orUnchanged(Calendar::current().addingYears(date, years), date); }
Date subtractingDays(Date date, int days) { return addingDays(date, negated(days)); }
Date subtractingMonths(Date date, int months) { return addingMonths(date, negated(months)); }
Date subtractingYears(Date date, int years) { return addingYears(date, negated(years)); }
// clang-format on

std::pair<std::int64_t, std::int64_t> splitHoursMinutes(std::int64_t minutes)
{
    // Integer floor division: exact for every value, unlike a round trip through double.
    std::int64_t hours = minutes / 60;
    std::int64_t rest = minutes % 60;
    if (rest < 0) {
        hours -= 1;
        rest += 60;
    }
    return {hours, rest};
}

namespace {

// Hours and minutes of the duration's magnitude; unsigned, so that even the most negative minutes
// have one.
std::pair<std::uint64_t, std::uint64_t> magnitudeHoursMinutes(std::int64_t minutes)
{
    const std::uint64_t magnitude =
        minutes < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(minutes) : static_cast<std::uint64_t>(minutes);
    return {magnitude / 60, magnitude % 60};
}

} // namespace

std::string formattedDuration(std::int64_t minutes)
{
    const auto [hours, rest] = magnitudeHoursMinutes(minutes);
    char text[64];
    std::snprintf(text, sizeof text, "%s%02" PRIu64 "h\u00A0%02" PRIu64 "m", minutes < 0 ? "-" : "", hours, rest);
    return text;
}

std::string clockDuration(std::int64_t minutes)
{
    const auto [hours, rest] = magnitudeHoursMinutes(minutes);
    char text[48];
    if (minutes < 0)
        std::snprintf(text, sizeof text, "-%" PRIu64 ":%02" PRIu64, hours, rest);
    else
        std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64, hours, rest);
    return text;
}

} // namespace model

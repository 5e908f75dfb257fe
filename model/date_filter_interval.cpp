// Date filter bounds, built from local fields: a period runs from the first instant of its first day
// (after the gap when midnight is skipped) to the second before the next period starts, so that the
// repeated last hour of a day whose clock goes back at midnight belongs to it.
#include "model/date_filter_interval.h"

#include "foundation/calendar.h"

namespace model {
namespace {

using foundation::Calendar;
using foundation::DateComponents;

DateComponents atTime(DateComponents c, int dayOffset, int hour, int minute, int second)
{
    c.day = *c.day + dayOffset;
    c.hour = hour;
    c.minute = minute;
    c.second = second;
    c.nanosecond = 0;
    return c;
}

// From 00:00:00 of the first day to the second before 00:00:00 of the day after the last (23:59:59
// of the last day, the second one when its last hour repeats), both days given as local fields.
std::optional<DateFilterInterval> spanning(const Calendar& calendar, DateComponents first, DateComponents last)
{
    const auto from = calendar.date(atTime(first, 0, 0, 0, 0));
    const auto next = calendar.date(atTime(last, 1, 0, 0, 0));
    // The calendar's last day has no next one: it ends at its own 23:59:59.
    const auto to = next ? std::optional(*next - std::chrono::seconds(1)) : calendar.date(atTime(last, 0, 23, 59, 59));
    if (!from || !to)
        return std::nullopt;
    return DateFilterInterval{*from, *to};
}

} // namespace

std::optional<DateFilterInterval> dateFilterInterval(DateFilterRange range, foundation::Date reference,
                                                     const Calendar& calendar)
{
    const DateComponents day = calendar.components(reference);
    switch (range) {
    case DateFilterRange::all:
    case DateFilterRange::custom: return std::nullopt;
    case DateFilterRange::day: return spanning(calendar, day, day);
    case DateFilterRange::week: {
        // Days back to the week's first day; always the week that contains the reference date, also
        // around New Year.
        const int back = (calendar.weekday(reference) - calendar.firstWeekday() + 7) % 7;
        return spanning(calendar, atTime(day, -back, 0, 0, 0), atTime(day, 6 - back, 0, 0, 0));
    }
    case DateFilterRange::month: {
        DateComponents first = day;
        first.day = 1;
        DateComponents last = day;
        last.month = *day.month + 1; // day 0 of the next month
        last.day = 0;
        return spanning(calendar, first, last);
    }
    case DateFilterRange::year: {
        DateComponents first = day;
        first.month = 1;
        first.day = 1;
        DateComponents last = day;
        last.month = 12;
        last.day = 31;
        return spanning(calendar, first, last);
    }
    }
    return std::nullopt;
}

std::optional<DateFilterInterval> dayInterval(int year, int month, int day, const Calendar& calendar)
{
    DateComponents fields;
    fields.year = year;
    fields.month = month;
    fields.day = day;
    return spanning(calendar, fields, fields);
}

std::optional<DateFilterInterval> dayInterval(int year, int month, int day)
{
    return dayInterval(year, month, day, Calendar::current());
}

std::optional<DateFilterInterval> dateFilterInterval(DateFilterRange range, foundation::Date reference)
{
    return dateFilterInterval(range, reference, Calendar::current());
}

} // namespace model

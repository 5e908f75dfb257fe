// The Gregorian calendar in one time zone: instant <-> local wall time and calendar arithmetic.
// Zone rules come from the system tz database (through date/tz), never from ICU, whose rules are stale.
#pragma once

#include "foundation/clock.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace date {
class time_zone;
}

namespace foundation {

// Local calendar fields; a missing field means "not given" (or "not asked for").
struct DateComponents {
    std::optional<int> year;
    std::optional<int> month;
    std::optional<int> day;
    std::optional<int> hour;
    std::optional<int> minute;
    std::optional<int> second;
    std::optional<int> nanosecond;

    friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

class Calendar {
public:
    // An unknown zone name falls back to UTC (reported once on stderr). An empty locale id means
    // the POSIX locale.
    Calendar(std::string_view zoneName, std::string_view localeId);

    // The user's calendar as the environment says now: zone from TZ (":Zone" or "Zone"; unset means
    // the system zone), locale from LC_ALL > LC_TIME > LANG.
    static Calendar current();

    // The zone name actually in use ("UTC" after a fallback) and the ICU locale id.
    const std::string& zoneName() const { return zoneName_; }
    const std::string& localeId() const { return localeId_; }

    // 1 = Sunday ... 7 = Saturday, as the locale's week starts.
    int firstWeekday() const { return firstWeekday_; }

    // Every field filled in, nanosecond included (microsecond resolution).
    DateComponents components(Date date) const;
    // 1 = Sunday ... 7 = Saturday of the local day of `date`.
    int weekday(Date date) const;
    std::chrono::seconds utcOffset(Date date) const;
    // The local wall time of `date` written as the UTC instant with the same fields, for formatters
    // that must not apply zone rules of their own.
    Date wallTimeAsUtc(Date date) const;

    // Makes an instant of local fields. Missing fields count as year 1, month 1, day 1, 0 for the
    // rest; out-of-range fields carry over (month 13 is January of the next year, day 0 the last day
    // of the previous month, hour 24 the next day). A local time skipped by a clock change gives the
    // first instant after the gap; a repeated one the earlier instant. Nothing when the result lies
    // outside the years 1 to 9999.
    std::optional<Date> date(const DateComponents& components) const;

    // Moves by whole calendar units, keeping the local wall time. Months and years clamp the day to
    // the end of the target month (31 Jan + 1 month = 28/29 Feb). Nothing outside the years 1 to 9999.
    std::optional<Date> addingDays(Date date, int days) const;
    std::optional<Date> addingMonths(Date date, int months) const;
    std::optional<Date> addingYears(Date date, int years) const;

    // Drops seconds and fractions while keeping the instant's own UTC offset, so an instant in the
    // repeated hour of an autumn change stays in that hour.
    Date truncatedToMinute(Date date) const;

private:
    std::optional<Date> resolve(std::int64_t wallMicros, std::optional<std::chrono::seconds> preferredOffset) const;
    std::optional<Date> shiftedMonths(Date date, std::int64_t months) const;

    const date::time_zone* zone_; // nullptr for UTC
    std::string zoneName_;
    std::string localeId_;
    int firstWeekday_;
};

} // namespace foundation

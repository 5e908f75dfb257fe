// Date filter bounds by range, locale (first weekday) and zone, with expected instants in UTC.
#include "model/date_filter_interval.h"

#include "foundation/calendar.h"
#include "support/scoped_environment.h"

#include <date/date.h>
#include <gtest/gtest.h>

using foundation::Calendar;
using foundation::Date;
using model::DateFilterInterval;
using model::DateFilterRange;
using model::dateFilterInterval;

namespace {

Date utc(int y, unsigned m, unsigned d, int h = 0, int mi = 0, int s = 0)
{
    return Date(date::sys_days(date::year(y) / m / d)) + std::chrono::hours(h) + std::chrono::minutes(mi) +
           std::chrono::seconds(s);
}

// In UTC the expected bounds read as wall times: the first day 00:00:00 to the last day 23:59:59.
DateFilterInterval days(int y1, unsigned m1, unsigned d1, int y2, unsigned m2, unsigned d2)
{
    return {utc(y1, m1, d1), utc(y2, m2, d2, 23, 59, 59)};
}

} // namespace

TEST(DateFilterInterval, WeekStartsOnTheLocalesFirstWeekday)
{
    const Date wednesday = utc(2024, 3, 6, 14, 30);
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, wednesday, Calendar("UTC", "en_US")),
              days(2024, 3, 3, 2024, 3, 9));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, wednesday, Calendar("UTC", "de_DE")),
              days(2024, 3, 4, 2024, 3, 10));
    // The first and last instant of a week belong to it.
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2024, 3, 4), Calendar("UTC", "de_DE")),
              days(2024, 3, 4, 2024, 3, 10));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2024, 3, 10, 23, 59, 59), Calendar("UTC", "de_DE")),
              days(2024, 3, 4, 2024, 3, 10));
}

TEST(DateFilterInterval, WeekAcrossNewYearContainsTheReferenceDate)
{
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2024, 12, 31, 12), Calendar("UTC", "de_DE")),
              days(2024, 12, 30, 2025, 1, 5));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2027, 1, 1, 12), Calendar("UTC", "en_US")),
              days(2026, 12, 27, 2027, 1, 2));
}

TEST(DateFilterInterval, UsesTheCurrentZoneAndLocale)
{
    auto env = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    // 23:30 UTC on Sunday 2024-03-10 is already Monday 2024-03-11 in Berlin.
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2024, 3, 10, 23, 30)),
              (DateFilterInterval{utc(2024, 3, 10, 23), utc(2024, 3, 17, 22, 59, 59)}));
    // The day of the spring change has 23 hours and still ends at 23:59:59.
    EXPECT_EQ(dateFilterInterval(DateFilterRange::day, utc(2024, 3, 31, 12)),
              (DateFilterInterval{utc(2024, 3, 30, 23), utc(2024, 3, 31, 21, 59, 59)}));

    testsupport::ScopedEnvironment american{{"LANG", "en_US.UTF-8"}};
    EXPECT_EQ(dateFilterInterval(DateFilterRange::week, utc(2024, 3, 10, 23, 30)),
              (DateFilterInterval{utc(2024, 3, 9, 23), utc(2024, 3, 16, 22, 59, 59)}));
}

TEST(DateFilterInterval, DayMonthAndYear)
{
    const Calendar calendar("UTC", "en_US");
    const Date reference = utc(2024, 2, 10, 12, 34, 56);
    EXPECT_EQ(dateFilterInterval(DateFilterRange::day, reference, calendar), days(2024, 2, 10, 2024, 2, 10));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::month, reference, calendar), days(2024, 2, 1, 2024, 2, 29));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::month, utc(2024, 12, 15), calendar), days(2024, 12, 1, 2024, 12, 31));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::year, reference, calendar), days(2024, 1, 1, 2024, 12, 31));
    EXPECT_EQ(dateFilterInterval(DateFilterRange::all, reference, calendar), std::nullopt);
    EXPECT_EQ(dateFilterInterval(DateFilterRange::custom, reference, calendar), std::nullopt);
}

TEST(DateFilterInterval, DayWithASkippedMidnightStartsAfterTheGap)
{
    // Santiago skipped 2024-09-08 00:00-01:00; that day starts at 01:00 -03.
    const Calendar santiago("America/Santiago", "es_CL");
    EXPECT_EQ(dateFilterInterval(DateFilterRange::day, utc(2024, 9, 8, 15), santiago),
              (DateFilterInterval{utc(2024, 9, 8, 4), utc(2024, 9, 9, 2, 59, 59)}));
}

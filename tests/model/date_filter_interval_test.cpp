// Date filter bounds by range, locale (first weekday) and zone, with expected instants in UTC.
#include "model/date_filter_interval.h"

#include "foundation/calendar.h"
#include "support/dates.h"
#include "support/scoped_environment.h"

#include <gtest/gtest.h>

using foundation::Calendar;
using foundation::Date;
using model::DateFilterInterval;
using model::dateFilterInterval;
using model::DateFilterRange;
using testsupport::utc;

namespace {

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

TEST(DateFilterInterval, DayWhoseLastHourRepeatsEndsAfterTheSecondOne)
{
    // Santiago, Saturday 2024-04-06: 24:00 -03 becomes 23:00 -04, so 23:00-23:59 happens twice.
    const Calendar santiago("America/Santiago", "en_US");
    const Date secondElevenFiftyNine = utc(2024, 4, 7, 3, 59); // 23:59 -04, the second one
    const auto saturday = dateFilterInterval(DateFilterRange::day, utc(2024, 4, 6, 15), santiago);
    const auto sunday = dateFilterInterval(DateFilterRange::day, utc(2024, 4, 7, 15), santiago);
    ASSERT_TRUE(saturday && sunday);
    EXPECT_EQ(*saturday, (DateFilterInterval{utc(2024, 4, 6, 3), utc(2024, 4, 7, 3, 59, 59)}));
    EXPECT_EQ(sunday->from, utc(2024, 4, 7, 4));
    EXPECT_LE(secondElevenFiftyNine, saturday->to);
    // With Sunday first, the week of that Saturday ends with it.
    const auto week = dateFilterInterval(DateFilterRange::week, utc(2024, 4, 3, 15), santiago);
    ASSERT_TRUE(week);
    EXPECT_EQ(week->to, utc(2024, 4, 7, 3, 59, 59));
    EXPECT_EQ(model::dayInterval(2024, 4, 6, santiago), saturday);

    // Cairo, Thursday 2024-10-31: 24:00 +03 becomes 23:00 +02, the last hour of October.
    const Calendar cairo("Africa/Cairo", "en_US");
    const auto october = dateFilterInterval(DateFilterRange::month, utc(2024, 10, 15, 12), cairo);
    ASSERT_TRUE(october);
    EXPECT_EQ(october->to, utc(2024, 10, 31, 21, 59, 59));
}

TEST(DateFilterInterval, ConsecutivePeriodsLeaveNoGapAndDoNotOverlap)
{
    // Zones with a repeated last hour, a skipped midnight, ordinary changes, and none.
    for (const char* zone : {"America/Santiago", "Africa/Cairo", "America/Havana", "Europe/Berlin", "UTC"}) {
        const Calendar calendar(zone, "en_US");
        for (int day = 1; day <= 366; ++day) {
            const auto today = model::dayInterval(2024, 1, day, calendar);
            const auto tomorrow = model::dayInterval(2024, 1, day + 1, calendar);
            ASSERT_TRUE(today && tomorrow);
            ASSERT_EQ(today->to + std::chrono::seconds(1), tomorrow->from) << zone << " day " << day;
            ASSERT_LT(today->from, today->to);
        }
        for (const DateFilterRange range : {DateFilterRange::week, DateFilterRange::month, DateFilterRange::year}) {
            Date reference = utc(2024, 1, 10, 12);
            for (int step = 0; step < 30; ++step) {
                const auto period = dateFilterInterval(range, reference, calendar);
                ASSERT_TRUE(period);
                const auto next = dateFilterInterval(range, period->to + std::chrono::seconds(1), calendar);
                ASSERT_TRUE(next);
                ASSERT_EQ(period->to + std::chrono::seconds(1), next->from) << zone;
                reference = next->from + std::chrono::hours(36);
            }
        }
    }
}

TEST(DateFilterInterval, DayWithASkippedMidnightEndsWhereTheNextDayBegins)
{
    // Santiago skipped 2024-09-08 00:00-01:00: Saturday ends at 23:59:59 -04, Sunday starts at 01:00 -03.
    const Calendar santiago("America/Santiago", "en_US");
    EXPECT_EQ(model::dayInterval(2024, 9, 7, santiago),
              (DateFilterInterval{utc(2024, 9, 7, 4), utc(2024, 9, 8, 3, 59, 59)}));
    // The calendar's last day ends at its own 23:59:59.
    EXPECT_EQ(model::dayInterval(9999, 12, 31, Calendar("UTC", "en_US")), days(9999, 12, 31, 9999, 12, 31));
}

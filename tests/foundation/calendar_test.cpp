// Calendar: zone choice from TZ, local fields and their normalisation, clock changes (gaps, repeated
// hours), month/year clamping and minute truncation; expected instants are written in UTC.
#include "foundation/calendar.h"

#include "support/dates.h"
#include "support/scoped_environment.h"

#include <date/date.h>
#include <date/tz.h>
#include <gtest/gtest.h>

using foundation::Calendar;
using foundation::Date;
using foundation::DateComponents;
using namespace std::chrono_literals;
using testsupport::utc;

namespace {

DateComponents local(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ns = 0)
{
    return DateComponents{y, m, d, h, mi, s, ns};
}

} // namespace

TEST(Calendar, ZoneComesFromTzAtEachCall)
{
    auto env = testsupport::zoneAndLocale(":Europe/Berlin", "en_US.UTF-8");
    EXPECT_EQ(Calendar::current().zoneName(), "Europe/Berlin");
    {
        testsupport::ScopedEnvironment tz{{"TZ", "America/New_York"}};
        EXPECT_EQ(Calendar::current().zoneName(), "America/New_York");
        EXPECT_EQ(Calendar::current().utcOffset(utc(2024, 1, 15)), -5h);
    }
    EXPECT_EQ(Calendar::current().zoneName(), "Europe/Berlin");
    EXPECT_EQ(Calendar::current().utcOffset(utc(2024, 7, 1)), 2h);

    testsupport::ScopedEnvironment empty{{"TZ", ""}};
    EXPECT_EQ(Calendar::current().utcOffset(utc(2024, 7, 1)), 0s);
}

TEST(Calendar, UnsetTzMeansTheSystemZone)
{
    testsupport::ScopedEnvironment tz{{"TZ", std::nullopt}};
    EXPECT_EQ(Calendar::current().zoneName(), date::current_zone()->name());
}

TEST(Calendar, UnknownZoneFallsBackToUtc)
{
    testsupport::ScopedEnvironment tz{{"TZ", "Mars/Olympus_Mons"}};
    const Calendar calendar = Calendar::current();
    EXPECT_EQ(calendar.zoneName(), "UTC");
    EXPECT_EQ(calendar.components(utc(2024, 5, 6, 7, 8, 9)), local(2024, 5, 6, 7, 8, 9));
}

TEST(Calendar, LocaleOfCurrentCalendarFollowsTheEnvironment)
{
    auto env = testsupport::zoneAndLocale("UTC", "de_DE.UTF-8");
    EXPECT_EQ(Calendar::current().localeId(), "de_DE");
    EXPECT_EQ(Calendar::current().firstWeekday(), 2);
    testsupport::ScopedEnvironment time{{"LC_TIME", "en_US.UTF-8"}};
    EXPECT_EQ(Calendar::current().firstWeekday(), 1);
}

TEST(Calendar, ComponentsAreLocalWallTime)
{
    const Calendar berlin("Europe/Berlin", "de_DE");
    EXPECT_EQ(berlin.components(utc(2024, 2, 10, 11, 0, 0) + 250'001us), local(2024, 2, 10, 12, 0, 0, 250'001'000));
    EXPECT_EQ(berlin.components(utc(2024, 12, 31, 23, 30)), local(2025, 1, 1, 0, 30));
    // Before the epoch the fields still floor correctly.
    const Calendar utcCalendar("UTC", "en_US");
    EXPECT_EQ(utcCalendar.components(utc(1969, 12, 31, 23, 59, 59) + 500ms),
              local(1969, 12, 31, 23, 59, 59, 500'000'000));
    EXPECT_EQ(berlin.weekday(utc(2024, 3, 6, 12)), 4);     // Wednesday
    EXPECT_EQ(berlin.weekday(utc(2024, 3, 2, 23, 30)), 1); // already Sunday in Berlin
}

TEST(Calendar, MakingDatesNormalisesOutOfRangeFields)
{
    const Calendar berlin("Europe/Berlin", "de_DE");
    // Day 0 of the following month: the recipe for the end of a month.
    EXPECT_EQ(berlin.date(local(2024, 3, 0, 23, 59, 59)), utc(2024, 2, 29, 22, 59, 59));
    EXPECT_EQ(berlin.date(local(2024, 13, 0, 23, 59, 59)), utc(2024, 12, 31, 22, 59, 59));
    EXPECT_EQ(berlin.date(local(2024, 13, 1)), utc(2024, 12, 31, 23));
    EXPECT_EQ(berlin.date(local(2024, 0, 1)), utc(2023, 11, 30, 23));
    EXPECT_EQ(berlin.date(local(2024, 3, 5, 24, 0, 0)), utc(2024, 3, 5, 23));
    EXPECT_EQ(berlin.date(local(2024, 3, 5, 0, -1, 0)), utc(2024, 3, 4, 22, 59));
    EXPECT_EQ(berlin.date(local(2024, 1, 1, 0, 0, 0, 1'500'000'000)), utc(2023, 12, 31, 23, 0, 1) + 500ms);

    DateComponents yearOnly;
    yearOnly.year = 2024;
    EXPECT_EQ(berlin.date(yearOnly), utc(2023, 12, 31, 23));

    EXPECT_EQ(berlin.date(local(10000, 1, 1)), std::nullopt);
    EXPECT_EQ(berlin.date(local(1, 1, -400)), std::nullopt);
    EXPECT_EQ(berlin.date(local(std::numeric_limits<int>::max(), std::numeric_limits<int>::max(),
                                std::numeric_limits<int>::max(), std::numeric_limits<int>::max())),
              std::nullopt);
    EXPECT_EQ(berlin.date(local(std::numeric_limits<int>::min(), std::numeric_limits<int>::min(),
                                std::numeric_limits<int>::min(), std::numeric_limits<int>::min())),
              std::nullopt);
}

TEST(Calendar, MonthsAndYearsClampToTheEndOfTheMonth)
{
    const Calendar berlin("Europe/Berlin", "de_DE");
    EXPECT_EQ(berlin.addingMonths(utc(2024, 3, 31, 8), -1), utc(2024, 2, 29, 9)); // 10:00 CEST -> 10:00 CET
    EXPECT_EQ(berlin.addingMonths(utc(2023, 1, 31, 9), 1), utc(2023, 2, 28, 9));
    EXPECT_EQ(berlin.addingMonths(utc(2024, 11, 30, 9), 14), utc(2026, 1, 30, 9));
    EXPECT_EQ(berlin.addingMonths(utc(2024, 1, 15, 9), -13), utc(2022, 12, 15, 9));
    EXPECT_EQ(berlin.addingYears(utc(2024, 2, 29, 9), 1), utc(2025, 2, 28, 9));
    EXPECT_EQ(berlin.addingYears(utc(2024, 2, 29, 9), -4), utc(2020, 2, 29, 9));
    EXPECT_EQ(berlin.addingYears(utc(2024, 2, 29, 9), 8000), std::nullopt);
    EXPECT_EQ(berlin.addingDays(utc(2024, 2, 29, 9), std::numeric_limits<int>::min()), std::nullopt);
}

TEST(Calendar, DayStepsKeepTheWallTimeAcrossClockChanges)
{
    const Calendar berlin("Europe/Berlin", "de_DE");
    // 12:00 CET on the day before the spring change, 12:00 CEST after it: 23 hours apart.
    EXPECT_EQ(berlin.addingDays(utc(2024, 3, 30, 11), 1), utc(2024, 3, 31, 10));
    EXPECT_EQ(berlin.addingDays(utc(2024, 10, 27, 11), -1), utc(2024, 10, 26, 10));
    EXPECT_EQ(berlin.addingDays(utc(2024, 3, 6, 11), 7), utc(2024, 3, 13, 11));
}

TEST(Calendar, SkippedLocalTimeResolvesToTheFirstInstantAfterTheGap)
{
    // Santiago moved from 24:00 -04 to 01:00 -03 on 2024-09-08: that midnight never happened.
    const Calendar santiago("America/Santiago", "es_CL");
    EXPECT_EQ(santiago.date(local(2024, 9, 8, 0, 0, 0)), utc(2024, 9, 8, 4));
    EXPECT_EQ(santiago.date(local(2024, 9, 8, 0, 30, 15)), utc(2024, 9, 8, 4));
    EXPECT_EQ(santiago.date(local(2024, 9, 8, 1, 0, 0)), utc(2024, 9, 8, 4));
    EXPECT_EQ(santiago.addingDays(utc(2024, 9, 7, 4), 1), utc(2024, 9, 8, 4));

    const Calendar berlin("Europe/Berlin", "de_DE");
    EXPECT_EQ(berlin.date(local(2024, 3, 31, 2, 30)), utc(2024, 3, 31, 1));
}

TEST(Calendar, RepeatedLocalTimeResolvesToTheEarlierInstant)
{
    const Calendar newYork("America/New_York", "en_US");
    EXPECT_EQ(newYork.date(local(2024, 11, 3, 1, 30)), utc(2024, 11, 3, 5, 30)); // EDT, not EST
    // A zero step from the later 01:30 stays there.
    EXPECT_EQ(newYork.addingDays(utc(2024, 11, 3, 6, 30), 0), utc(2024, 11, 3, 6, 30));
}

TEST(Calendar, TruncationToTheMinuteKeepsTheInstantsOffset)
{
    const Calendar newYork("America/New_York", "en_US");
    // 01:30:45 occurs twice on 2024-11-03; each truncates within its own hour.
    EXPECT_EQ(newYork.truncatedToMinute(utc(2024, 11, 3, 6, 30, 45)), utc(2024, 11, 3, 6, 30));
    EXPECT_EQ(newYork.truncatedToMinute(utc(2024, 11, 3, 5, 30, 45)), utc(2024, 11, 3, 5, 30));
    EXPECT_EQ(newYork.truncatedToMinute(utc(2024, 3, 6, 15, 15, 59) + 900ms), utc(2024, 3, 6, 15, 15));

    // Monrovia kept -00:44:30 until 1972: local minutes do not start on UTC minutes.
    const Calendar monrovia("Africa/Monrovia", "en_LR");
    EXPECT_EQ(monrovia.truncatedToMinute(utc(1970, 6, 1, 12, 0, 45)), utc(1970, 6, 1, 12, 0, 30));
    EXPECT_EQ(monrovia.components(utc(1970, 6, 1, 12, 0, 30)), local(1970, 6, 1, 11, 16, 0));

    const Calendar utcCalendar("UTC", "en_US");
    EXPECT_EQ(utcCalendar.truncatedToMinute(utc(1969, 12, 31, 23, 59, 59) + 500ms), utc(1969, 12, 31, 23, 59));
}

TEST(Calendar, OffsetsComeFromTheSystemTzDatabase)
{
    // Mexico abolished daylight-saving time in 2022: June 2023 is UTC-6, not -5.
    const Calendar mexico("America/Mexico_City", "es_MX");
    EXPECT_EQ(mexico.utcOffset(utc(2023, 6, 15, 12)), -6h);
    EXPECT_EQ(mexico.components(utc(2023, 6, 15, 12)), local(2023, 6, 15, 6));
}

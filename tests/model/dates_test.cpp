// Date helpers in the current calendar (pinned through TZ/LANG) and the split and text of durations.
#include "model/dates.h"

#include "support/dates.h"
#include "support/scoped_environment.h"

#include <gtest/gtest.h>

#include <functional>

using foundation::Date;
using namespace model;
using namespace std::chrono_literals;
using testsupport::utc;

namespace {} // namespace

TEST(Dates, ComponentsLeaveOutTheFraction)
{
    auto env = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    const auto c = components(utc(2024, 2, 10, 11, 5, 7) + 999ms);
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.month, 2);
    EXPECT_EQ(c.day, 10);
    EXPECT_EQ(c.hour, 12);
    EXPECT_EQ(c.minute, 5);
    EXPECT_EQ(c.second, 7);
    EXPECT_EQ(c.nanosecond, std::nullopt);
}

TEST(Dates, EndOfMonthAndStartOfYear)
{
    auto env = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    for (unsigned day : {1u, 10u, 29u})
        EXPECT_EQ(endOfMonth(utc(2024, 2, day, 11)), utc(2024, 2, 29, 22, 59, 59)) << day;
    EXPECT_EQ(endOfMonth(utc(2024, 12, 15, 11)), utc(2024, 12, 31, 22, 59, 59));
    EXPECT_EQ(endOfMonth(utc(2023, 2, 28, 23, 30)), utc(2023, 3, 31, 21, 59, 59)); // already March in Berlin
    EXPECT_EQ(startOfYear(utc(2024, 12, 31, 22, 59)), utc(2023, 12, 31, 23));
    {
        // Cairo's clock goes back at the end of 2024-10-31: October ends after the second 23:59:59.
        auto cairo = testsupport::zoneAndLocale("Africa/Cairo", "en_US.UTF-8");
        EXPECT_EQ(endOfMonth(utc(2024, 10, 5, 12)), utc(2024, 10, 31, 21, 59, 59));
    }
    EXPECT_EQ(startOfYear(utc(2024, 12, 31, 23, 30)), utc(2024, 12, 31, 23)); // 00:30 on 2025-01-01
}

TEST(Dates, MovingByCalendarUnits)
{
    auto env = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    EXPECT_EQ(subtractingMonths(utc(2024, 3, 31, 8), 1), utc(2024, 2, 29, 9)); // 10:00 stays 10:00
    EXPECT_EQ(addingMonths(utc(2024, 1, 31, 9), 1), utc(2024, 2, 29, 9));
    EXPECT_EQ(addingDays(utc(2024, 3, 30, 11), 1), utc(2024, 3, 31, 10));
    EXPECT_EQ(subtractingDays(utc(2024, 3, 6, 11), 7), utc(2024, 2, 28, 11));
    EXPECT_EQ(addingYears(utc(2024, 2, 29, 11), 1), utc(2025, 2, 28, 11));
    EXPECT_EQ(subtractingYears(utc(2024, 6, 1, 10), 2), utc(2022, 6, 1, 10));
    // At the calendar's edge a move leaves the date where it is.
    EXPECT_EQ(addingYears(utc(9999, 6, 1), 1), utc(9999, 6, 1));
    EXPECT_EQ(subtractingDays(utc(2024, 6, 1), std::numeric_limits<int>::min()), utc(2024, 6, 1));

    // The date filter picks a direction as a set of function values.
    const std::function<Date(Date, int)> backwards[] = {subtractingDays, subtractingMonths, subtractingYears};
    EXPECT_EQ(backwards[1](utc(2024, 5, 31, 10), 1), utc(2024, 4, 30, 10));
}

TEST(Dates, RoundingToTheMinute)
{
    auto env = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    EXPECT_EQ(roundedToMinute(utc(2024, 3, 6, 9, 15, 59) + 900ms), utc(2024, 3, 6, 9, 15));

    testsupport::ScopedEnvironment newYork{{"TZ", "America/New_York"}};
    // The second 01:30:45 of 2024-11-03 (EST) must not fall back to the first one (EDT).
    EXPECT_EQ(roundedToMinute(utc(2024, 11, 3, 6, 30, 45)), utc(2024, 11, 3, 6, 30));
}

TEST(Durations, SplitFloorsTowardMinusInfinity)
{
    using Split = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(splitHoursMinutes(0), Split(0, 0));
    EXPECT_EQ(splitHoursMinutes(59), Split(0, 59));
    EXPECT_EQ(splitHoursMinutes(60), Split(1, 0));
    EXPECT_EQ(splitHoursMinutes(-1), Split(-1, 59));
    EXPECT_EQ(splitHoursMinutes(-60), Split(-1, 0));
    EXPECT_EQ(splitHoursMinutes(-61), Split(-2, 59));
    // Values a double cannot hold exactly still split exactly.
    EXPECT_EQ(splitHoursMinutes(INT64_MAX), Split(153722867280912930, 7));
    EXPECT_EQ(splitHoursMinutes(INT64_MIN), Split(-153722867280912931, 52));
}

TEST(Durations, FormattedWithANoBreakSpace)
{
    EXPECT_EQ(formattedDuration(90), "01h\xC2\xA0"
                                     "30m");
    EXPECT_EQ(formattedDuration(5), "00h\xC2\xA0"
                                    "05m");
    EXPECT_EQ(formattedDuration(0), "00h\xC2\xA0"
                                    "00m");
    EXPECT_EQ(formattedDuration(6000), "100h\xC2\xA0"
                                       "00m");
    // A negative duration is its sign and magnitude, never the floor split (-1h 14m for -46).
    EXPECT_EQ(formattedDuration(-46), "-00h\xC2\xA0"
                                      "46m");
    EXPECT_EQ(formattedDuration(-90), "-01h\xC2\xA0"
                                      "30m");
    EXPECT_EQ(formattedDuration(INT64_MIN), "-153722867280912930h\xC2\xA0"
                                            "08m");
}

TEST(Durations, ClockTextOfANegativeDurationIsItsSignAndMagnitude)
{
    EXPECT_EQ(clockDuration(90), "01:30");
    EXPECT_EQ(clockDuration(0), "00:00");
    EXPECT_EQ(clockDuration(-46), "-0:46");
    EXPECT_EQ(clockDuration(-74), "-1:14");
    EXPECT_EQ(clockDuration(-600), "-10:00");
    EXPECT_EQ(clockDuration(INT64_MIN), "-153722867280912930:08");
}

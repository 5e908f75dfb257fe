// The date filter's state: the six ranges laid out around a daylight-saving change and a month end
// in Berlin, navigation by calendar periods, and bounds kept where they should be.
#include "model/date_filter_state.h"

#include "support/dates.h"
#include "support/scoped_environment.h"

#include <date/date.h>
#include <gtest/gtest.h>

using foundation::Date;
using model::DateFilterRange;
using model::DateFilterState;
using testsupport::utc;

namespace {

struct Bounds {
    std::optional<Date> start;
    std::optional<Date> end;
    friend bool operator==(const Bounds&, const Bounds&) = default;
};

Bounds bounds(const DateFilterState& state)
{
    return {state.startDate(), state.endDate()};
}

void PrintTo(const Bounds& b, std::ostream* out)
{
    auto text = [](const std::optional<Date>& d) { return d ? date::format("%F %T", *d) : std::string("open"); };
    *out << text(b.start) << " .. " << text(b.end);
}

class DateFilterStateTest : public testing::Test {
protected:
    // Berlin: summer time starts on 2024-03-31 at 02:00 (UTC+1 to UTC+2); weeks start on Monday.
    testsupport::ScopedEnvironment environment_ = testsupport::zoneAndLocale("Europe/Berlin", "de_DE.UTF-8");
    // Sunday 2024-03-31 10:00 local: the day of the change and the last day of the month.
    const Date changeDay_ = utc(2024, 3, 31, 8);
};

TEST_F(DateFilterStateTest, TheSixRangesAroundTheDaylightSavingChangeAtAMonthsEnd)
{
    DateFilterState state(changeDay_);
    EXPECT_EQ(state.range(), DateFilterRange::day);
    EXPECT_EQ(bounds(state), (Bounds{})) << "nothing is laid out before the first update";

    state.update(); // a day of 23 hours, from 00:00 CET to 23:59:59 CEST
    EXPECT_EQ(bounds(state), (Bounds{utc(2024, 3, 30, 23), utc(2024, 3, 31, 21, 59, 59)}));

    state.setRange(DateFilterRange::week);
    state.update(); // Monday 25th to Sunday 31st
    EXPECT_EQ(bounds(state), (Bounds{utc(2024, 3, 24, 23), utc(2024, 3, 31, 21, 59, 59)}));

    state.setRange(DateFilterRange::month);
    state.update();
    EXPECT_EQ(bounds(state), (Bounds{utc(2024, 2, 29, 23), utc(2024, 3, 31, 21, 59, 59)}));

    state.setRange(DateFilterRange::year);
    state.update();
    EXPECT_EQ(bounds(state), (Bounds{utc(2023, 12, 31, 23), utc(2024, 12, 31, 22, 59, 59)}));

    state.setRange(DateFilterRange::all);
    state.update();
    EXPECT_EQ(bounds(state), (Bounds{}));

    // Custom keeps what was set by hand, open ends included, whatever the reference date does.
    state.setRange(DateFilterRange::custom);
    state.setBounds(utc(2024, 3, 1), std::nullopt);
    state.setReferenceDate(utc(2030, 1, 1));
    state.update();
    EXPECT_EQ(bounds(state), (Bounds{utc(2024, 3, 1), std::nullopt}));
    EXPECT_EQ(state.referenceDate(), utc(2030, 1, 1));
}

TEST_F(DateFilterStateTest, NavigationMovesByCalendarPeriodsAcrossTheChange)
{
    DateFilterState day(utc(2024, 3, 30, 9)); // Saturday 10:00 CET
    day.navigate(true, utc(2000, 1, 1));
    EXPECT_EQ(day.referenceDate(), changeDay_) << "a calendar day is 23 hours here: still 10:00 local";
    EXPECT_EQ(bounds(day), (Bounds{utc(2024, 3, 30, 23), utc(2024, 3, 31, 21, 59, 59)}));
    day.navigate(true, utc(2000, 1, 1));
    EXPECT_EQ(bounds(day), (Bounds{utc(2024, 3, 31, 22), utc(2024, 4, 1, 21, 59, 59)}));
    day.navigate(false, utc(2000, 1, 1));
    EXPECT_EQ(day.referenceDate(), changeDay_);

    DateFilterState week(utc(2024, 4, 3, 8), DateFilterRange::week); // Wednesday 10:00 CEST
    week.navigate(false, utc(2000, 1, 1));
    EXPECT_EQ(week.referenceDate(), utc(2024, 3, 27, 9));
    EXPECT_EQ(bounds(week), (Bounds{utc(2024, 3, 24, 23), utc(2024, 3, 31, 21, 59, 59)}));
}

TEST_F(DateFilterStateTest, MonthsAndYearsKeepToTheMonthsEnd)
{
    DateFilterState month(utc(2024, 1, 31, 11), DateFilterRange::month); // 31 January, 12:00 CET
    month.navigate(true, utc(2000, 1, 1));
    EXPECT_EQ(month.referenceDate(), utc(2024, 2, 29, 11)) << "no February 31st: its last day";
    EXPECT_EQ(bounds(month), (Bounds{utc(2024, 1, 31, 23), utc(2024, 2, 29, 22, 59, 59)}));
    month.navigate(true, utc(2000, 1, 1));
    EXPECT_EQ(bounds(month), (Bounds{utc(2024, 2, 29, 23), utc(2024, 3, 31, 21, 59, 59)}));

    DateFilterState year(utc(2024, 2, 29, 11), DateFilterRange::year);
    year.navigate(false, utc(2000, 1, 1));
    EXPECT_EQ(year.referenceDate(), utc(2023, 2, 28, 11));
    EXPECT_EQ(bounds(year), (Bounds{utc(2022, 12, 31, 23), utc(2023, 12, 31, 22, 59, 59)}));
}

TEST_F(DateFilterStateTest, AllAndCustomNavigateToNowAndTodayRoundsToTheMinute)
{
    const Date now = utc(2024, 3, 31, 8, 15, 42) + std::chrono::microseconds(250);
    for (DateFilterRange range : {DateFilterRange::all, DateFilterRange::custom}) {
        DateFilterState state(utc(2020, 6, 1), range);
        state.setBounds(utc(2020, 5, 1), utc(2020, 7, 1));
        state.navigate(true, now);
        EXPECT_EQ(state.referenceDate(), utc(2024, 3, 31, 8, 15));
        if (range == DateFilterRange::all)
            EXPECT_EQ(bounds(state), (Bounds{}));
        else
            EXPECT_EQ(bounds(state), (Bounds{utc(2020, 5, 1), utc(2020, 7, 1)}));
    }

    DateFilterState day(utc(2020, 6, 1));
    day.navigateToToday(now);
    EXPECT_EQ(day.referenceDate(), utc(2024, 3, 31, 8, 15));
    EXPECT_EQ(bounds(day), (Bounds{utc(2024, 3, 30, 23), utc(2024, 3, 31, 21, 59, 59)}));
}

} // namespace

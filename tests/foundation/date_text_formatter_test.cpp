// Date and interval texts in the platform's styles, made by formatters built once, with the wall
// times of the system tz database.
#include "foundation/date_text_formatter.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"
#include "support/dates.h"

#include <gtest/gtest.h>

using foundation::Calendar;
using foundation::Date;
using foundation::DateIntervalTextFormatter;
using foundation::DateTextFormatter;
using foundation::DateTextStyle;
using foundation::Locale;
using testsupport::utc;

namespace {

TEST(DateTextFormatter, StylesGiveTheLocalesTexts)
{
    const Calendar utcCalendar("UTC", "en_US");
    const Locale american("en_US");
    const DateTextFormatter date(american, DateTextStyle::mediumStyle, DateTextStyle::none);
    const DateTextFormatter dateTime(american, DateTextStyle::mediumStyle, DateTextStyle::shortStyle);
    EXPECT_EQ(date.text(utc(2024, 1, 5, 9, 30), utcCalendar), "Jan 5, 2024");
    EXPECT_EQ(dateTime.text(utc(2024, 1, 5, 9, 30), utcCalendar), "Jan 5, 2024, 9:30\u202FAM");
    // The same formatter serves many instants.
    EXPECT_EQ(dateTime.text(utc(2024, 12, 31, 23, 59), utcCalendar), "Dec 31, 2024, 11:59\u202FPM");

    const DateTextFormatter german(Locale("de_DE"), DateTextStyle::mediumStyle, DateTextStyle::shortStyle);
    EXPECT_EQ(german.text(utc(2024, 1, 5, 9, 30), utcCalendar), "05.01.2024, 09:30");

    const DateTextFormatter nothing(american, DateTextStyle::none, DateTextStyle::none);
    EXPECT_EQ(nothing.text(utc(2024, 1, 5), utcCalendar), std::nullopt);
}

TEST(DateTextFormatter, OffsetsComeFromTheCalendarsZone)
{
    // ICU 72's own rules still have Mexico on daylight-saving time in 2023 (06:00 would read 07:00).
    const Calendar mexico("America/Mexico_City", "en_US");
    const DateTextFormatter dateTime(Locale("en_US"), DateTextStyle::mediumStyle, DateTextStyle::shortStyle);
    EXPECT_EQ(dateTime.text(utc(2023, 6, 15, 12), mexico), "Jun 15, 2023, 6:00\u202FAM");
    const DateTextFormatter date(Locale("en_US"), DateTextStyle::mediumStyle, DateTextStyle::none);
    EXPECT_EQ(date.text(utc(2023, 6, 16, 3), mexico), "Jun 15, 2023");
}

TEST(DateIntervalTextFormatter, SharedFieldsAppearOnceAndEachEndKeepsItsOffset)
{
    const Calendar utcCalendar("UTC", "en_US");
    const DateIntervalTextFormatter interval(Locale("en_US"), DateTextStyle::shortStyle, DateTextStyle::shortStyle);
    EXPECT_EQ(interval.text(utc(2024, 1, 5, 9, 30), utc(2024, 1, 5, 10, 45), utcCalendar),
              "1/5/24, 9:30\u2009\u2013\u200910:45\u202FAM");
    EXPECT_EQ(interval.text(utc(2024, 1, 5, 9, 30), utc(2024, 1, 6, 10, 45), utcCalendar),
              "1/5/24, 9:30\u202FAM\u2009\u2013\u20091/6/24, 10:45\u202FAM");

    // Either side of the spring change in Berlin: +01:00 before, +02:00 after.
    const Calendar berlin("Europe/Berlin", "de_DE");
    const DateIntervalTextFormatter german(Locale("de_DE"), DateTextStyle::shortStyle, DateTextStyle::shortStyle);
    const auto text = german.text(utc(2024, 3, 30, 8), utc(2024, 3, 31, 16), berlin);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("09:00"), std::string::npos) << *text;
    EXPECT_NE(text->find("18:00"), std::string::npos) << *text;
}

} // namespace

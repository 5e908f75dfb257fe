// Locale: which environment variable decides, week start, currency, date texts computed from the
// system tz database, and case-folded search.
#include "foundation/locale.h"

#include "foundation/calendar.h"
#include "support/dates.h"
#include "support/scoped_environment.h"

#include <gtest/gtest.h>

using foundation::Calendar;
using foundation::containsCaseInsensitive;
using foundation::Date;
using foundation::Locale;
using foundation::LocaleCategory;
using foundation::localeIdFromEnvironment;
using foundation::localeIdFromPosixName;
using namespace std::chrono_literals;
using testsupport::utc;

TEST(Locale, PosixNamesBecomeIcuIds)
{
    EXPECT_EQ(localeIdFromPosixName("de_DE.UTF-8"), "de_DE");
    EXPECT_EQ(localeIdFromPosixName("de_DE.UTF-8@euro"), "de_DE");
    EXPECT_EQ(localeIdFromPosixName("sr_RS@latin"), "sr_RS");
    EXPECT_EQ(localeIdFromPosixName("C"), "en_US_POSIX");
    EXPECT_EQ(localeIdFromPosixName("C.UTF-8"), "en_US_POSIX");
    EXPECT_EQ(localeIdFromPosixName("POSIX"), "en_US_POSIX");
    EXPECT_EQ(localeIdFromPosixName(""), "en_US_POSIX");
}

TEST(Locale, EnvironmentPrecedence)
{
    testsupport::ScopedEnvironment env{{"LC_ALL", std::nullopt},
                                       {"LC_TIME", "de_DE.UTF-8"},
                                       {"LC_MONETARY", "ja_JP.UTF-8"},
                                       {"LC_MESSAGES", "it_IT.UTF-8"},
                                       {"LANG", "fr_CH.UTF-8"}};
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::time), "de_DE");
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::monetary), "ja_JP");
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::messages), "it_IT");
    {
        testsupport::ScopedEnvironment all{{"LC_ALL", "en_GB.UTF-8"}};
        EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::time), "en_GB");
        EXPECT_EQ(Locale::current(LocaleCategory::monetary).id(), "en_GB");
    }
    {
        testsupport::ScopedEnvironment emptyAll{{"LC_ALL", ""}, {"LC_TIME", ""}};
        EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::time), "fr_CH");
    }
    testsupport::ScopedEnvironment none{{"LC_TIME", std::nullopt},
                                        {"LC_MONETARY", std::nullopt},
                                        {"LANG", std::nullopt}};
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::time), "en_US_POSIX");
}

TEST(Locale, FirstWeekday)
{
    EXPECT_EQ(Locale("en_US").firstWeekday(), 1);       // Sunday
    EXPECT_EQ(Locale("de_DE.UTF-8").firstWeekday(), 2); // Monday
    EXPECT_EQ(Locale("C").firstWeekday(), 1);
}

TEST(Locale, PaperOfTheLocaleAndItsVariable)
{
    EXPECT_EQ(Locale("en_US").paperSizeMillimetres(), std::make_pair(216, 279));       // Letter
    EXPECT_EQ(Locale("de_DE.UTF-8").paperSizeMillimetres(), std::make_pair(210, 297)); // A4
    testsupport::ScopedEnvironment env{{"LC_ALL", std::nullopt}, {"LC_PAPER", "de_DE.UTF-8"}, {"LANG", "en_US.UTF-8"}};
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::paper), "de_DE");
    EXPECT_EQ(localeIdFromEnvironment(LocaleCategory::time), "en_US");
}

TEST(Locale, Currency)
{
    EXPECT_EQ(Locale("de_DE").currencyCode(), "EUR");
    EXPECT_EQ(Locale("de_DE").currencySymbol(), "\u20AC");
    EXPECT_EQ(Locale("ja_JP").currencyCode(), "JPY");
    // A language without a region has no currency of its own.
    EXPECT_EQ(Locale("de").currencyCode(), std::nullopt);
    EXPECT_EQ(Locale("de").currencySymbol(), std::nullopt);

    EXPECT_EQ(Locale("en_US").currencySymbol("USD"), "$");
    EXPECT_EQ(Locale("en_CA").currencySymbol("USD"), "US$");
    EXPECT_EQ(Locale("de_DE").currencySymbol("EUR"), "\u20AC");
    EXPECT_EQ(Locale("de_DE").currencySymbol("usd"), std::nullopt);
    EXPECT_EQ(Locale("de_DE").currencySymbol("EURO"), std::nullopt);
    EXPECT_EQ(Locale("de_DE").currencySymbol(""), std::nullopt);
}

TEST(Locale, TextsShowTheWallTimeOfTheSystemTzDatabase)
{
    // ICU 72's own rules still have Mexico on daylight-saving time in 2023 (06:00 would read 07:00).
    const Calendar mexico("America/Mexico_City", "de_DE");
    const Locale german("de_DE");
    EXPECT_EQ(german.shortDateText(utc(2023, 6, 15, 12), mexico), "15.06.23");
    EXPECT_EQ(german.shortDateTimeText(utc(2023, 6, 15, 12), mexico), "15.06.23, 06:00");
    // Just after midnight UTC is still the previous day there.
    EXPECT_EQ(german.shortDateText(utc(2023, 6, 16, 3), mexico), "15.06.23");

    // Ends on either side of a clock change each get their own offset.
    const Calendar berlin("Europe/Berlin", "de_DE");
    const auto interval = german.shortDateIntervalText(utc(2024, 3, 30, 8), utc(2024, 3, 31, 16), berlin);
    ASSERT_TRUE(interval);
    EXPECT_NE(interval->find("30.3.2024, 09:00"), std::string::npos) << *interval;
    EXPECT_NE(interval->find("31.3.2024, 18:00"), std::string::npos) << *interval;
}

TEST(Locale, LongerDateTextsOfTheLocalDay)
{
    // 23:30 UTC on Monday 2024-03-11 is already Tuesday in Berlin.
    const Calendar berlin("Europe/Berlin", "en_US");
    const Locale american("en_US");
    const Date tuesday = utc(2024, 3, 11, 23, 30);
    EXPECT_EQ(american.fullDateText(tuesday, berlin), "Tuesday, March 12, 2024");
    EXPECT_EQ(american.mediumDateText(tuesday, berlin), "Mar 12, 2024");
    EXPECT_EQ(american.monthYearText(utc(2024, 2, 29, 23, 30), berlin), "March 2024");
    EXPECT_EQ(american.yearText(utc(2024, 12, 31, 23, 30), berlin), "2025");

    const Locale german("de_DE");
    EXPECT_EQ(german.fullDateText(tuesday, berlin), "Dienstag, 12. M\u00E4rz 2024");
    EXPECT_EQ(german.monthYearText(tuesday, berlin), "M\u00E4rz 2024");
}

TEST(Locale, CaseInsensitiveContainsFoldsFully)
{
    EXPECT_TRUE(containsCaseInsensitive("GROSSER ÄRGER", "ärger"));
    EXPECT_TRUE(containsCaseInsensitive("Hauptstraße 5", "STRASSE"));
    EXPECT_TRUE(containsCaseInsensitive("HAUPTSTRASSE", "straße"));
    EXPECT_TRUE(containsCaseInsensitive("ο οδυσσευς", "ΟΔΥΣΣΕΥΣ")); // final sigma folds to σ
    EXPECT_FALSE(containsCaseInsensitive("Hauptstrase", "straße"));
    EXPECT_FALSE(containsCaseInsensitive("arger", "ärger"));
    EXPECT_TRUE(containsCaseInsensitive("anything", ""));
    EXPECT_FALSE(containsCaseInsensitive("", "a"));
    // Malformed UTF-8 is searched, not trusted.
    EXPECT_FALSE(containsCaseInsensitive("\xff\xfe", "abc"));
}

TEST(Locale, GraphemeClustersCountWhatAReaderSeesAsOneCharacter)
{
    using foundation::graphemeClusterCount;
    EXPECT_EQ(graphemeClusterCount(""), 0u);
    EXPECT_EQ(graphemeClusterCount("Website"), 7u);
    EXPECT_EQ(graphemeClusterCount("Cafe\u0301"), 4u);           // e with a combining acute accent
    EXPECT_EQ(graphemeClusterCount("\U0001F1E9\U0001F1EA"), 1u); // a flag: two regional indicators
    EXPECT_EQ(graphemeClusterCount("\u2714\uFE0E ok"), 4u);      // a check mark with its variation selector
    EXPECT_EQ(graphemeClusterCount("\r\n"), 1u);
    // Malformed UTF-8 is counted, never read past its end.
    EXPECT_EQ(graphemeClusterCount("a\xff"), 2u);
}

// Money texts in a given locale with a currency symbol chosen per call.
#include "model/currency_formatter.h"
#include "support/dates.h"
#include "support/scoped_environment.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"

#include <gtest/gtest.h>

namespace {

TEST(CurrencyFormatterTest, UsesTheLocalePatternWithTheGivenSymbolAndExactDigits)
{
    const model::CurrencyFormatter german("de_DE");
    EXPECT_EQ(german.string(foundation::Decimal::parse("1234.5").value(), "CHF"), "1.234,50\u00A0CHF");
    const model::CurrencyFormatter american("en_US");
    EXPECT_EQ(american.string(foundation::Decimal::parse("0.1").value(), "$"), "$0.10");
    EXPECT_EQ(american.string(foundation::Decimal::parse("-3").value(), std::nullopt), "-$3.00");
    // A symbol set for one call does not stay for the next.
    EXPECT_EQ(american.string(foundation::Decimal(1), "£"), "£1.00");
    EXPECT_EQ(american.string(foundation::Decimal(1), std::nullopt), "$1.00");
}

// With LANG=C (or unset) money and dates follow one locale: en_US_POSIX, whose dates read as en_US's
// do, and whose amounts get en_US's pattern instead of its machine pattern "€ 1234.50".
TEST(CurrencyFormatterTest, TheCLocaleWritesMoneyAndDatesInOneLocale)
{
    testsupport::ScopedEnvironment environment{{"LC_ALL", std::nullopt},
                                               {"LC_TIME", std::nullopt},
                                               {"LC_MONETARY", std::nullopt},
                                               {"LANG", std::string("C")}};
    const std::string timeLocale = foundation::localeIdFromEnvironment(foundation::LocaleCategory::time);
    const std::string moneyLocale = foundation::localeIdFromEnvironment(foundation::LocaleCategory::monetary);
    EXPECT_EQ(timeLocale, moneyLocale);

    const model::CurrencyFormatter formatter(moneyLocale);
    EXPECT_EQ(formatter.string(foundation::Decimal::parse("1234.50").value(), "€"), "€1,234.50");
    EXPECT_EQ(formatter.string(foundation::Decimal::parse("-1234567.5").value(), "$"), "-$1,234,567.50");

    const foundation::Calendar utc("UTC", timeLocale);
    const foundation::Date day = testsupport::utc(2026, 12, 9, 12);
    EXPECT_EQ(foundation::Locale(timeLocale).shortDateText(day, utc), "12/9/26");
    // Other locales keep their own patterns.
    EXPECT_EQ(foundation::numberFormatLocaleId("de_DE.UTF-8"), "de_DE");
}

} // namespace

// Money texts in a given locale with a currency symbol chosen per call.
#include "model/currency_formatter.h"

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

} // namespace

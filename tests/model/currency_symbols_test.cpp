// The currency symbols the currency boxes offer: four fixed ones first, then the locale's.
#include "model/currency_symbols.h"

#include "foundation/locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

std::size_t indexOf(const std::vector<std::string>& list, const std::string& text)
{
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), text) - list.begin());
}

TEST(CurrencySymbols, FixedFourFirstThenLocaleSymbolsWithoutDuplicates)
{
    for (const char* id : {"en_US", "de_DE", "ja_JP", "en_CA"}) {
        const std::vector<std::string> symbols = model::currencySymbols(foundation::Locale(id));
        ASSERT_GT(symbols.size(), 20u) << id;
        EXPECT_EQ(std::vector<std::string>(symbols.begin(), symbols.begin() + 4),
                  (std::vector<std::string>{"€", "$", "£", "¥"}))
            << id;
        EXPECT_EQ(std::set<std::string>(symbols.begin(), symbols.end()).size(), symbols.size()) << id;
        EXPECT_EQ(symbols, model::currencySymbols(foundation::Locale(id))) << id;
    }
}

TEST(CurrencySymbols, LongerDollarSymbolIsAddedAndPlainDollarStaysSecond)
{
    const std::vector<std::string> canadian = model::currencySymbols(foundation::Locale("en_CA"));
    EXPECT_EQ(canadian[1], "$");
    EXPECT_LT(indexOf(canadian, "US$"), canadian.size());
    // en_US writes the dollar as "$": it adds nothing, and Canada's dollar gets its own text.
    const std::vector<std::string> american = model::currencySymbols(foundation::Locale("en_US"));
    EXPECT_EQ(std::count(american.begin(), american.end(), "$"), 1);
    EXPECT_LT(indexOf(american, "CA$"), american.size());
}

} // namespace

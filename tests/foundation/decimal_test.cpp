// Exact decimal arithmetic: text round trips, arithmetic across scales, overflow, rounding modes
// and conversion from doubles.
#include "foundation/decimal.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

using foundation::Decimal;
using foundation::RoundingMode;

namespace {

Decimal dec(std::string_view text)
{
    auto value = Decimal::parse(text);
    if (!value)
        throw std::invalid_argument("test literal does not parse: " + std::string(text));
    return *value;
}

const std::string max38 = std::string(38, '9');

} // namespace

TEST(Decimal, ParsesAndPrintsCanonicalText)
{
    const std::pair<const char*, const char*> cases[] = {
        {"60", "60"},
        {"12.50", "12.5"},
        {"-0.5", "-0.5"},
        {"+7", "7"},
        {"-0", "0"},
        {"-0.000", "0"},
        {"007.0700", "7.07"},
        {".5", "0.5"},
        {"1.", "1"},
        {"-.25", "-0.25"},
        {"0.000000000000000000000000000001", "0.000000000000000000000000000001"},
        {"1.000000000000000000000000000000000000000000000", "1"},
    };
    for (const auto& [text, canonical] : cases) {
        auto value = Decimal::parse(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(value->toString(), canonical) << text;
    }
    EXPECT_EQ(dec(max38).toString(), max38);
    EXPECT_EQ(dec("-" + max38).toString(), "-" + max38);
    EXPECT_EQ(Decimal(std::numeric_limits<std::int64_t>::min()).toString(), "-9223372036854775808");
    EXPECT_EQ(Decimal().toString(), "0");
}

TEST(Decimal, RejectsGarbageAndValuesItCannotHold)
{
    const char* garbage[] = {"",    "abc",  "-",    "+", ".",   "-.",  "+-1", "--1",   " 1",  "1 ",   "1,5", "1.2.3",
                             "1e5", "1E-2", "0x10", "١", "inf", "nan", "12a", "1_000", "\t2", "1..2", "- 1"};
    for (const char* text : garbage)
        EXPECT_FALSE(Decimal::parse(text)) << '"' << text << '"';
    EXPECT_FALSE(Decimal::parse(std::string_view("1\0002", 3)));
    EXPECT_FALSE(Decimal::parse("1" + max38));                                // 39 digits
    EXPECT_FALSE(Decimal::parse("0.0000000000000000000000000000001"));        // 31 places
    EXPECT_FALSE(Decimal::parse("1234567890.12345678901234567890123456789")); // 39 digits
    EXPECT_FALSE(Decimal::parse(std::string(100000, '7')));
}

TEST(Decimal, AddsAndSubtractsExactlyAcrossScales)
{
    EXPECT_EQ((dec("0.1") + dec("0.2")).toString(), "0.3");
    EXPECT_EQ((dec("12.5") + dec("-12.50")).toString(), "0");
    EXPECT_EQ((dec("1.05") - dec("2")).toString(), "-0.95");
    EXPECT_EQ((dec("-3") - dec("-0.001")).toString(), "-2.999");
    EXPECT_EQ((Decimal(40) * dec("1.5")).toString(), "60");
    Decimal total;
    for (int i = 0; i < 10; ++i)
        total += dec("0.1");
    EXPECT_EQ(total, Decimal(1));
    EXPECT_EQ((-dec("2.5")).toString(), "-2.5");
}

TEST(Decimal, ReportsOverflow)
{
    const Decimal largest = dec(max38);
    EXPECT_FALSE(largest.adding(1));
    EXPECT_FALSE((-largest).subtracting(1));
    EXPECT_EQ(largest.adding(-1)->toString(), std::string(37, '9') + "8");
    EXPECT_THROW(largest + Decimal(1), std::overflow_error);
    EXPECT_THROW(-largest - Decimal(1), std::overflow_error);
    EXPECT_THROW(largest * Decimal(10), std::overflow_error);
    EXPECT_FALSE(dec("1" + std::string(19, '0')).multiplying(dec("1" + std::string(19, '0'))));
    EXPECT_TRUE(dec("1" + std::string(18, '0')).multiplying(dec("1" + std::string(19, '0'))));
}

TEST(Decimal, MultipliesAndRoundsBeyondTheLargestScale)
{
    EXPECT_EQ((dec("1.25") * dec("-0.4")).toString(), "-0.5");
    EXPECT_EQ((dec("-2") * dec("-3.5")).toString(), "7");
    // 0.1^31 has 31 places: rounded half-even at 30.
    const Decimal tiny = dec("0.000000000000000000000000000001");
    EXPECT_EQ((tiny * dec("0.5")).toString(), "0");                                // tie to even (0)
    EXPECT_EQ((tiny * dec("1.5")).toString(), "0.000000000000000000000000000002"); // tie to even (2)
    EXPECT_EQ((tiny * dec("2.5")).toString(), "0.000000000000000000000000000002");
    EXPECT_EQ((tiny * dec("-2.51")).toString(), "-0.000000000000000000000000000003");
    // 38 significant digits times 1.5 needs 39: one place is rounded away (half-even, a tie
    // here) instead of failing.
    const Decimal wide = dec("1234567890123456789012345678.9012345679");
    EXPECT_EQ((wide * dec("1.5")).toString(), "1851851835185185183518518518.3518518518");
    EXPECT_EQ((wide * dec("1.5000000001")).toString(), "1851851835308641972530864197.2530864197");
    // Rounding that carries into a new digit.
    // Rounding 39 nines to 38 digits carries into a new digit.
    EXPECT_EQ((dec("9.99") * dec("1001001001001001001001001001001001001")).toString(), "1" + std::string(37, '0'));
}

TEST(Decimal, AddsBeyondTheSignificandByRoundingItsLastPlaces)
{
    const Decimal hundredQuintillion = dec("1" + std::string(20, '0'));
    // The exact sums need 39 digits; the last place is rounded half-even.
    EXPECT_EQ(hundredQuintillion.adding(dec("0.000000000000000001"))->toString(), "1" + std::string(20, '0'));
    EXPECT_EQ(hundredQuintillion.adding(dec("0.000000000000000005"))->toString(), "1" + std::string(20, '0'));
    EXPECT_EQ(hundredQuintillion.adding(dec("0.000000000000000015"))->toString(),
              "1" + std::string(20, '0') + ".00000000000000002");
    EXPECT_EQ(hundredQuintillion.subtracting(dec("0.000000000000000006"))->toString(),
              std::string(20, '9') + ".999999999999999994"); // 38 digits: exact
    EXPECT_EQ(hundredQuintillion.subtracting(dec("0.0000000000000000006"))->toString(),
              std::string(20, '9') + ".999999999999999999");
    // 0.5 rounds the largest value up into a 39th digit: that does not fit.
    EXPECT_FALSE(dec(max38).adding(dec("0.5")));
    EXPECT_EQ(dec(max38).adding(dec("0.4"))->toString(), max38);
}

TEST(Decimal, ComparesValuesAcrossScalesAndSigns)
{
    EXPECT_EQ(dec("1.50"), dec("1.5"));
    EXPECT_EQ(dec("0"), dec("-0.00"));
    EXPECT_LT(dec("1.49"), dec("1.5"));
    EXPECT_LT(dec("-1.5"), dec("-1.49"));
    EXPECT_LT(dec("-100"), dec("0.001"));
    EXPECT_GT(dec("0.001"), Decimal());
    EXPECT_LT(dec("-0.001"), Decimal());
    EXPECT_LT(dec("0.000000000000000000000000000001"), dec(max38));
    EXPECT_GT(dec(max38), dec("9999999.000000000000000000000000000001"));
    EXPECT_LT(dec("-" + max38), dec("-0.000000000000000000000000000001"));
    EXPECT_NE(dec("2"), dec("2.000000000000000000000000000001"));
    EXPECT_TRUE(Decimal().isZero());
    EXPECT_TRUE(dec("-0.1").isNegative());
    EXPECT_FALSE(dec("-0").isNegative());
}

TEST(Decimal, RoundsInEveryMode)
{
    EXPECT_EQ(dec("0.125").rounded(2).toString(), "0.12");
    EXPECT_EQ(dec("0.125").rounded(2, RoundingMode::halfUp).toString(), "0.13");
    EXPECT_EQ(dec("0.135").rounded(2).toString(), "0.14");
    EXPECT_EQ(dec("0.1250001").rounded(2).toString(), "0.13");

    struct Case {
        const char* value;
        RoundingMode mode;
        const char* expected;
    };
    const Case cases[] = {
        {"-0.125", RoundingMode::halfEven, "-0.12"}, {"-0.125", RoundingMode::halfUp, "-0.13"},
        {"-0.129", RoundingMode::down, "-0.12"},     {"-0.121", RoundingMode::up, "-0.13"},
        {"0.129", RoundingMode::down, "0.12"},       {"0.121", RoundingMode::up, "0.13"},
        {"2.5", RoundingMode::halfEven, "2"},        {"-3.5", RoundingMode::halfEven, "-4"},
        {"2.4999", RoundingMode::halfUp, "2"},       {"-0.4", RoundingMode::halfEven, "0"},
        {"9.999", RoundingMode::up, "10"},           {"1.20", RoundingMode::up, "1.2"},
    };
    for (const auto& c : cases) {
        const int places = std::string_view(c.expected).find('.') == std::string_view::npos ? 0 : 2;
        EXPECT_EQ(dec(c.value).rounded(places, c.mode).toString(), c.expected)
            << c.value << " mode " << static_cast<int>(c.mode);
    }
    EXPECT_EQ(dec(std::string(36, '9') + ".99").rounded(0, RoundingMode::up).toString(), "1" + std::string(36, '0'));
    EXPECT_EQ(dec("1.5").rounded(Decimal::maxScale), dec("1.5"));
    EXPECT_THROW(dec("1.5").rounded(-1), std::out_of_range);
    EXPECT_THROW(dec("1.5").rounded(Decimal::maxScale + 1), std::out_of_range);
}

TEST(Decimal, ConvertsFromDoublesByShortestText)
{
    EXPECT_EQ(Decimal::fromDouble(40 * 1.5)->toString(), "60");
    EXPECT_EQ(Decimal::fromDouble(0.1)->toString(), "0.1");
    EXPECT_EQ(Decimal::fromDouble(0.1 + 0.2)->toString(), "0.30000000000000004");
    EXPECT_EQ(Decimal::fromDouble(-12.5)->toString(), "-12.5");
    EXPECT_EQ(Decimal::fromDouble(1e-7)->toString(), "0.0000001");
    EXPECT_EQ(Decimal::fromDouble(1.5e20)->toString(), "150000000000000000000");
    EXPECT_EQ(Decimal::fromDouble(-0.0)->toString(), "0");
    EXPECT_EQ(Decimal::fromDouble(1e37)->toString(), "1" + std::string(37, '0'));
    // More places than a value keeps: rounded half-even at maxScale.
    EXPECT_EQ(Decimal::fromDouble(1.5e-30)->toString(), "0.000000000000000000000000000002");
    EXPECT_EQ(Decimal::fromDouble(1e-300)->toString(), "0");
    EXPECT_EQ(Decimal::fromDouble(std::numeric_limits<double>::denorm_min())->toString(), "0");

    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(Decimal::fromDouble(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(Decimal::fromDouble(1e38));
    EXPECT_FALSE(Decimal::fromDouble(std::numeric_limits<double>::max()));
}

TEST(Decimal, ConvertsToDouble)
{
    EXPECT_EQ(dec("0.1").toDouble(), 0.1);
    EXPECT_EQ(dec("-12.5").toDouble(), -12.5);
    EXPECT_EQ(Decimal().toDouble(), 0.0);
    EXPECT_EQ(dec(max38).toDouble(), 1e38);
    for (double value : {0.3, 123456.789, -1e-7, 2.5e15})
        EXPECT_EQ(Decimal::fromDouble(value)->toDouble(), value);
}

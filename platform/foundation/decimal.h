// An exact decimal number for money: rates, costs, totals. No binary floating point inside:
// a 128-bit signed significand of at most 38 digits and a decimal scale (value = significand / 10^scale).
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

enum class RoundingMode { halfEven, halfUp, down, up };

class Decimal {
public:
    // Largest number of digits after the decimal point that a value keeps.
    static constexpr int maxScale = 30;

    Decimal() = default; // zero
    Decimal(int value) : Decimal(static_cast<std::int64_t>(value)) {}
    Decimal(std::int64_t value);

    // Parses the canonical text: optional "-" or "+", digits, optional "." and digits;
    // no exponent, no blanks, no thousands separators. Garbage or a value outside the
    // representable range yields nothing.
    static std::optional<Decimal> parse(std::string_view text);

    // The decimal whose text is the shortest that reads back as the same double
    // (so 40 * 1.5 gives exactly 60 and 0.1 gives 0.1). NaN and infinities yield nothing,
    // and so do values too large to hold; digits beyond maxScale are rounded half-even.
    static std::optional<Decimal> fromDouble(double value);

    // Canonical text: no exponent, no trailing zeros after the point, no "-0".
    // 60 -> "60", 12.50 -> "12.5", -0.5 -> "-0.5".
    std::string toString() const;
    double toDouble() const;

    // Arithmetic that reports overflow as nothing. A result with more than maxScale places or
    // more than 38 significant digits is rounded half-even in its last places; only a result
    // whose integer part does not fit yields nothing.
    std::optional<Decimal> adding(const Decimal& other) const;
    std::optional<Decimal> subtracting(const Decimal& other) const;
    std::optional<Decimal> multiplying(const Decimal& other) const;

    // Operators for code that works with sane magnitudes; they throw std::overflow_error
    // where the checked forms above yield nothing.
    Decimal operator+(const Decimal& other) const;
    Decimal operator-(const Decimal& other) const;
    Decimal operator*(const Decimal& other) const;
    Decimal operator-() const;
    Decimal& operator+=(const Decimal& other);

    // Rounded to `places` digits after the point (0 ... maxScale).
    Decimal rounded(int places, RoundingMode mode = RoundingMode::halfEven) const;

    bool isZero() const { return significand_ == 0; }
    bool isNegative() const { return significand_ < 0; }

    // Compares values, not representations: 1.50 == 1.5.
    std::strong_ordering operator<=>(const Decimal& other) const;
    bool operator==(const Decimal& other) const;

private:
    // The compiler's 128-bit integers; __extension__ marks their use as intended under -Wpedantic.
    __extension__ using Int128 = __int128;
    __extension__ using UInt128 = unsigned __int128;

    Decimal(Int128 significand, int scale) : significand_(significand), scale_(scale) {}
    // The value with the given sign and magnitude, or nothing when the magnitude has more
    // digits than a significand holds; trailing zeros are dropped.
    static std::optional<Decimal> fromMagnitude(bool negative, UInt128 magnitude, int scale);
    UInt128 magnitude() const;
    void normalize();

    // Aligned to 8 rather than 16, so a Decimal takes 24 bytes and the stored-value variant of the
    // object layer stays at 40; x86-64 reads such a member without penalty.
    using Significand = Int128 __attribute__((aligned(8)));
    Significand significand_ = 0;
    int scale_ = 0;
};

} // namespace foundation

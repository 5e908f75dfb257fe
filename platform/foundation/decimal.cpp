// Exact decimal arithmetic for money on a 128-bit significand. Magnitudes are kept below 10^38,
// so every value and its negation fit and no operation needs signed overflow to be well defined;
// products are formed in 256 bits and rounded back.
#include "foundation/decimal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>
#include <system_error>

namespace foundation {

namespace {

__extension__ using u128 = unsigned __int128;
__extension__ using i128 = __int128;

constexpr int maxDigits = 38;

constexpr std::array<u128, maxDigits + 1> powersOfTen = [] {
    std::array<u128, maxDigits + 1> powers{};
    u128 power = 1;
    for (auto& entry : powers) {
        entry = power;
        power *= 10;
    }
    return powers;
}();

constexpr u128 maxMagnitude = powersOfTen[maxDigits] - 1;

// An unsigned 256-bit number in four little-endian 64-bit limbs: room for the exact product of
// two magnitudes before it is rounded to fit.
struct Wide {
    std::array<std::uint64_t, 4> limbs{};

    static Wide from(u128 value)
    {
        Wide wide;
        wide.limbs[0] = static_cast<std::uint64_t>(value);
        wide.limbs[1] = static_cast<std::uint64_t>(value >> 64);
        return wide;
    }

    static Wide product(u128 a, u128 b)
    {
        const u128 mask = ~std::uint64_t{0};
        const u128 a0 = a & mask, a1 = a >> 64, b0 = b & mask, b1 = b >> 64;
        const u128 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
        const u128 middle = (p00 >> 64) + (p01 & mask) + (p10 & mask);
        const u128 upper = (middle >> 64) + (p01 >> 64) + (p10 >> 64) + (p11 & mask);
        Wide wide;
        wide.limbs[0] = static_cast<std::uint64_t>(p00);
        wide.limbs[1] = static_cast<std::uint64_t>(middle);
        wide.limbs[2] = static_cast<std::uint64_t>(upper);
        wide.limbs[3] = static_cast<std::uint64_t>((upper >> 64) + (p11 >> 64));
        return wide;
    }

    bool fitsMagnitude() const { return limbs[2] == 0 && limbs[3] == 0 && low() <= maxMagnitude; }
    u128 low() const { return (u128{limbs[1]} << 64) | limbs[0]; }
    bool isZero() const { return (limbs[0] | limbs[1] | limbs[2] | limbs[3]) == 0; }
    bool isOdd() const { return (limbs[0] & 1) != 0; }

    // Divides by ten in place and returns the remainder.
    int divideByTen()
    {
        u128 remainder = 0;
        for (int i = 3; i >= 0; --i) {
            const u128 current = (remainder << 64) | limbs[static_cast<std::size_t>(i)];
            limbs[static_cast<std::size_t>(i)] = static_cast<std::uint64_t>(current / 10);
            remainder = current % 10;
        }
        return static_cast<int>(remainder);
    }

    friend Wide operator+(const Wide& a, const Wide& b)
    {
        Wide sum;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const u128 limb = u128{a.limbs[i]} + b.limbs[i] + carry;
            sum.limbs[i] = static_cast<std::uint64_t>(limb);
            carry = static_cast<std::uint64_t>(limb >> 64);
        }
        return sum;
    }

    // a - b for a >= b.
    friend Wide operator-(const Wide& a, const Wide& b)
    {
        Wide difference;
        std::uint64_t borrow = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint64_t subtrahend = b.limbs[i] + borrow;
            const bool wraps = subtrahend < borrow || a.limbs[i] < subtrahend;
            difference.limbs[i] = a.limbs[i] - subtrahend;
            borrow = wraps ? 1 : 0;
        }
        return difference;
    }

    void increment()
    {
        for (auto& limb : limbs) {
            if (++limb != 0)
                break;
        }
    }

    int digitCount() const
    {
        Wide copy = *this;
        int digits = 0;
        while (!copy.isZero()) {
            copy.divideByTen();
            ++digits;
        }
        return digits;
    }

    friend std::strong_ordering operator<=>(const Wide& a, const Wide& b)
    {
        for (int i = 3; i >= 0; --i) {
            const auto index = static_cast<std::size_t>(i);
            if (a.limbs[index] != b.limbs[index])
                return a.limbs[index] <=> b.limbs[index];
        }
        return std::strong_ordering::equal;
    }
};

// Drops the last `count` decimal digits of a magnitude, rounding as `mode` says. Rounding works
// on magnitudes, so "up" and "half up" move away from zero for negative values too.
Wide dropDigits(Wide magnitude, int count, RoundingMode mode)
{
    int firstDropped = 0;     // the most significant digit dropped
    bool restNonZero = false; // whether any digit below it was non-zero
    for (int i = 0; i < count; ++i) {
        restNonZero = restNonZero || firstDropped != 0;
        firstDropped = magnitude.divideByTen();
    }
    bool increment = false;
    switch (mode) {
    case RoundingMode::down: break;
    case RoundingMode::up: increment = firstDropped != 0 || restNonZero; break;
    case RoundingMode::halfUp: increment = firstDropped >= 5; break;
    case RoundingMode::halfEven:
        increment = firstDropped > 5 || (firstDropped == 5 && (restNonZero || magnitude.isOdd()));
        break;
    }
    if (increment)
        magnitude.increment();
    return magnitude;
}

std::optional<u128> scaledUp(u128 magnitude, int places)
{
    if (places > maxDigits)
        return magnitude == 0 ? std::optional<u128>(0) : std::nullopt;
    u128 result = 0;
    if (__builtin_mul_overflow(magnitude, powersOfTen[static_cast<std::size_t>(places)], &result)
        || result > maxMagnitude)
        return std::nullopt;
    return result;
}

// An exact result brought into range: places beyond maxScale are rounded half-even, and so are
// further places while the significand would have more than 38 digits; only a result whose
// integer part does not fit is nothing.
std::optional<std::pair<u128, int>> fitToSignificand(Wide magnitude, int scale)
{
    const int dropped = std::max({scale - Decimal::maxScale, magnitude.digitCount() - maxDigits, 0});
    if (dropped > scale)
        return std::nullopt;
    magnitude = dropDigits(magnitude, dropped, RoundingMode::halfEven);
    scale -= dropped;
    if (!magnitude.fitsMagnitude() && scale > 0) {
        // Rounding carried into a new digit (99...9.5 -> 10^38); dropping a zero is exact.
        magnitude.divideByTen();
        --scale;
    }
    if (!magnitude.fitsMagnitude())
        return std::nullopt;
    return std::pair{magnitude.low(), scale};
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

Decimal checkedResult(std::optional<Decimal> result, const char* operation)
{
    if (!result)
        throw std::overflow_error(std::string("Decimal overflow in ") + operation);
    return *result;
}

} // namespace

Decimal::Decimal(std::int64_t value) : significand_(value), scale_(0) {}

std::optional<Decimal> Decimal::fromMagnitude(bool negative, UInt128 magnitude, int scale)
{
    if (magnitude > maxMagnitude)
        return std::nullopt;
    const auto signedMagnitude = static_cast<i128>(magnitude);
    Decimal result(negative ? -signedMagnitude : signedMagnitude, scale);
    result.normalize();
    return result;
}

Decimal::UInt128 Decimal::magnitude() const
{
    return significand_ < 0 ? static_cast<u128>(-significand_) : static_cast<u128>(significand_);
}

void Decimal::normalize()
{
    while (scale_ > 0 && significand_ % 10 == 0) {
        significand_ /= 10;
        --scale_;
    }
    if (significand_ == 0)
        scale_ = 0;
}

std::optional<Decimal> Decimal::parse(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const auto point = text.find('.');
    std::string_view integerPart = text.substr(0, point);
    std::string_view fractionPart = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if (integerPart.empty() && fractionPart.empty())
        return std::nullopt;
    for (std::string_view part : {integerPart, fractionPart}) {
        for (char c : part) {
            if (!isDigit(c))
                return std::nullopt;
        }
    }
    // Zeros that do not change the value do not count against the digits a significand holds.
    while (!integerPart.empty() && integerPart.front() == '0')
        integerPart.remove_prefix(1);
    while (!fractionPart.empty() && fractionPart.back() == '0')
        fractionPart.remove_suffix(1);
    if (fractionPart.size() > static_cast<std::size_t>(maxScale)
        || integerPart.size() + fractionPart.size() > static_cast<std::size_t>(maxDigits))
        return std::nullopt;

    u128 magnitude = 0;
    for (std::string_view part : {integerPart, fractionPart}) {
        for (char c : part)
            magnitude = magnitude * 10 + static_cast<u128>(c - '0');
    }
    return fromMagnitude(negative, magnitude, static_cast<int>(fractionPart.size()));
}

std::optional<Decimal> Decimal::fromDouble(double value)
{
    // The shortest round-trip text in scientific form, "d.ddde±xx", is the exact decimal meant.
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    if (error != std::errc{})
        return std::nullopt;
    const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    const auto exponentAt = text.find('e');
    if (exponentAt == std::string_view::npos) // "nan", "inf"
        return std::nullopt;

    bool negative = false;
    u128 digits = 0;
    int digitCount = 0;
    for (char c : text.substr(0, exponentAt)) {
        if (c == '-') {
            negative = true;
        } else if (isDigit(c)) {
            digits = digits * 10 + static_cast<u128>(c - '0');
            ++digitCount;
        }
    }
    const std::string_view exponentText = text.substr(exponentAt + 1);
    int exponent = 0;
    const char* exponentBegin = exponentText.data() + (exponentText.front() == '+' ? 1 : 0);
    if (std::from_chars(exponentBegin, exponentText.data() + exponentText.size(), exponent).ec != std::errc{})
        return std::nullopt;

    // value = digits * 10^(exponent - (digitCount - 1))
    const int scale = digitCount - 1 - exponent;
    if (scale < 0) {
        const auto magnitude = scaledUp(digits, -scale);
        return magnitude ? fromMagnitude(negative, *magnitude, 0) : std::nullopt;
    }
    if (scale > maxScale) {
        const Wide rounded = dropDigits(Wide::from(digits), scale - maxScale, RoundingMode::halfEven);
        return fromMagnitude(negative, rounded.low(), maxScale);
    }
    return fromMagnitude(negative, digits, scale);
}

std::string Decimal::toString() const
{
    u128 magnitude = this->magnitude();
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    const auto scale = static_cast<std::size_t>(scale_);
    if (digits.size() <= scale)
        digits.insert(0, scale - digits.size() + 1, '0');
    if (scale > 0)
        digits.insert(digits.size() - scale, 1, '.');
    if (significand_ < 0)
        digits.insert(digits.begin(), '-');
    return digits;
}

double Decimal::toDouble() const
{
    // Exact significand and exact power of ten: one correctly rounded division, no text.
    constexpr u128 exactInDouble = u128{1} << 53;
    if (magnitude() <= exactInDouble && scale_ <= 22)
        return static_cast<double>(significand_) / static_cast<double>(powersOfTen[static_cast<std::size_t>(scale_)]);
    // from_chars reads the text the way strtod does, without depending on the C locale.
    const std::string text = toString();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<Decimal> Decimal::adding(const Decimal& other) const
{
    // The common case of money sums: both at one scale after an exact widening in 128 bits.
    if (scale_ == other.scale_ || (scale_ < other.scale_ ? other.scale_ - scale_ : scale_ - other.scale_) <= 18) {
        const int scale = std::max(scale_, other.scale_);
        i128 a = 0, b = 0, sum = 0;
        const auto widen = [scale](i128 significand, int from, i128& out) {
            return !__builtin_mul_overflow(
                significand, static_cast<i128>(powersOfTen[static_cast<std::size_t>(scale - from)]), &out);
        };
        if (widen(significand_, scale_, a) && widen(other.significand_, other.scale_, b)
            && !__builtin_add_overflow(a, b, &sum)) {
            const u128 magnitudeOfSum = sum < 0 ? static_cast<u128>(-sum) : static_cast<u128>(sum);
            if (magnitudeOfSum <= maxMagnitude)
                return fromMagnitude(sum < 0, magnitudeOfSum, scale);
        }
    }
    // Both magnitudes at the larger scale, exactly: at most 68 digits.
    const int scale = std::max(scale_, other.scale_);
    const Wide a = Wide::product(magnitude(), powersOfTen[static_cast<std::size_t>(scale - scale_)]);
    const Wide b = Wide::product(other.magnitude(), powersOfTen[static_cast<std::size_t>(scale - other.scale_)]);
    const bool sameSign = isNegative() == other.isNegative();
    const bool negative = sameSign || a >= b ? isNegative() : other.isNegative();
    const Wide sum = sameSign ? a + b : a >= b ? a - b : b - a;
    const auto fit = fitToSignificand(sum, scale);
    return fit ? fromMagnitude(negative, fit->first, fit->second) : std::nullopt;
}

std::optional<Decimal> Decimal::subtracting(const Decimal& other) const
{
    return adding(-other);
}

std::optional<Decimal> Decimal::multiplying(const Decimal& other) const
{
    // The exact product has scale_ + other.scale_ places (up to 60) and up to 76 digits.
    const auto fit = fitToSignificand(Wide::product(magnitude(), other.magnitude()), scale_ + other.scale_);
    return fit ? fromMagnitude(isNegative() != other.isNegative(), fit->first, fit->second) : std::nullopt;
}

// clang-format off
Decimal Decimal::operator+(const Decimal& other) const { return checkedResult(adding(other), "addition"); }
Decimal Decimal::operator-(const Decimal& other) const { return checkedResult(subtracting(other), "subtraction"); }
Decimal Decimal::operator*(const Decimal& other) const { return checkedResult(multiplying(other), "multiplication"); }
Decimal Decimal::operator-() const { return Decimal(-significand_, scale_); }
// clang-format on

Decimal& Decimal::operator+=(const Decimal& other)
{
    *this = *this + other;
    return *this;
}

Decimal Decimal::rounded(int places, RoundingMode mode) const
{
    if (places < 0 || places > maxScale)
        throw std::out_of_range("Decimal::rounded: places must be within 0 ... maxScale");
    if (places >= scale_)
        return *this;
    const Wide rounded = dropDigits(Wide::from(magnitude()), scale_ - places, mode);
    // Dropping at least one digit of a magnitude below 10^38 leaves room for the carry.
    return *fromMagnitude(isNegative(), rounded.low(), places);
}

std::strong_ordering Decimal::operator<=>(const Decimal& other) const
{
    const int sign = (significand_ > 0) - (significand_ < 0);
    const int otherSign = (other.significand_ > 0) - (other.significand_ < 0);
    if (sign != otherSign)
        return sign <=> otherSign;
    // Same sign: compare magnitudes at a common scale (exactly, in 256 bits).
    const int scale = std::max(scale_, other.scale_);
    const Wide a = Wide::product(magnitude(), powersOfTen[static_cast<std::size_t>(scale - scale_)]);
    const Wide b = Wide::product(other.magnitude(), powersOfTen[static_cast<std::size_t>(scale - other.scale_)]);
    return sign < 0 ? b <=> a : a <=> b;
}

bool Decimal::operator==(const Decimal& other) const
{
    return (*this <=> other) == 0;
}

} // namespace foundation

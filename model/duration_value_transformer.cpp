// Clock-like duration text of whatever holds a number of minutes (model/dates.h clockDuration).
#include "model/duration_value_transformer.h"

#include "model/dates.h"

#include <cmath>
#include <cstdint>

namespace model {
namespace {

// A fraction is cut toward zero; NaN, infinities and values beyond 64 bits have no integer minutes.
std::optional<std::int64_t> truncated(double number)
{
    const double whole = std::trunc(number);
    // 2^63 is the first double out of range; every finite double below it converts exactly.
    if (!std::isfinite(whole) || whole < -9223372036854775808.0 || whole >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(whole);
}

template <typename T>
const T* as(const std::any& value)
{
    return std::any_cast<T>(&value);
}

std::optional<std::int64_t> minutesOf(const std::any& value)
{
    if (const auto* n = as<double>(value))
        return truncated(*n);
    if (const auto* n = as<float>(value))
        return truncated(*n);
    if (const auto* n = as<int>(value))
        return *n;
    if (const auto* n = as<long>(value))
        return *n;
    if (const auto* n = as<long long>(value))
        return *n;
    if (const auto* n = as<short>(value))
        return *n;
    if (const auto* n = as<unsigned short>(value))
        return *n;
    if (const auto* n = as<unsigned>(value))
        return *n;
    if (const auto* n = as<unsigned long>(value); n && *n <= INT64_MAX)
        return static_cast<std::int64_t>(*n);
    if (const auto* n = as<unsigned long long>(value); n && *n <= INT64_MAX)
        return static_cast<std::int64_t>(*n);
    return std::nullopt;
}

} // namespace

std::type_index DurationValueTransformer::transformedValueClass()
{
    return typeid(std::string);
}

bool DurationValueTransformer::allowsReverseTransformation()
{
    return false;
}

std::optional<std::string> DurationValueTransformer::transformedValue(const std::any& value) const
{
    const std::optional<std::int64_t> minutes = minutesOf(value);
    if (!minutes)
        return std::nullopt;
    return clockDuration(*minutes);
}

} // namespace model

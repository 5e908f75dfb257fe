// The largest hourly rate the program takes in. With every rate within it, a timer's cost stays below
// 1.6e23 even over the longest duration a timer can hold (2^63 minutes), so the costs of 200,000 timers
// add up to less than 3.1e28: far inside the 38 digits of a Decimal, and Project::costs stays exact.
#pragma once

#include "foundation/decimal.h"

namespace model {

inline constexpr std::int64_t maximumHourlyRate = 1'000'000;

// Zero up to maximumHourlyRate.
inline bool isAcceptableHourlyRate(const foundation::Decimal& rate)
{
    return !rate.isNegative() && rate <= foundation::Decimal(maximumHourlyRate);
}

} // namespace model

// The kit network client's back-off: a delay from the response's "Retry-After" (at least 2 s) raised to
// the count of tries so far, times a jitter in [0.9, 1.1], capped at one day before it becomes a time.
#pragma once

#include "net/url_response.h"

#include <cstdint>

namespace kits {

inline constexpr double KSTNetworkMaximumRetryDelay = 86'400.0;

// Seconds before the repetition after `retryCount` tries (0 counts as 1); finite, at most a day.
double KSTComputeRetryDelay(const net::HTTPURLResponse* response, std::uint64_t retryCount);
// As above with the jitter given.
double KSTComputeRetryDelayWithJitter(const net::HTTPURLResponse* response, std::uint64_t retryCount, double jitter);
// min + u × (max − min) with u uniform in [0, 1) from the kits' seeded random source.
double KSTRandomDoubleWithMinMax(double min, double max);
// KSTRandomDoubleWithMinMax(0.8999999761581421, 1.100000023841858): 0.9 and 1.1 as single precision.
double KSTGenerateRandomJitter();

} // namespace kits

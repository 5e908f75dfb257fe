// Back-off delays of the kit network client.
#include "kits/platform/kst_network_retry_delay.h"

#include "foundation/random_source.h"
#include "kits/platform/kst_network_response_handler.h"

#include <algorithm>
#include <cmath>

namespace kits {

double KSTComputeRetryDelay(const net::HTTPURLResponse* response, std::uint64_t retryCount)
{
    return KSTComputeRetryDelayWithJitter(response, retryCount, KSTGenerateRandomJitter());
}

double KSTComputeRetryDelayWithJitter(const net::HTTPURLResponse* response, std::uint64_t retryCount, double jitter)
{
    const double base = std::max(2.0, KSTNetworkResponseHandler::retryValueForResponse(response));
    const double exponent = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
    const double delay = std::pow(base, exponent) * jitter;
    // pow overflows to infinity long before a day is too short; the cap keeps the time finite.
    if (!(delay >= 0))
        return 0;
    return std::min(delay, KSTNetworkMaximumRetryDelay);
}

double KSTRandomDoubleWithMinMax(double min, double max)
{
    return min + foundation::randomUnit() * (max - min);
}

double KSTGenerateRandomJitter()
{
    return KSTRandomDoubleWithMinMax(static_cast<double>(0.9f), static_cast<double>(1.1f));
}

} // namespace kits

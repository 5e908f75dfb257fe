// The uploader's exponential back-off with jitter.
#include "kits/analytics/tly_backoff_timer.h"

#include "foundation/scheduler.h"
#include "kits/platform/keystone.h"
#include "kits/platform/kst_network_retry_delay.h"

#include <algorithm>
#include <cmath>

namespace kits {

TLYBackoffTimer::TLYBackoffTimer(double initialValue, double jitterCoefficient)
    : initialValue_(initialValue), jitterCoefficient_(jitterCoefficient)
{
    if (!jitterCoefficientIsValid(jitterCoefficient))
        throw KSTException(
            "Invalid parameter not satisfying: [TLYBackoffTimer jitterCoefficientIsValid:jitterCoefficient]");
}

TLYBackoffTimer::TLYBackoffTimer(double initialValue) : TLYBackoffTimer(initialValue, defaultJitterCoefficient) {}

void TLYBackoffTimer::executeBlockAfterNextInterval(std::function<void()> block)
{
    const std::uint64_t count = retryCount_.fetch_add(1) + 1;
    const double delay = computeDelayForInitialValue(initialValue_, count);
    // Whole nanoseconds, as a dispatch time takes them.
    const double nanoseconds = std::trunc(delay * 1e9);
    foundation::scheduler()->after(foundation::SchedulerDuration(nanoseconds / 1e9), std::move(block));
}

double TLYBackoffTimer::computeDelayForInitialValue(double initialValue, std::uint64_t retryCount) const
{
    // std::max keeps 2.0 for a NaN value, and the cap keeps an overflowing power a finite wait.
    const double base = std::max(2.0, initialValue);
    const double exponent = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
    const double delay = std::pow(base, exponent) * generateRandomJitter();
    if (!(delay >= 0))
        return 0;
    return std::min(delay, KSTNetworkMaximumRetryDelay);
}

double TLYBackoffTimer::generateRandomJitter() const
{
    const double c = jitterCoefficientIsValid(jitterCoefficient_) ? jitterCoefficient_ : defaultJitterCoefficient;
    return randomDoubleWithMinMax(1 - c, 1 + c);
}

double TLYBackoffTimer::randomDoubleWithMinMax(double min, double max)
{
    return KSTRandomDoubleWithMinMax(min, max);
}

} // namespace kits

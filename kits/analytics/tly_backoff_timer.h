// The uploader's back-off for one upload name: each retry waits max(2 s, the server's value) raised to
// the number of retries so far, times a jitter of at most ±c, capped at a day. The wait runs on the
// kits' scheduler; the block it runs only hands work on to a queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace kits {

class TLYBackoffTimer {
public:
    // 0.1 as a single-precision value, as the timer has always used it.
    static constexpr double defaultJitterCoefficient = static_cast<double>(0.1f);

    // Raises KSTException ("Invalid parameter not satisfying: ...") for an invalid coefficient.
    TLYBackoffTimer(double initialValue, double jitterCoefficient);
    explicit TLYBackoffTimer(double initialValue = 0.0);

    static bool jitterCoefficientIsValid(double coefficient) { return coefficient >= 0 && coefficient < 1; }

    double initialValue() const { return initialValue_; }
    double jitterCoefficient() const { return jitterCoefficient_; }
    std::uint64_t retryCount() const { return retryCount_.load(); }

    // Counts the retry, then runs `block` on the scheduler's thread after the delay for the new count.
    void executeBlockAfterNextInterval(std::function<void()> block);
    // max(2, initialValue)^retryCount (count 0 counts as 1) × a new jitter; finite, within
    // [0, KSTNetworkMaximumRetryDelay].
    double computeDelayForInitialValue(double initialValue, std::uint64_t retryCount) const;
    // Uniform in [1 − c, 1 + c]; c is the default coefficient when the timer's is not valid.
    double generateRandomJitter() const;
    static double randomDoubleWithMinMax(double min, double max);

private:
    const double initialValue_;
    const double jitterCoefficient_;
    std::atomic<std::uint64_t> retryCount_{0};
};

} // namespace kits

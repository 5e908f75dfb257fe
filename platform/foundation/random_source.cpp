// Per-thread engines behind one process seed.
#include "foundation/random_source.h"

#include <atomic>
#include <random>

namespace foundation {

namespace {

std::uint64_t processSeed()
{
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t(device()) << 32) ^ device();
    }();
    return seed;
}

std::mt19937_64& engine()
{
    static std::atomic<std::uint64_t> threadsSeeded{0};
    thread_local std::mt19937_64 threadEngine(processSeed() + 0x9e3779b97f4a7c15ull * ++threadsSeeded);
    return threadEngine;
}

} // namespace

std::uint64_t randomUInt64()
{
    return engine()();
}

double randomUnit()
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(engine());
}

std::int64_t randomBetween(std::int64_t low, std::int64_t high)
{
    if (high <= low)
        return low;
    return std::uniform_int_distribution<std::int64_t>(low, high)(engine());
}

} // namespace foundation

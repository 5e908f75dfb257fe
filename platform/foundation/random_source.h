// Random numbers for the kits (back-off jitter, sampling): one engine per thread, each seeded from a
// per-process seed and the thread's own number, so any thread may draw without a lock.
#pragma once

#include <cstdint>

namespace foundation {

std::uint64_t randomUInt64();
// Uniform in [0, 1).
double randomUnit();
// Uniform in [low, high]; `low` when high < low.
std::int64_t randomBetween(std::int64_t low, std::int64_t high);

} // namespace foundation

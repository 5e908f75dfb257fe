// The object arena hands out aligned, non-overlapping memory, also for requests larger than a block.
#include "data/object_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

TEST(ObjectArena, AllocationsAreAlignedDisjointAndUsable)
{
    data::ObjectArena arena;
    std::vector<std::pair<std::byte*, std::size_t>> taken;
    const std::size_t sizes[] = {1, 24, 40, 3, 200, 64, 7};
    const std::size_t alignments[] = {1, 8, 16, 64};
    for (int round = 0; round < 2000; ++round) {
        const std::size_t size = sizes[round % 7];
        const std::size_t alignment = alignments[round % 4];
        auto* memory = static_cast<std::byte*>(arena.allocate(size, alignment));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(memory) % alignment, 0u);
        std::memset(memory, round & 0xff, size);
        taken.emplace_back(memory, size);
    }
    // A request larger than a whole block gets memory of its own, and small ones go on after it.
    const std::size_t large = std::size_t{20} << 20;
    auto* big = static_cast<std::byte*>(arena.allocate(large, 16));
    std::memset(big, 0xab, large);
    taken.emplace_back(big, large);
    taken.emplace_back(static_cast<std::byte*>(arena.allocate(32, 8)), 32);
    EXPECT_GE(arena.reservedBytes(), large);

    std::sort(taken.begin(), taken.end());
    for (std::size_t i = 1; i < taken.size(); ++i)
        EXPECT_LE(taken[i - 1].first + taken[i - 1].second, taken[i].first) << "overlap at " << i;
}

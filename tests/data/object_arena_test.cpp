// The object arena hands out aligned, non-overlapping memory, also for requests larger than a block.
#include "data/object_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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

// Adopting moves whole blocks: what the donor handed out keeps its contents for the adopter's
// lifetime (the sanitizer build sees any block freed twice or early), the donor is left empty and
// usable, and the adopter goes on filling its own block before taking a new one.
TEST(ObjectArena, AdoptedMemoryLivesWithTheAdopter)
{
    static_assert(noexcept(std::declval<data::ObjectArena&>().adopt(std::declval<data::ObjectArena&&>())));
    const auto fill = [](data::ObjectArena& arena, std::size_t count, unsigned char mark) {
        std::vector<unsigned char*> taken;
        for (std::size_t i = 0; i < count; ++i) {
            auto* memory = static_cast<unsigned char*>(arena.allocate(1000, 8));
            std::memset(memory, mark, 1000);
            taken.push_back(memory);
        }
        return taken;
    };
    const auto holds = [](const std::vector<unsigned char*>& taken, unsigned char mark) {
        return std::all_of(taken.begin(), taken.end(), [mark](const unsigned char* memory) {
            return std::all_of(memory, memory + 1000, [mark](unsigned char byte) { return byte == mark; });
        });
    };

    auto adopter = std::make_unique<data::ObjectArena>();
    const auto own = fill(*adopter, 20000, 0x11); // more than two blocks
    std::vector<unsigned char*> donated;
    std::size_t donatedBytes = 0;
    {
        data::ObjectArena donor;
        donated = fill(donor, 20000, 0x22);
        donatedBytes = donor.reservedBytes();
        const std::size_t before = adopter->reservedBytes();
        adopter->adopt(std::move(donor));
        EXPECT_EQ(adopter->reservedBytes(), before + donatedBytes);
        EXPECT_EQ(donor.reservedBytes(), 0u);
        // The emptied donor still works, and what it hands out now is its own again.
        std::memset(donor.allocate(64, 16), 0x33, 64);
        adopter->adopt(data::ObjectArena{}); // nothing to take
    }
    EXPECT_TRUE(holds(donated, 0x22));
    EXPECT_TRUE(holds(own, 0x11));

    // The next small request still comes from the adopter's own newest block, right after its last.
    const std::size_t reserved = adopter->reservedBytes();
    auto* next = static_cast<unsigned char*>(adopter->allocate(1000, 8));
    EXPECT_EQ(next, own.back() + 1000);
    EXPECT_EQ(adopter->reservedBytes(), reserved);

    // An empty arena takes a chain whole.
    data::ObjectArena empty;
    empty.adopt(std::move(*adopter));
    adopter.reset();
    EXPECT_TRUE(holds(donated, 0x22));
    EXPECT_TRUE(holds(own, 0x11));
    EXPECT_EQ(empty.reservedBytes(), reserved);
}

// The process-wide clock swapped while other threads read it: every read is one of the installed
// clocks' times, and a scope restores the clock it replaced.
#include "foundation/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using foundation::Date;
using foundation::FixedClock;

TEST(Clock, SwapsAreWholeForReadersOnOtherThreads)
{
    const Date first{std::chrono::seconds(1'000)};
    const Date second{std::chrono::seconds(2'000)};
    auto firstClock = std::make_shared<FixedClock>(first);
    auto secondClock = std::make_shared<FixedClock>(second);
    foundation::ScopedClock scope(firstClock);
    std::atomic<bool> stop{false};
    std::atomic<int> strange{0};
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 4; ++reader)
        readers.emplace_back([&] {
            while (!stop.load()) {
                const Date now = foundation::now();
                if (now != first && now != second)
                    ++strange;
            }
        });
    for (int swap = 0; swap < 20'000; ++swap)
        foundation::setClock(swap % 2 ? firstClock : secondClock);
    stop.store(true);
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(strange.load(), 0);
}

TEST(Clock, ScopeRestoresTheClockItReplaced)
{
    const Date pinned{std::chrono::seconds(42)};
    {
        foundation::ScopedClock scope(std::make_shared<FixedClock>(pinned));
        EXPECT_EQ(foundation::now(), pinned);
        EXPECT_EQ(foundation::clock()->now(), pinned);
    }
    EXPECT_NE(foundation::now(), pinned);
}

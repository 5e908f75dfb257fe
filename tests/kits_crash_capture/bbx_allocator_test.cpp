// The guarded allocator: region sizes by the page rule, guard and protection faults in forked
// children, the malloc fallbacks, and disjoint blocks under concurrent allocation.
#include "kits/crash/capture/bbx_allocator.h"
#include "kits/crash/capture/bbx_sdk_log.h"

#include "sdk_log_fixture.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using crashtest::contentsOf;

class BBXAllocatorTest : public crashtest::SDKLogFolderTest {
protected:
    BBXAllocatorTest() : SDKLogFolderTest("bbx-allocator") {}
};

[[maybe_unused]] bool diedBySegv(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
}

} // namespace

TEST_F(BBXAllocatorTest, RegionsTakeWholePagesPlusOne)
{
    EXPECT_EQ(BBXAllocatorRegionPages(544872, 4096), 134u);
    EXPECT_EQ(BBXAllocatorRegionPages(17064 + 64, 4096), 5u);
    EXPECT_EQ(BBXAllocatorRegionPages(8192, 4096), 3u) << "a whole multiple still gets one page more";

    BBXAllocator* allocator = BBXAllocatorCreate(544872, 17064);
    ASSERT_NE(allocator, nullptr);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(allocator->writableCapacity, BBXAllocatorRegionPages(544872, page) * page);
    EXPECT_EQ(allocator->writableStart, static_cast<char*>(allocator->base) + page);
    EXPECT_EQ(allocator->protectableStart, allocator->writableStart + allocator->writableCapacity + page);
    EXPECT_EQ(static_cast<void*>(allocator), static_cast<void*>(allocator->protectableStart));
    if (page == 4096) {
        EXPECT_NE(contentsOf(logPath()).find(", total: 568 K\n"), std::string::npos) << contentsOf(logPath());
    }
    EXPECT_NE(contentsOf(logPath()).find("DEBUG [BBXAllocatorCreate:"), std::string::npos);
}

#ifndef HORAVINE_SANITIZED
// Sanitizers install fault handlers of their own, so the faults are only checked in the plain build.
TEST_F(BBXAllocatorTest, GuardPagesAndProtectionFault)
{
    BBXAllocator* allocator = BBXAllocatorCreate(544872, 17064);
    ASSERT_NE(allocator, nullptr);
    auto* lastWritable = static_cast<char*>(BBXAllocatorSafeAllocate(allocator, 16, BBXAllocationKindWritable));
    ASSERT_NE(lastWritable, nullptr);
    lastWritable[0] = 1; // inside: fine

    const auto pastWritable = testsupport::runInChild([&] {
        volatile char* guard = allocator->writableStart + allocator->writableCapacity;
        *guard = 1;
        return std::string("wrote into the guard");
    });
    EXPECT_TRUE(diedBySegv(pastWritable.status)) << pastWritable.report;

    const auto intoProtected = testsupport::runInChild([&] {
        auto* block =
            static_cast<volatile char*>(BBXAllocatorSafeAllocate(allocator, 32, BBXAllocationKindProtectable));
        block[0] = 1; // before protection: fine
        if (!BBXAllocatorProtect(allocator))
            return std::string("protect failed");
        block[0] = 2;
        return std::string("wrote after protection");
    });
    EXPECT_TRUE(diedBySegv(intoProtected.status)) << intoProtected.report;
}
#endif

TEST_F(BBXAllocatorTest, FallsBackToMallocWithAWarning)
{
    BBXAllocator* allocator = BBXAllocatorCreate(100, 100);
    ASSERT_NE(allocator, nullptr);
    const std::size_t capacity = allocator->writableCapacity;
    void* tooBig = BBXAllocatorSafeAllocate(allocator, capacity + 1, BBXAllocationKindWritable);
    ASSERT_NE(tooBig, nullptr);
    EXPECT_TRUE(tooBig < static_cast<void*>(allocator->base)
                || tooBig > static_cast<void*>(allocator->protectableStart + allocator->protectableCapacity));
    std::free(tooBig);
    EXPECT_NE(contentsOf(logPath()).find("] Unable to allocate sufficient memory, falling back to malloc\n"),
              std::string::npos);

    const auto before = contentsOf(logPath());
    EXPECT_EQ(BBXAllocatorSafeAllocate(allocator, 8, 2), nullptr);
    EXPECT_EQ(contentsOf(logPath()), before) << "another kind logs nothing";

    void* withoutAllocator = BBXAllocatorSafeAllocate(nullptr, 8, BBXAllocationKindWritable);
    ASSERT_NE(withoutAllocator, nullptr);
    BBXAllocatorFree(nullptr, withoutAllocator);
    EXPECT_NE(contentsOf(logPath()).find("] Allocator invalid, falling back to malloc\n"), std::string::npos);

    EXPECT_TRUE(BBXAllocatorProtect(allocator));
    EXPECT_TRUE(BBXAllocatorProtect(allocator));
    EXPECT_NE(contentsOf(logPath()).find("] Write protection already enabled"), std::string::npos);
    void* afterProtection = BBXAllocatorSafeAllocate(allocator, 8, BBXAllocationKindWritable);
    ASSERT_NE(afterProtection, nullptr);
    std::free(afterProtection);
    EXPECT_NE(contentsOf(logPath()).find("] Allocator already protected, falling back to malloc\n"), std::string::npos);
    EXPECT_FALSE(BBXAllocatorProtect(nullptr));
}

TEST_F(BBXAllocatorTest, ConcurrentAllocationsAreDisjoint)
{
    BBXAllocator* allocator = BBXAllocatorCreate(8 * 1000 * 48, 64);
    ASSERT_NE(allocator, nullptr);
    std::vector<std::vector<char*>> blocks(8);
    std::vector<std::thread> threads;
    for (std::size_t thread = 0; thread < 8; ++thread)
        threads.emplace_back([&, thread] {
            for (int index = 0; index < 1000; ++index)
                blocks[thread].push_back(
                    static_cast<char*>(BBXAllocatorSafeAllocate(allocator, 48, BBXAllocationKindWritable)));
        });
    for (auto& thread : threads)
        thread.join();
    std::vector<char*> all;
    for (const auto& mine : blocks)
        all.insert(all.end(), mine.begin(), mine.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), 8000u);
    for (std::size_t index = 0; index < all.size(); ++index) {
        ASSERT_GE(all[index], allocator->writableStart);
        ASSERT_LE(all[index] + 48, allocator->writableStart + allocator->writableCapacity);
        if (index > 0) {
            ASSERT_GE(all[index], all[index - 1] + 48) << "blocks overlap";
        }
    }
}

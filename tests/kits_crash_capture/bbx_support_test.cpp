// The crash kit's support functions: the extension-point lookup with its warnings, activity tokens
// in the register, safe reads that fail instead of faulting, string and file helpers, address names
// and delayed work on the virtual scheduler.
#include "kits/crash/capture/bbx_support.h"

#include "foundation/main_bundle.h"
#include "foundation/scheduler.h"
#include "kits/crash/capture/bbx_allocator.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_sdk_log.h"

#include "sdk_log_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

using foundation::PropertyListDictionary;

namespace {

using crashtest::contentsOf;

class BBXSupportTest : public crashtest::SDKLogFolderTest {
protected:
    BBXSupportTest() : SDKLogFolderTest("bbx-support") {}
    void TearDown() override
    {
        SDKLogFolderTest::TearDown();
        foundation::MainBundle::setInfoDictionary(nullptr);
    }
};

// One readable page followed by one that cannot be read.
struct PageEdge {
    std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    char* base =
        static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    PageEdge() { mprotect(base + page, page, PROT_NONE); }
    ~PageEdge() { munmap(base, 2 * page); }
    char* unreadable() const { return base + page; }
};

} // namespace

TEST_F(BBXSupportTest, ExtensionPointComesFromTheInformationDictionary)
{
    EXPECT_EQ(BBXApplicationExtensionPointIdentifier(), std::nullopt);
    foundation::MainBundle::setInfoDictionary(PropertyListDictionary{});
    EXPECT_FALSE(BBXApplicationIsExtension());
    EXPECT_EQ(contentsOf(logPath()), "") << "no entry is no warning";

    foundation::MainBundle::setInfoDictionary(PropertyListDictionary{{"NSExtension", "text"}});
    EXPECT_FALSE(BBXApplicationIsExtension());
    EXPECT_NE(contentsOf(logPath()).find("] Error: NSExtension Info.plist entry is mal-formed\n"), std::string::npos);

    foundation::MainBundle::setInfoDictionary(
        PropertyListDictionary{{"NSExtension", PropertyListDictionary{{"NSExtensionPointIdentifier", 3}}}});
    EXPECT_FALSE(BBXApplicationIsExtension());
    EXPECT_NE(contentsOf(logPath()).find("] Error: NSExtensionPointIdentifier Info.plist entry is mal-formed\n"),
              std::string::npos);

    foundation::MainBundle::setInfoDictionary(PropertyListDictionary{
        {"NSExtension", PropertyListDictionary{{"NSExtensionPointIdentifier", "com.example.point"}}}});
    EXPECT_EQ(BBXApplicationExtensionPointIdentifier(), "com.example.point");
    EXPECT_TRUE(BBXApplicationIsExtension());
    EXPECT_EQ(BBXApplicationSharedInstance(), nullptr);
}

TEST_F(BBXSupportTest, ActivitiesAreCountedInTheRegisterWhileTheyLast)
{
    const std::size_t before = foundation::ActivityRegister::activeCount();
    auto token = BBXApplicationBeginActivity(BBXActivitySuddenTerminationDisabled, "Uploading reports");
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 1);
    EXPECT_EQ(*token->dictionary.get<std::int64_t>("options"), 0x4000);
    EXPECT_EQ(*token->dictionary.get<std::string>("reason"), "Uploading reports");
    BBXApplicationEndActivity(std::move(token));
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before);
    BBXApplicationEndActivity(nullptr);

    std::size_t during = 0;
    BBXApplicationActivity(0, "work", [&] { during = foundation::ActivityRegister::activeCount(); });
    EXPECT_EQ(during, before + 1);
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before);

    const auto mark = BBXProfileMark();
    EXPECT_GE(BBXProfileEnd(mark), 0.0);
}

TEST_F(BBXSupportTest, SafeReadsFailInsteadOfFaulting)
{
    char source[16] = "stack bytes";
    char copy[16] = {};
    EXPECT_TRUE(BBXReadMemory(source, copy, sizeof source));
    EXPECT_STREQ(copy, "stack bytes");
    EXPECT_FALSE(BBXReadMemory(nullptr, copy, 1));
    EXPECT_FALSE(BBXReadMemory(reinterpret_cast<const void*>(4095), copy, 1));

    PageEdge edge;
    ASSERT_NE(edge.base, MAP_FAILED);
    EXPECT_FALSE(BBXReadMemory(edge.unreadable(), copy, 1));
    EXPECT_FALSE(BBXReadMemory(edge.unreadable() - 4, copy, 8)) << "partly readable is not readable";

    const char* text = "0123456789";
    const char* found = nullptr;
    EXPECT_TRUE(BBXReadMemoryStringLength(text, &found, 128));
    EXPECT_EQ(found, text);
    EXPECT_EQ(BBXReadMemoryStringLengthProbes(), 11u);
    EXPECT_TRUE(BBXReadMemoryStringLength(text, &found, 4));
    EXPECT_EQ(BBXReadMemoryStringLengthProbes(), 4u);
    EXPECT_TRUE(BBXReadMemoryStringLength(nullptr, &found, 0)) << "a maximum of 0 succeeds at once";

    // A text that runs into an unreadable page.
    char* tail = edge.unreadable() - 3;
    std::memcpy(tail, "abc", 3);
    found = nullptr;
    EXPECT_FALSE(BBXReadMemoryStringLength(tail, &found, 128));
    EXPECT_EQ(found, nullptr);
}

TEST_F(BBXSupportTest, StringAndFileHelpers)
{
    BBXAllocator* allocator = BBXAllocatorCreate(4096, 4096);
    ASSERT_NE(allocator, nullptr);
    BBXSetDuplicateStringAllocator(allocator);
    char* copy = BBXDuplicateString("report path");
    // Back to the process's context (when a test made one), whose later copies must not leak.
    BBXSetDuplicateStringAllocator(BBXContextGet() ? BBXContextGet()->allocator : nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "report path");
    EXPECT_GE(copy, allocator->protectableStart);
    EXPECT_LT(copy, allocator->protectableStart + allocator->protectableCapacity);
    EXPECT_EQ(BBXDuplicateString(nullptr), nullptr);

    const auto file = folder.path() / "x";
    std::ofstream(file) << "x";
    EXPECT_TRUE(BBXUnlinkIfExists(file.c_str()));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(BBXUnlinkIfExists(file.c_str())) << "no file is fine";
    EXPECT_FALSE(BBXUnlinkIfExists(folder.path().c_str())) << "a folder is not unlinked";
}

TEST_F(BBXSupportTest, NamesOfAnAddress)
{
    std::string symbol, image;
    BBXDladdrNames(reinterpret_cast<const void*>(&::getpid), [&](const char* s, const char* i) {
        symbol = s ? s : "<none>";
        image = i ? i : "<none>";
    });
    EXPECT_NE(image.find("libc"), std::string::npos) << image;
    EXPECT_NE(symbol, "<none>");

    int onTheStack = 0;
    bool bothNone = false;
    BBXDladdrNames(&onTheStack, [&](const char* s, const char* i) { bothNone = !s && !i; });
    EXPECT_TRUE(bothNone);
}

TEST_F(BBXSupportTest, DelayedWorkGoesThroughTheScheduler)
{
    auto virtualClock = std::make_shared<foundation::VirtualScheduler>();
    foundation::setScheduler(virtualClock);
    auto queue = std::make_shared<foundation::SerialQueue>("com.horavine.test.delayed");
    std::atomic<bool> ran{false};
    BBXDispatchAfterSeconds(queue, 2.0, [&] { ran = queue->isCurrent(); });
    virtualClock->advance(foundation::SchedulerDuration(1.9));
    queue->sync([] {});
    EXPECT_FALSE(ran.load());
    virtualClock->advance(foundation::SchedulerDuration(0.1));
    queue->sync([] {});
    EXPECT_TRUE(ran.load()) << "ran on the queue";

    auto operations = std::make_shared<foundation::OperationQueue>(1);
    std::promise<bool> operationRan;
    BBXDispatchAfterSecondsOnGlobalQueue(operations, 0.5, [&] { operationRan.set_value(true); });
    virtualClock->advance(foundation::SchedulerDuration(0.5));
    EXPECT_TRUE(operationRan.get_future().get()); // handed over through the global pool
    EXPECT_EQ(virtualClock->requestedDelays().size(), 2u);
    foundation::setScheduler(nullptr);
}

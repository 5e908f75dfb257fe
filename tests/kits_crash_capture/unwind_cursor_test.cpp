// The unwind cursor: walks of real code without frame pointers (a chain, a recursion with its rules
// reused and found afresh) against glibc's backtrace, a frame-pointer chain into unmapped memory, a
// cycle of frame pointers cut at the frame limit with its repeat count, the first step's stack scan,
// and invalid starts.
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_unwind.h"

#include "kits_crash_capture/unwind_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/mman.h>

extern "C" int unwindChainStart(void (*callback)(const ucontext_t*, void* const*, int, void*), void* argument,
                                int value);
extern "C" int unwindRecursionStart(void (*callback)(const ucontext_t*, void* const*, int, void*), void* argument,
                                    int depth);

namespace {

using kits::BBXUnwindCursor;

std::string readLog(const std::filesystem::path& path)
{
    std::ifstream stream(path);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

class UnwindCursorTest : public ::testing::Test {
protected:
    void SetUp() override { BBXSDKLogSetContext(logPath().c_str(), 3); }
    void TearDown() override { BBXSDKLogSetContext(nullptr, 1); }
    std::filesystem::path logPath() const { return folder.path() / "sdk.log"; }
    testsupport::TempFolder folder{"bbx-unwind"};
};

} // namespace

namespace {

// What a walk from the test library's innermost function saw: the cursor's frames (with the rule
// reuse on and off) and glibc's backtrace.
struct Seen {
    std::vector<std::uint64_t> frames;
    std::vector<std::uint64_t> framesWithoutReuse;
    std::vector<std::uint64_t> trace;
};

void walkInto(const ucontext_t* context, void* const* trace, int count, void* argument)
{
    auto& into = *static_cast<Seen*>(argument);
    for (bool reuse : {true, false}) {
        auto& frames = reuse ? into.frames : into.framesWithoutReuse;
        BBXUnwindCursor cursor;
        kits::BBXUnwindInit(&cursor, testsupport::registersOf(*context), testsupport::processMemory(),
                            testsupport::nodeFinder(testsupport::loadedNodes()));
        cursor.reuseRepeatedRules = reuse;
        while (frames.size() < 128 && kits::BBXUnwindNextFrameUsingAllStrategies(&cursor))
            frames.push_back(kits::BBXUnwindGetPC(&cursor));
    }
    for (int index = 0; index < count; ++index)
        into.trace.push_back(reinterpret_cast<std::uint64_t>(trace[index]));
}

// From the second frame on, the walk gives backtrace's return addresses down to main.
void expectFramesOfBacktrace(const Seen& seen, std::size_t minimumDepth)
{
    ASSERT_FALSE(seen.frames.empty());
    EXPECT_EQ(seen.frames, seen.framesWithoutReuse);
    const auto chain = os::loadedImageContaining(seen.frames[0]);
    ASSERT_TRUE(chain);
    std::size_t innermost = 0; // backtrace's own interceptor comes first under the sanitizers
    while (innermost < seen.trace.size() && !chain->contains(seen.trace[innermost]))
        ++innermost;
    std::size_t mainAt = 0;
    for (std::size_t index = innermost; index < seen.trace.size() && mainAt == 0; ++index) {
        if (testsupport::functionName(seen.trace[index]) == "main")
            mainAt = index;
    }
    ASSERT_GT(mainAt, innermost + minimumDepth);
    ASSERT_GT(seen.frames.size(), mainAt - innermost);
    for (std::size_t index = 1; index <= mainAt - innermost; ++index)
        EXPECT_EQ(seen.frames[index], seen.trace[innermost + index]) << index;
}

} // namespace

TEST_F(UnwindCursorTest, WalkOfCodeWithoutFramePointersMatchesBacktrace)
{
    Seen seen;
    unwindChainStart(walkInto, &seen, 3);
    expectFramesOfBacktrace(seen, 5);
    // The walk ends at the outermost frame without calling that a failure.
    EXPECT_EQ(readLog(logPath()).find("Failed to advance"), std::string::npos) << readLog(logPath());
}

TEST_F(UnwindCursorTest, RecursionWalksAlikeWithTheRulesReusedOrFoundAfresh)
{
    // Forty frames return to one PC; the rules found for it are applied again, to new registers.
    Seen seen;
    unwindRecursionStart(walkInto, &seen, 40);
    expectFramesOfBacktrace(seen, 40);
    const auto recursion = std::count(seen.frames.begin(), seen.frames.end(), seen.frames[2]);
    EXPECT_GE(recursion, 39);
}

TEST_F(UnwindCursorTest, FramePointerIntoUnmappedMemoryEndsTheWalk)
{
    // An unmapped page for rbp, and a PC in an image without unwind tables.
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    ::munmap(page, 4096);
    std::uint64_t stack[16] = {};
    const std::vector<kits::BBXBinaryImageNode> nodes = {{0x5000, 0x1000, 0, 0, 0}};
    kits::BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x5010;
    registers.value[kits::BBXDwarfRegisterRSP] = reinterpret_cast<std::uint64_t>(stack);
    registers.value[kits::BBXDwarfRegisterRBP] = reinterpret_cast<std::uint64_t>(page);

    BBXUnwindCursor cursor;
    ASSERT_TRUE(kits::BBXUnwindInit(&cursor, registers, testsupport::processMemory(), testsupport::nodeFinder(nodes)));
    ASSERT_TRUE(kits::BBXUnwindNextFrameUsingAllStrategies(&cursor));
    EXPECT_EQ(kits::BBXUnwindGetPC(&cursor), 0x5010u);
    EXPECT_FALSE(kits::BBXUnwindNextFrameUsingAllStrategies(&cursor));
    const std::string log = readLog(logPath());
    EXPECT_NE(log.find("Error: failed to read memory at address"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR [advance:"), std::string::npos) << log;
}

TEST_F(UnwindCursorTest, FramePointerCycleStopsAtTheFrameLimit)
{
    // rbp points at itself, with a return address into an image without unwind tables.
    testsupport::MemoryBuffer stack;
    stack.base = 0x1fff0;
    for (std::uint64_t word : {0ull, 0ull, 0x20000ull, 0x5005ull, 0ull, 0ull})
        for (int index = 0; index < 8; ++index)
            stack.bytes += static_cast<char>(word >> (8 * index));
    const std::vector<kits::BBXBinaryImageNode> nodes = {{0x5000, 0x1000, 0, 0, 0}};
    kits::BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x5010;
    registers.value[kits::BBXDwarfRegisterRSP] = 0x1fff0;
    registers.value[kits::BBXDwarfRegisterRBP] = 0x20000;

    BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, registers, testsupport::bufferMemory(stack), testsupport::nodeFinder(nodes));
    std::uint64_t frames = 0;
    while (kits::BBXUnwindNextFrameUsingAllStrategies(&cursor))
        ++frames;
    EXPECT_EQ(frames, kits::BBXUnwindMaximumFrames);
    EXPECT_EQ(kits::BBXUnwindGetPC(&cursor), 0x5005u);
    EXPECT_EQ(kits::BBXUnwindGetStackPointer(&cursor), 0x20010u);
    EXPECT_EQ(kits::BBXUnwindGetRepeatCount(&cursor), kits::BBXUnwindMaximumFrames - 2); // from the third frame on
    EXPECT_NE(readLog(logPath()).find("WARN  [advance:"), std::string::npos);
    EXPECT_NE(readLog(logPath()).find("Exceeded maximum number of frames\n"), std::string::npos);
}

TEST_F(UnwindCursorTest, FirstStepScansTheStackForTheReturnAddress)
{
    // A crash before the function set up its frame: the return address lies on the stack above a word
    // that points nowhere, rbp still holds the caller's frame (saved rbp 0, return address 0x5200).
    BBXSDKLogSetContext(logPath().c_str(), 1);
    testsupport::MemoryBuffer stack;
    stack.base = 0x20000;
    for (std::uint64_t word : {0x1234ull, 0x5123ull, 0x7777ull, 0x5300ull, 0ull, 0x5200ull})
        for (int index = 0; index < 8; ++index)
            stack.bytes += static_cast<char>(word >> (8 * index));
    const std::vector<kits::BBXBinaryImageNode> nodes = {{0x5000, 0x1000, 0, 0, 0}};
    kits::BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x5010;
    registers.value[kits::BBXDwarfRegisterRSP] = 0x20000;
    registers.value[kits::BBXDwarfRegisterRBP] = 0x20020;

    BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, registers, testsupport::bufferMemory(stack), testsupport::nodeFinder(nodes));
    std::vector<std::uint64_t> frames;
    std::vector<bool> scanned;
    while (kits::BBXUnwindNextFrameUsingAllStrategies(&cursor)) {
        frames.push_back(kits::BBXUnwindGetPC(&cursor));
        scanned.push_back(kits::BBXUnwindFrameWasScanned(&cursor));
    }
    // The scan stops at the first word inside an image (not at 0x5300 further up), keeps SP, and the
    // next step follows the frame pointer. Only the scanned frame says so.
    EXPECT_EQ(frames, (std::vector<std::uint64_t>{0x5010, 0x5123, 0x5200}));
    EXPECT_EQ(scanned, (std::vector<bool>{false, true, false}));
    const std::string log = readLog(logPath());
    EXPECT_NE(log.find("Stack scan successful"), std::string::npos) << log;
    EXPECT_NE(log.find("FP is zero, aborting unwind"), std::string::npos) << log;
}

TEST_F(UnwindCursorTest, InvalidStartsYieldNothing)
{
    BBXUnwindCursor cursor;
    EXPECT_FALSE(kits::BBXUnwindInit(nullptr, {}, {}, {}));
    kits::BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x10; // below 4096
    registers.value[kits::BBXDwarfRegisterRSP] = 0x7000;
    kits::BBXUnwindInit(&cursor, registers, testsupport::processMemory(), {});
    EXPECT_FALSE(kits::BBXUnwindIsValid(&cursor));
    EXPECT_FALSE(kits::BBXUnwindNextFrameUsingAllStrategies(&cursor));
    EXPECT_FALSE(kits::BBXUnwindNextFrameUsingAllStrategies(nullptr));
    EXPECT_EQ(kits::BBXUnwindGetPC(nullptr), 0u);
    EXPECT_NE(readLog(logPath()).find("Cancelling unwind for thread with invalid PC/SP"), std::string::npos);
    EXPECT_NE(readLog(logPath()).find("Error: invalid inputs"), std::string::npos);

    // rbp zero in an image without unwind tables: the first frame, then the end.
    registers.value[kits::BBXDwarfRegisterRIP] = 0x5010;
    const std::vector<kits::BBXBinaryImageNode> nodes = {{0x5000, 0x1000, 0, 0, 0}};
    kits::BBXUnwindInit(&cursor, registers, testsupport::processMemory(), testsupport::nodeFinder(nodes));
    EXPECT_TRUE(kits::BBXUnwindNextFrameUsingAllStrategies(&cursor));
    EXPECT_FALSE(kits::BBXUnwindNextFrameUsingAllStrategies(&cursor));
    EXPECT_NE(readLog(logPath()).find("FP is zero, aborting unwind"), std::string::npos);
}

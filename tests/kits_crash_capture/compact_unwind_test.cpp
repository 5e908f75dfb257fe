// The compact unwind strategy on tables the tests build: a walk through an rbp-frame, a frameless and
// a DWARF entry, a regular second-level page falling back to the frame pointer, lookups at the edges
// of the index and pages, the indirect stack size, the permutation of saved registers, and lookups
// and walks over seeded mutations of the table.
#include "kits/crash/capture/bbx_compact_unwind.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_unwind.h"

#include "kits_crash_capture/unwind_support.h"
#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using kits::BBXCompactUnwindResult;
using kits::BBXDwarfRegisters;
using testsupport::MemoryBuffer;
using testsupport::word;

constexpr std::uint64_t loadAddress = 0x100000;
constexpr std::uint64_t tableAt = 0x10000;
constexpr std::uint64_t frameSectionAt = 0x14000;
constexpr std::uint64_t stackAt = 0x18000;

void half(std::string& out, std::uint16_t value)
{
    out += static_cast<char>(value);
    out += static_cast<char>(value >> 8);
}

// A compressed page: entries (function offset | encoding index << 24) and the page's own encodings.
std::string compressedPage(const std::vector<std::uint32_t>& entries, const std::vector<std::uint32_t>& encodings)
{
    std::string page;
    word(page, 3);
    half(page, 12);
    half(page, static_cast<std::uint16_t>(entries.size()));
    half(page, static_cast<std::uint16_t>(12 + 4 * entries.size()));
    half(page, static_cast<std::uint16_t>(encodings.size()));
    for (auto entry : entries)
        word(page, entry);
    for (auto encoding : encodings)
        word(page, encoding);
    return page;
}

std::string regularPage(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries)
{
    std::string page;
    word(page, 2);
    half(page, 8);
    half(page, static_cast<std::uint16_t>(entries.size()));
    for (const auto& [offset, encoding] : entries) {
        word(page, offset);
        word(page, encoding);
    }
    return page;
}

// Header, common encodings, the first-level index (function offset and its page, none for the end
// marker), then the pages.
std::string compactTable(const std::vector<std::uint32_t>& common,
                         const std::vector<std::pair<std::uint32_t, std::string>>& index)
{
    const auto commonAt = static_cast<std::uint32_t>(28);
    const auto indexAt = static_cast<std::uint32_t>(commonAt + 4 * common.size());
    const auto pagesAt = static_cast<std::uint32_t>(indexAt + 12 * index.size());
    std::string table;
    for (std::uint32_t field : {1u, commonAt, static_cast<std::uint32_t>(common.size()), 0u, 0u, indexAt,
                                static_cast<std::uint32_t>(index.size())})
        word(table, field);
    for (auto encoding : common)
        word(table, encoding);
    std::string pages;
    for (const auto& [functionOffset, page] : index) {
        word(table, functionOffset);
        word(table, page.empty() ? 0 : static_cast<std::uint32_t>(pagesAt + pages.size()));
        word(table, 0);
        pages += page;
    }
    return table + pages;
}

// Frameless: 0x20 bytes of stack, rbx then rbp saved (permutation 4 of two registers).
constexpr std::uint32_t framelessEncoding = 0x02000000 | (4 << 16) | (2 << 10) | 4;
constexpr std::uint32_t rbpFrameEncoding = 0x01000000;

// Several buffers at their addresses; a read must lie within one of them.
kits::BBXMemoryReader regionsMemory(const std::vector<MemoryBuffer>& regions)
{
    return {[](const void* context, std::uint64_t address, void* destination, std::size_t size) {
                for (const auto& region : *static_cast<const std::vector<MemoryBuffer>*>(context)) {
                    if (testsupport::bufferMemory(region).get(address, destination, size))
                        return true;
                }
                return false;
            },
            &regions};
}

void putWord(MemoryBuffer& region, std::uint64_t address, std::uint64_t value)
{
    for (int index = 0; index < 8; ++index)
        region.bytes[address - region.base + index] = static_cast<char>(value >> (8 * index));
}

// An image at 0x100000 with a table of two first-level entries: functions at 0x1000 (rbp frame),
// 0x1800 (frameless), 0x1c00 (DWARF) and 0x1e00 (no unwind information) in a compressed page, one at
// 0x3000 in a regular page; and an image at 0x5000 without any tables.
struct Fixture {
    std::string table;
    std::string frameSection;
    std::vector<MemoryBuffer> regions;
    std::vector<kits::BBXBinaryImageNode> nodes = {{loadAddress, 0x10000, frameSectionAt, tableAt, 0},
                                                   {0x5000, 0x1000, 0, 0, 0}};

    Fixture()
    {
        // CFA = rsp + 8, the return address at CFA - 8.
        frameSection = testsupport::cie("", "", "\x0c\x07\x08\x90\x01");
        const auto fdeOffset = static_cast<std::uint32_t>(frameSection.size());
        frameSection += testsupport::fde(frameSection.size(), loadAddress + 0x1c00, 0x200, "", false);
        table = compactTable({rbpFrameEncoding},
                             {{0x1000, compressedPage({0x000, 0x800 | 1 << 24, 0xc00 | 2 << 24, 0xe00 | 3 << 24},
                                                      {framelessEncoding, 0x04000000 | fdeOffset, 0})},
                              {0x3000, regularPage({{0x3000, rbpFrameEncoding}})},
                              {0x4000, ""}});
        MemoryBuffer stack{stackAt, std::string(0x1000, '\0')};
        putWord(stack, 0x18100, 0x18200); // rbp frame: saved rbp, return address
        putWord(stack, 0x18108, loadAddress + 0x1810);
        putWord(stack, 0x18118, 0xbbbb); // frameless: rbx, rbp, return address
        putWord(stack, 0x18120, 0x18300);
        putWord(stack, 0x18128, loadAddress + 0x1c10);
        putWord(stack, 0x18130, 0x5010); // the DWARF function's return address
        putWord(stack, 0x18300, 0);      // the last frame-pointer frame
        putWord(stack, 0x18308, 0x5200);
        regions = {{tableAt, table}, {frameSectionAt, frameSection}, stack};
    }

    kits::BBXMemoryReader memory() const { return regionsMemory(regions); }
};

struct Frame {
    std::uint64_t pc;
    std::uint64_t sp;
    std::uint64_t rbp;
    bool operator==(const Frame&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Frame& frame)
{
    return out << std::hex << "{pc " << frame.pc << ", sp " << frame.sp << ", rbp " << frame.rbp << "}";
}

class CompactUnwindTest : public ::testing::Test {
protected:
    void SetUp() override { BBXSDKLogSetContext(logPath().c_str(), 1); }
    void TearDown() override { BBXSDKLogSetContext(nullptr, 1); }
    std::filesystem::path logPath() const { return folder.path() / "sdk.log"; }
    std::string log() const
    {
        std::ifstream stream(logPath());
        return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    }

    std::vector<Frame> walk(const BBXDwarfRegisters& registers, std::uint64_t* rbx = nullptr)
    {
        kits::BBXUnwindCursor cursor;
        kits::BBXUnwindInit(&cursor, registers, fixture.memory(), testsupport::nodeFinder(fixture.nodes));
        std::vector<Frame> frames;
        while (frames.size() < 16 && kits::BBXUnwindNextFrameUsingAllStrategies(&cursor))
            frames.push_back({kits::BBXUnwindGetPC(&cursor), kits::BBXUnwindGetStackPointer(&cursor),
                              cursor.registers.value[kits::BBXDwarfRegisterRBP]});
        if (rbx)
            *rbx = cursor.registers.value[3];
        return frames;
    }

    testsupport::TempFolder folder{"bbx-compact"};
    Fixture fixture;
};

BBXDwarfRegisters registersAt(std::uint64_t pc, std::uint64_t sp, std::uint64_t rbp)
{
    BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRIP] = pc;
    registers.value[kits::BBXDwarfRegisterRSP] = sp;
    registers.value[kits::BBXDwarfRegisterRBP] = rbp;
    registers.value[3] = 0x1111; // rbx
    return registers;
}

} // namespace

TEST_F(CompactUnwindTest, WalkThroughFramePointerFramelessAndDwarfEntries)
{
    std::uint64_t rbx = 0;
    const auto frames = walk(registersAt(loadAddress + 0x1010, stackAt, 0x18100), &rbx);
    const std::vector<Frame> expected = {
        {loadAddress + 0x1010, stackAt, 0x18100},
        {loadAddress + 0x1810, 0x18110, 0x18200}, // through the frame pointer
        {loadAddress + 0x1c10, 0x18130, 0x18300}, // frameless: rbp restored from its slot
        {0x5010, 0x18138, 0x18300},               // the FDE the DWARF entry points at
        {0x5200, 0x18310, 0},                     // an image without tables: the frame pointer
    };
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(rbx, 0x1111u); // the frameless step skips every register but rbp
    const std::string text = log();
    for (const char* line :
         {"Found a second level compressed header\n", "Frameless unwind encountered with encoding",
          "Error: skipping a restore of register 1 at 0x18118\n", "SP is 0x18110 and we are reading 0x18128\n",
          "Read PC to be 0x101c10\n", "Trying to read dwarf data with offset", "FP is zero, aborting unwind\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("skipping a restore of register 6"), std::string::npos);
    EXPECT_EQ(text.find("Failed to advance"), std::string::npos);
}

TEST_F(CompactUnwindTest, RegularPageAndMissingEntriesFallBackToTheFramePointer)
{
    // rsp = rbp: the first step's stack scan finds nothing, and the frame pointer is followed.
    auto frames = walk(registersAt(loadAddress + 0x3010, 0x18100, 0x18100));
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[1], (Frame{loadAddress + 0x1810, 0x18110, 0x18200}));
    std::string text = log();
    for (const char* line : {"Found a second level regular header\n", "Encountered a regular second-level page\n",
                             "Second-level PC lookup failed\n", "Unable to lookup compact unwind for pc 0x103010\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

    // An entry without unwind information, and a PC beyond the index's end marker.
    for (std::uint64_t pc : {loadAddress + 0x1e10, loadAddress + 0x4010}) {
        frames = walk(registersAt(pc, 0x18100, 0x18100));
        ASSERT_GE(frames.size(), 2u) << pc;
        EXPECT_EQ(frames[1].pc, loadAddress + 0x1810) << pc;
    }
    text = log();
    EXPECT_NE(text.find("Entry has has no unwind info\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Unable to find pc in first level\n"), std::string::npos) << text;
}

TEST_F(CompactUnwindTest, LookupGivesEncodingAndFunctionRange)
{
    kits::BBXCompactUnwindContext context;
    const auto memory = fixture.memory();
    ASSERT_TRUE(kits::BBXCompactUnwindInit(&context, memory, tableAt, frameSectionAt, loadAddress));
    EXPECT_EQ(context.header.indexCount, 3u);

    BBXCompactUnwindResult result;
    // The first function: its encoding from the common array.
    ASSERT_TRUE(kits::BBXCompactUnwindLookup(context, memory, loadAddress + 0x1001, result));
    EXPECT_EQ(result.encoding, rbpFrameEncoding);
    EXPECT_EQ(result.functionStart, loadAddress + 0x1000);
    EXPECT_EQ(result.functionEnd, loadAddress + 0x1800);
    EXPECT_EQ(context.nextFunctionOffset, 0x3000u);
    // The page's own encodings; the last entry of the page ends at the next first-level entry.
    ASSERT_TRUE(kits::BBXCompactUnwindLookup(context, memory, loadAddress + 0x1bff, result));
    EXPECT_EQ(result.encoding, framelessEncoding);
    EXPECT_EQ(result.functionEnd, loadAddress + 0x1c00);
    EXPECT_FALSE(kits::BBXCompactUnwindLookup(context, memory, loadAddress + 0x2fff, result)); // encoding 0
    // Before the first function, at the end marker, and below the image.
    for (std::uint64_t pc : {loadAddress + 0xfff, loadAddress + 0x4000, loadAddress - 1})
        EXPECT_FALSE(kits::BBXCompactUnwindLookup(context, memory, pc, result)) << pc;

    // Headers that cannot be used.
    EXPECT_FALSE(kits::BBXCompactUnwindInit(&context, memory, 0x100, frameSectionAt, loadAddress));
    EXPECT_FALSE(kits::BBXCompactUnwindInit(&context, memory, tableAt, frameSectionAt, 0));
    EXPECT_FALSE(kits::BBXCompactUnwindInit(nullptr, memory, tableAt, frameSectionAt, loadAddress));
    EXPECT_FALSE(kits::BBXCompactUnwindInit(&context, memory, stackAt + 0xff8, frameSectionAt, loadAddress));
    fixture.regions[0].bytes[0] = 2;
    EXPECT_FALSE(kits::BBXCompactUnwindInit(&context, fixture.memory(), tableAt, frameSectionAt, loadAddress));
    const std::string text = log();
    for (const char* line : {"Error: bad unwind_info structure version (2 != 1)\n",
                             "Error: invalid unwind info passed to compact unwind init\n",
                             "Error: invalid load address passed to compact unwind init\n",
                             "Error: invalid context passed to compact unwind init\n",
                             "Error: could not read memory contents of unwindInfo\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST_F(CompactUnwindTest, FramelessStepsByTheirStackSize)
{
    kits::BBXCompactUnwindContext context;
    const auto memory = fixture.memory();
    ASSERT_TRUE(kits::BBXCompactUnwindInit(&context, memory, tableAt, frameSectionAt, loadAddress));
    // Indirect: the size 0x18 lies 4 bytes into the function, plus one word of adjustment; rbp alone
    // is saved (permutation 5 of one register).
    auto& stack = fixture.regions[2];
    const std::string size("\x18\0\0\0", 4);
    stack.bytes.replace(0x800 + 4, 4, size);
    putWord(stack, 0x18410, 0x18500);
    putWord(stack, 0x18418, 0x5040);
    const auto indirectMemory = fixture.memory();
    BBXCompactUnwindResult result{0x03000000 | (4 << 16) | (1 << 13) | (1 << 10) | 5, stackAt + 0x800, 0};
    auto registers = registersAt(loadAddress + 0x10, 0x18400, 0x1);
    ASSERT_TRUE(kits::BBXCompactUnwindComputeRegisters(context, indirectMemory, result, registers));
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRIP], 0x5040u);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRSP], 0x18420u);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRBP], 0x18500u);

    // Seven registers, an unknown mode, a return address below 4096 and an unreadable size fail and
    // leave the registers alone.
    registers = registersAt(loadAddress + 0x10, 0x18400, 0x1);
    const auto before = registers;
    for (std::uint32_t encoding : {0x02000000u | (7u << 10), 0x05000000u, 0x02000000u | (1u << 16)}) {
        result.encoding = encoding;
        EXPECT_FALSE(kits::BBXCompactUnwindComputeRegisters(context, indirectMemory, result, registers)) << encoding;
    }
    result = {0x03000000, 0x40, 0};
    EXPECT_FALSE(kits::BBXCompactUnwindComputeRegisters(context, indirectMemory, result, registers));
    for (std::uint64_t number = 0; number < kits::BBXDwarfRegisterCount; ++number)
        EXPECT_EQ(registers.value[number], before.value[number]) << number;
    const std::string text = log();
    for (const char* line :
         {"Error: unhandled number of register permutations for encoding 2001c00\n", "Invalid encoding 5000000\n",
          "Error: computed PC is invalid\n", "Error: unable to read subl value\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(CompactUnwind, PermutationNamesTheSavedRegistersInStackOrder)
{
    // Each digit picks among the registers not yet named (1 rbx, 2 r12, 3 r13, 4 r14, 5 r15, 6 rbp).
    struct Case {
        std::uint32_t count;
        std::uint32_t permutation;
        std::vector<int> registers;
    };
    const Case cases[] = {
        {6, 0, {1, 2, 3, 4, 5, 6}},
        {6, 719, {6, 5, 4, 3, 2, 1}},
        {5, 259, {3, 1, 6, 2, 5}},
        {4, 110, {2, 6, 1, 5}},
        {3, 100, {6, 1, 2}},
        {2, 4, {1, 6}},
        {1, 5, {6}},
        {0, 0, {}},
    };
    for (const auto& c : cases) {
        int registers[6] = {-1, -1, -1, -1, -1, -1};
        ASSERT_TRUE(kits::BBXCompactUnwindDecodePermutation(c.count, c.permutation, registers)) << c.count;
        EXPECT_EQ(std::vector<int>(registers, registers + c.count), c.registers) << c.permutation;
        for (std::uint32_t index = c.count; index < 6; ++index)
            EXPECT_EQ(registers[index], 0);
    }
    int registers[6] = {};
    EXPECT_FALSE(kits::BBXCompactUnwindDecodePermutation(7, 0, registers));
}

TEST(CompactUnwind, LookupsAndWalksAnswerEveryMutatedTable)
{
    const Fixture fixture;
    const auto seed = testsupport::fuzzSeed(30002);
    auto failure = testsupport::runParserCheck(
        {fixture.table}, seed, testsupport::fuzzMutationCount(), [&](std::string_view input) {
            std::vector<MemoryBuffer> regions = fixture.regions;
            regions[0].bytes = std::string(input);
            const auto memory = regionsMemory(regions);
            kits::BBXCompactUnwindContext context;
            if (kits::BBXCompactUnwindInit(&context, memory, tableAt, frameSectionAt, loadAddress)) {
                for (std::uint64_t offset : {0x1001, 0x1810, 0x1c10, 0x1e10, 0x3010, 0x4010}) {
                    BBXCompactUnwindResult result;
                    const std::uint64_t pc = loadAddress + offset;
                    if (kits::BBXCompactUnwindLookup(context, memory, pc, result)
                        && (result.encoding == 0 || pc < result.functionStart || pc >= result.functionEnd))
                        return false;
                    auto registers = registersAt(pc, 0x18100, 0x18100);
                    kits::BBXCompactUnwindLookupAndCompute(context, memory, registers);
                }
            }
            kits::BBXUnwindCursor cursor;
            kits::BBXUnwindInit(&cursor, registersAt(loadAddress + 0x1010, stackAt, 0x18100), memory,
                                testsupport::nodeFinder(fixture.nodes));
            // A frame the cursor yields has a PC and an SP at or above 4096.
            for (int frame = 0; frame < 16 && kits::BBXUnwindNextFrameUsingAllStrategies(&cursor); ++frame) {
                if (!kits::BBXUnwindIsValid(&cursor))
                    return false;
            }
            return true;
        });
    EXPECT_FALSE(failure) << failure->where;
}

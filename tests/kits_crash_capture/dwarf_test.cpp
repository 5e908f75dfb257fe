// The DWARF layer of the unwinder: walks through real compiler output (a chain without frame
// pointers, against glibc's backtrace; through qsort), call-frame instructions and expressions built
// byte by byte, CIE augmentations, the expression stack's limit, and the parsers, rule machine,
// expression machine and .eh_frame_hdr search over seeded mutations.
#include "kits/crash/capture/bbx_dwarf.h"
#include "kits/crash/capture/bbx_eh_frame_header.h"
#include "kits/crash/capture/bbx_sdk_log.h"

#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include "kits_crash_capture/unwind_support.h"
#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

extern "C" int unwindChainStart(void (*callback)(const ucontext_t*, void* const*, int, void*), void* argument,
                                int value);

namespace {

using kits::BBXDwarfRegisters;
using kits::BBXDwarfStep;
using kits::BBXMemoryReader;

using testsupport::functionName;
using testsupport::processMemory;
using testsupport::registersOf;
using Buffer = testsupport::MemoryBuffer;
using testsupport::bufferMemory;

// Return addresses from a context, each frame found through its image's .eh_frame_hdr.
std::vector<std::uint64_t> walk(BBXDwarfRegisters registers, std::size_t limit = 128)
{
    const auto memory = processMemory();
    std::vector<std::uint64_t> frames{registers.value[kits::BBXDwarfRegisterRIP]};
    while (frames.size() < limit) {
        const std::uint64_t pc = registers.value[kits::BBXDwarfRegisterRIP] - 1; // inside the call
        const auto image = os::loadedImageContaining(pc);
        kits::BBXDwarfFDE fde;
        if (!image || image->ehFrameHeader == 0
            || !kits::BBXEhFrameHeaderFindFDE(memory, image->ehFrameHeader, pc, fde))
            break;
        if (kits::BBXDwarfUnwindComputeRegisters(memory, fde, pc, registers) != BBXDwarfStep::unwound)
            break;
        frames.push_back(registers.value[kits::BBXDwarfRegisterRIP]);
    }
    return frames;
}

using testsupport::cie;
using testsupport::expressionBlock;
using testsupport::fde;
using testsupport::literal;
using testsupport::quad;
using testsupport::sleb;
using testsupport::uleb;
using testsupport::word;

} // namespace

TEST(DwarfUnwind, ChainWithoutFramePointersMatchesBacktrace)
{
    // The walk runs inside the innermost function's callback, while the chain is on the stack.
    struct Seen {
        std::vector<std::uint64_t> frames;
        std::vector<std::uint64_t> trace;
    } seen;
    unwindChainStart(
        [](const ucontext_t* context, void* const* trace, int count, void* argument) {
            auto& into = *static_cast<Seen*>(argument);
            into.frames = walk(registersOf(*context));
            for (int index = 0; index < count; ++index)
                into.trace.push_back(reinterpret_cast<std::uint64_t>(trace[index]));
        },
        &seen, 5);

    // The first entries differ (getcontext and backtrace are called from different places in the
    // innermost function, and under the sanitizers backtrace's own interceptor comes first); from the
    // innermost function's caller on they are the same return addresses, through main.
    const auto chain = os::loadedImageContaining(seen.frames.at(0));
    ASSERT_TRUE(chain);
    std::size_t innermost = 0;
    while (innermost < seen.trace.size() && !chain->contains(seen.trace[innermost]))
        ++innermost;
    std::size_t mainAt = 0;
    for (std::size_t index = innermost; index < seen.trace.size() && mainAt == 0; ++index) {
        if (functionName(seen.trace[index]) == "main")
            mainAt = index;
    }
    ASSERT_GT(mainAt, innermost + 5);
    ASSERT_GT(seen.frames.size(), mainAt - innermost);
    for (std::size_t index = 1; index <= mainAt - innermost; ++index)
        EXPECT_EQ(seen.frames[index], seen.trace[innermost + index])
            << index << ": " << functionName(seen.frames[index]) << " vs "
            << functionName(seen.trace[innermost + index]);
}

namespace {

// Frames walked from inside a qsort comparator, once.
std::vector<std::uint64_t> comparatorFrames;

int compareWalkingOnce(const void* left, const void* right)
{
    if (comparatorFrames.empty()) {
        ucontext_t context;
        ::getcontext(&context);
        comparatorFrames = walk(registersOf(context));
    }
    return *static_cast<const int*>(left) - *static_cast<const int*>(right);
}

__attribute__((noinline, noclone)) void sortThroughLibc()
{
    // libc's own qsort: under the sanitizers the plain name is their interceptor.
    using Sort = void (*)(void*, std::size_t, std::size_t, int (*)(const void*, const void*));
    void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    const auto sort = reinterpret_cast<Sort>(::dlsym(libc, "qsort"));
    ::dlclose(libc);
    int values[] = {5, 3, 9, 1, 7, 2, 8};
    sort(values, std::size(values), sizeof values[0], compareWalkingOnce);
    asm volatile("" ::: "memory");
}

} // namespace

TEST(DwarfUnwind, WalkPassesLibcFramesToTheCallerOfQsort)
{
    comparatorFrames.clear();
    sortThroughLibc();
    const auto frames = comparatorFrames;
    ASSERT_FALSE(frames.empty());
    std::vector<std::string> names;
    for (auto frame : frames)
        names.push_back(functionName(frame));
    bool throughLibc = false;
    bool reachedCaller = false;
    for (std::size_t index = 1; index < frames.size() && !reachedCaller; ++index) {
        const auto image = os::loadedImageContaining(frames[index] - 1);
        throughLibc = throughLibc || (image && image->path.filename().string().find("libc.so") != std::string::npos);
        reachedCaller = names[index].find("sortThroughLibc") != std::string::npos;
    }
    EXPECT_TRUE(throughLibc) << ::testing::PrintToString(names);
    EXPECT_TRUE(reachedCaller) << ::testing::PrintToString(names);
}

TEST(DwarfUnwind, RememberRestoreOffsetAndUndefinedReturnAddress)
{
    // CIE: CFA = rsp + 8; rip at CFA - 8.
    std::string initial = "\x0c\x07\x08"; // def_cfa rsp, 8
    initial += '\x90';                    // offset rip (16), 1 * -8
    uleb(initial, 1);
    std::string instructions;
    instructions += '\x41';     // advance 1: after "push rbp"
    instructions += "\x0e\x10"; // def_cfa_offset 16
    instructions += '\x86';     // offset rbp, 2 * -8
    uleb(instructions, 2);
    instructions += '\x0a';     // remember_state
    instructions += '\x41';     // advance 1
    instructions += "\x0e\x20"; // def_cfa_offset 32
    instructions += '\x11';     // offset_extended_sf rbx, 3 (* -8)
    uleb(instructions, 3);
    sleb(instructions, 3);
    instructions += '\x41';     // advance 1
    instructions += '\x0b';     // restore_state: CFA rsp + 16 again, no rbx rule
    instructions += '\xc6';     // restore rbp: as after the CIE (no rule)
    instructions += '\x41';     // advance 1
    instructions += "\x07\x10"; // undefined rip: the outermost frame

    Buffer buffer;
    buffer.bytes = cie("", "", initial);
    const std::size_t fdeAt = buffer.bytes.size();
    buffer.bytes += fde(fdeAt, 0x1000, 0x100, instructions, false);
    const auto memory = bufferMemory(buffer);
    kits::BBXDwarfFDE record;
    ASSERT_TRUE(kits::BBXDwarfParseFDERecord(memory, buffer.base + fdeAt, record));

    // A stack at 0x20000: rbp saved at CFA - 16, rbx at CFA - 24, the return address at CFA - 8.
    Buffer stack;
    stack.base = 0x20000;
    for (std::uint64_t slot = 0; slot < 8; ++slot)
        quad(stack.bytes, 0xaaaa0000 + slot);
    struct TwoReaders {
        BBXMemoryReader image;
        BBXMemoryReader stack;
    } readers{memory, bufferMemory(stack)};
    const BBXMemoryReader both{[](const void* context, std::uint64_t address, void* destination, std::size_t size) {
                                   const auto& pair = *static_cast<const TwoReaders*>(context);
                                   return pair.image.get(address, destination, size)
                                          || pair.stack.get(address, destination, size);
                               },
                               &readers};
    auto step = [&](std::uint64_t pc, std::uint64_t rsp, BBXDwarfRegisters& registers) {
        registers.value[kits::BBXDwarfRegisterRSP] = rsp;
        registers.value[kits::BBXDwarfRegisterRIP] = pc;
        registers.value[3] = 0x3333;
        registers.value[6] = 0x6666;
        return kits::BBXDwarfUnwindComputeRegisters(both, record, pc, registers);
    };

    BBXDwarfRegisters registers;
    // At 0x1002 (after remember, in the deeper state): CFA = 0x20000 + 32; rbx at CFA - 24.
    ASSERT_EQ(step(0x1002, 0x20000, registers), BBXDwarfStep::unwound);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRSP], 0x20020u);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRIP], 0xaaaa0003u); // CFA - 8 = slot 3
    EXPECT_EQ(registers.value[3], 0xaaaa0001u);                         // CFA - 24 = slot 1
    EXPECT_EQ(registers.value[6], 0xaaaa0002u);                         // CFA - 16 = slot 2
    // At 0x1003: the remembered state again, then rbp restored to "unchanged".
    ASSERT_EQ(step(0x1003, 0x20000, registers), BBXDwarfStep::unwound);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRSP], 0x20010u);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRIP], 0xaaaa0001u);
    EXPECT_EQ(registers.value[3], 0x3333u);
    EXPECT_EQ(registers.value[6], 0x6666u);
    // At 0x1004 the return address is undefined: the end of the stack, registers untouched.
    EXPECT_EQ(step(0x1004, 0x20000, registers), BBXDwarfStep::endOfStack);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRSP], 0x20000u);
}

TEST(DwarfUnwind, PltExpressionGivesItsCfa)
{
    // DW_OP_breg7 8; DW_OP_breg16 0; lit15; and; lit11; ge; lit3; shl; plus
    Buffer buffer;
    buffer.bytes = expressionBlock(literal("\x77\x08\x80\x00\x3f\x1a\x3b\x2a\x33\x24\x22"));
    BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRSP] = 0x7000;
    std::uint64_t cfa = 0;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x1005;
    ASSERT_TRUE(kits::BBXDwarfEvaluateExpression(bufferMemory(buffer), buffer.base, registers, 0, cfa));
    EXPECT_EQ(cfa, 0x7008u);
    registers.value[kits::BBXDwarfRegisterRIP] = 0x100b;
    ASSERT_TRUE(kits::BBXDwarfEvaluateExpression(bufferMemory(buffer), buffer.base, registers, 0, cfa));
    EXPECT_EQ(cfa, 0x7010u);
}

TEST(DwarfUnwind, ExpressionStackHoldsAHundredValues)
{
    BBXDwarfRegisters registers;
    std::uint64_t result = 0;
    for (int pushes : {99, 100}) { // plus the initial value: 100 fit, 101 do not
        Buffer buffer;
        buffer.bytes = expressionBlock(std::string(static_cast<std::size_t>(pushes), '\x31')); // lit1
        EXPECT_EQ(kits::BBXDwarfEvaluateExpression(bufferMemory(buffer), buffer.base, registers, 0, result),
                  pushes == 99)
            << pushes;
    }
    Buffer empty;
    empty.bytes = expressionBlock("");
    EXPECT_FALSE(kits::BBXDwarfEvaluateExpression(bufferMemory(empty), empty.base, registers, 0, result));
    Buffer underflow;
    underflow.bytes = expressionBlock("\x13\x13"); // drop, drop
    EXPECT_FALSE(kits::BBXDwarfEvaluateExpression(bufferMemory(underflow), underflow.base, registers, 0, result));
    Buffer division;
    division.bytes = expressionBlock("\x35\x30\x1b"); // 5 / 0
    EXPECT_FALSE(kits::BBXDwarfEvaluateExpression(bufferMemory(division), division.base, registers, 0, result));
}

TEST(DwarfUnwind, ExpressionMachineRunsOneOpcodeAtATime)
{
    // lit5, lit7, minus, dup, drop, drop, drop (one too many), then DW_OP_skip, which it does not run.
    Buffer buffer;
    buffer.bytes = "\x35\x37\x1c\x12\x13\x13\x13\x2f";
    BBXDwarfRegisters registers;
    const auto memory = bufferMemory(buffer);
    kits::BBXDwarfExpressionMachine machine(memory, buffer.base, buffer.base + 7, registers);
    auto step = [&] { return kits::BBXDwarfExpressionMachineExecuteNextOpcode(machine); };
    ASSERT_TRUE(step());
    EXPECT_EQ(machine.pick(0), 5u);
    ASSERT_TRUE(step());
    EXPECT_EQ(machine.pick(1), 5u);
    EXPECT_EQ(machine.pick(0), 7u);
    ASSERT_TRUE(step());
    EXPECT_EQ(machine.pick(0), std::uint64_t(0) - 2); // 5 - 7 wraps
    ASSERT_TRUE(step());
    EXPECT_EQ(machine.pick(1), std::uint64_t(0) - 2);
    ASSERT_TRUE(step());
    ASSERT_TRUE(step());
    EXPECT_TRUE(machine.empty());
    EXPECT_TRUE(machine.valid());
    step(); // a pop from the empty stack
    EXPECT_FALSE(machine.valid());
    EXPECT_TRUE(machine.atEnd());
    EXPECT_EQ(machine.pop(), 0u);

    kits::BBXDwarfExpressionMachine branching(memory, buffer.base + 7, buffer.base + 8, registers);
    EXPECT_FALSE(kits::BBXDwarfExpressionMachineExecuteNextOpcode(branching));
}

TEST(DwarfUnwind, CieAugmentations)
{
    std::string data;
    data += '\x00'; // P: absptr personality
    quad(data, 0x401000);
    data += '\x1b'; // L: pcrel|sdata4
    data += '\x1b'; // R: pcrel|sdata4
    Buffer buffer;
    buffer.bytes = cie("zPLR", data, "\x0c\x07\x08");
    kits::BBXDwarfCIE record;
    ASSERT_TRUE(kits::BBXDwarfParseCIERecord(bufferMemory(buffer), buffer.base, record));
    EXPECT_EQ(record.personality, 0x401000u);
    EXPECT_EQ(record.lsdaEncoding, 0x1b);
    EXPECT_EQ(record.fdeEncoding, 0x1b);
    EXPECT_EQ(record.dataAlignment, -8);
    EXPECT_EQ(record.returnAddressRegister, 16u);

    buffer.bytes = cie("eh", "", "");
    EXPECT_FALSE(kits::BBXDwarfParseCIERecord(bufferMemory(buffer), buffer.base, record));
    buffer.bytes = cie("zQ", "\x01", "");
    EXPECT_FALSE(kits::BBXDwarfParseCIERecord(bufferMemory(buffer), buffer.base, record));
    buffer.bytes = cie("zR", "", ""); // R without its byte in the augmentation data
    EXPECT_FALSE(kits::BBXDwarfParseCIERecord(bufferMemory(buffer), buffer.base, record));
}

TEST(DwarfUnwind, ParsersAndMachinesAnswerEveryMutation)
{
    // Samples: a CIE and FDE pair with most instructions, expressions, and an .eh_frame_hdr with
    // its table over three FDEs.
    std::string instructions = "\x41\x0e\x10\x86\x02\x0a\x41\x0e\x20\x0b\xc6\x2e\x04\x14\x03\x02\x15\x03\x7e";
    instructions += '\x0f' + expressionBlock(literal("\x77\x08\x80\x00\x3f\x1a\x3b\x2a\x33\x24\x22"));
    instructions += "\x10\x03" + expressionBlock("\x70\x08\x06");
    instructions += "\x16\x0c" + expressionBlock("\x71\x10\x94\x04");
    std::string frameSection = cie("zR", literal("\x00"), "\x0c\x07\x08\x90\x01");
    std::vector<std::size_t> fdes;
    for (std::uint64_t index = 0; index < 3; ++index) {
        fdes.push_back(frameSection.size());
        frameSection += fde(frameSection.size(), 0x30000 + index * 0x100, 0x100, instructions, true);
    }
    // .eh_frame_hdr placed after the section: version 1, eh_frame_ptr udata8, count udata4, table
    // datarel|sdata4 relative to the header.
    const std::uint64_t base = 0x10000;
    const std::uint64_t header = base + frameSection.size();
    std::string table = "\x01\x04\x03\x3b";
    quad(table, base);
    word(table, 3);
    for (std::uint64_t index = 0; index < 3; ++index) {
        word(table, static_cast<std::uint32_t>(0x30000 + index * 0x100 - header));
        word(table, static_cast<std::uint32_t>(base + fdes[index] - header));
    }
    const std::vector<std::string> samples = {frameSection + table, expressionBlock(instructions)};

    // The unmutated sample resolves each function.
    {
        Buffer buffer{base, samples[0]};
        for (std::uint64_t index = 0; index < 3; ++index) {
            kits::BBXDwarfFDE found;
            ASSERT_TRUE(kits::BBXEhFrameHeaderFindFDE(bufferMemory(buffer), header, 0x30010 + index * 0x100, found));
            EXPECT_EQ(found.pcStart, 0x30000 + index * 0x100);
        }
    }

    const auto seed = testsupport::fuzzSeed(30001);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(), [&](std::string_view input) {
            Buffer buffer{base, std::string(input)};
            const auto memory = bufferMemory(buffer);
            const std::uint64_t end = base + input.size();
            // A record may claim more bytes than there are: its instructions then fail to read later.
            kits::BBXDwarfCIE cieRecord;
            if (kits::BBXDwarfParseCIERecord(memory, base, cieRecord)
                && cieRecord.instructionsStart > cieRecord.instructionsEnd)
                return false;
            BBXDwarfRegisters registers;
            for (std::uint64_t number = 0; number < kits::BBXDwarfRegisterCount; ++number)
                registers.value[number] = 0x20000 + number * 8;
            for (std::size_t offset : fdes) {
                kits::BBXDwarfFDE record;
                if (!kits::BBXDwarfParseFDERecord(memory, base + offset, record))
                    continue;
                if (record.instructionsStart > record.instructionsEnd || record.pcStart == 0)
                    return false;
                auto copy = registers;
                kits::BBXDwarfUnwindComputeRegisters(memory, record, record.pcStart + 3, copy);
            }
            kits::BBXDwarfFDE found;
            for (std::uint64_t pc : {0x30000, 0x30150, 0x302ff, 0x40000})
                kits::BBXEhFrameHeaderFindFDE(memory, header, pc, found);
            std::uint64_t result = 0;
            kits::BBXDwarfEvaluateExpression(memory, base, registers, 0x7000, result);
            kits::BBXDwarfRuleMachine machine;
            kits::BBXDwarfInstructionsEnumerate(memory, base, end, cieRecord, 0, UINT64_MAX, machine);
            return true;
        });
    EXPECT_FALSE(failure) << failure->where;
}

TEST(DwarfUnwind, FailuresAreLoggedToSdkLog)
{
    testsupport::TempFolder folder{"bbx-dwarf"};
    const auto log = folder.path() / "sdk.log";
    BBXSDKLogSetContext(log.c_str(), 1);

    // An FDE whose instructions hold an unknown opcode (0x3f), and one that leaves rsp unchanged.
    Buffer buffer;
    buffer.bytes = cie("", "", "\x0c\x07\x08\x90\x01");
    const std::size_t unknownAt = buffer.bytes.size();
    buffer.bytes += fde(unknownAt, 0x1000, 0x10, "\x3f", false);
    const std::size_t unchangedAt = buffer.bytes.size();
    buffer.bytes += fde(unchangedAt, 0x2000, 0x10, literal("\x0e\x00"), false); // def_cfa_offset 0
    const auto memory = bufferMemory(buffer);
    BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRSP] = 0x10000; // CFA - 8 lies in the buffer
    kits::BBXDwarfFDE record;
    ASSERT_TRUE(kits::BBXDwarfParseFDERecord(memory, buffer.base + unknownAt, record));
    EXPECT_EQ(kits::BBXDwarfUnwindComputeRegisters(memory, record, 0x1000, registers), BBXDwarfStep::failed);
    ASSERT_TRUE(kits::BBXDwarfParseFDERecord(memory, buffer.base + unchangedAt, record));
    registers.value[kits::BBXDwarfRegisterRSP] = 0x10008;
    EXPECT_EQ(kits::BBXDwarfUnwindComputeRegisters(memory, record, 0x2000, registers), BBXDwarfStep::failed);
    Buffer empty;
    empty.bytes = expressionBlock("");
    std::uint64_t result = 0;
    EXPECT_FALSE(kits::BBXDwarfEvaluateExpression(bufferMemory(empty), empty.base, registers, 0, result));
    BBXSDKLogSetContext(nullptr, 1);

    std::ifstream stream(log);
    const std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    for (const char* line :
         {"Error: Unrecognized DWARF instruction 0x3f\n", "Error: Failed to execute dwarf instruction 0x3f\n",
          "Error: Unable to run FDE instructions\n", "Error: Stack pointer hasn't changed\n",
          "Error: DWARF expression length is zero\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_NE(text.find("WARN  [BBXDwarfUnwindComputeRules:"), std::string::npos);
}

TEST(DwarfUnwind, InstructionsAndOpcodesWriteTraceLines)
{
    testsupport::TempFolder folder{"bbx-dwarf-trace"};
    const auto log = folder.path() / "sdk.log";
    BBXSDKLogSetContext(log.c_str(), 1);

    // The CIE: def_cfa rsp+8, rip at CFA-8. FDEs: advance 1, def_cfa_offset 16, rbp at CFA-16, and an
    // rbx rule by expression (breg7 8; lit15; and), r12 by value expression (bregx 20 0); then one that
    // names register 20 for the CFA.
    Buffer buffer;
    buffer.bytes = cie("", "", "\x0c\x07\x08\x90\x01");
    const std::size_t goodAt = buffer.bytes.size();
    buffer.bytes += fde(goodAt, 0x1000, 0x10,
                        "\x41\x0e\x10\x86\x02\x10\x03" + expressionBlock(literal("\x77\x08\x3f\x1a")) + "\x16\x0c"
                            + expressionBlock(literal("\x92\x14\x00")),
                        false);
    const std::size_t badAt = buffer.bytes.size();
    buffer.bytes += fde(badAt, 0x2000, 0x10, "\x0c\x14\x08", false);
    buffer.bytes += std::string(0x40, '\0'); // a stack at its end
    const auto memory = bufferMemory(buffer);
    const std::uint64_t stack = buffer.base + buffer.bytes.size() - 0x40;
    BBXDwarfRegisters registers;
    registers.value[kits::BBXDwarfRegisterRSP] = stack;
    registers.value[kits::BBXDwarfRegisterRIP] = 0x1005;
    kits::BBXDwarfFDE record;
    ASSERT_TRUE(kits::BBXDwarfParseFDERecord(memory, buffer.base + goodAt, record));
    EXPECT_EQ(kits::BBXDwarfUnwindComputeRegisters(memory, record, 0x1004, registers), BBXDwarfStep::unwound);
    EXPECT_EQ(registers.value[kits::BBXDwarfRegisterRSP], stack + 16);
    ASSERT_TRUE(kits::BBXDwarfParseFDERecord(memory, buffer.base + badAt, record));
    EXPECT_EQ(kits::BBXDwarfUnwindComputeRegisters(memory, record, 0x2004, registers), BBXDwarfStep::failed);
    BBXSDKLogSetContext(nullptr, 1);

    std::ifstream stream(log);
    const std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    for (const char* line :
         {"] DW_CFA_def_cfa 7, 8\n", "] DW_CFA_offset 16, -8\n", "] DW_CFA_advance_loc 1\n",
          "] DW_CFA_def_cfa_offset 7, 16\n", "] DW_CFA_offset 6, -16\n", "] DW_CFA_expression 3, 0x",
          "] DW_OP_breg7 8\n", "] DW_OP_lit15\n", "] DW_OP_plus_and\n", "] DW_CFA_val_expression 12, 0x",
          "] DW_OP_bregx\n", "Error: Unrecognized get register number 20\n",
          "Error: Found an invalid DW_CFA_def_cfa register number\n",
          "Error: Failed to execute dwarf instruction 0xc\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

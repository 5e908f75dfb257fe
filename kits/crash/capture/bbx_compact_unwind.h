// The compact unwind table ("__unwind_info") of an image: a two-level index from function offsets to
// 32-bit encodings that say how a function's frame unwinds on x86-64 (frame pointer, frameless with
// a stack size, or through an FDE). No ELF image carries one, so on Linux a walk never meets it.
// Crash-time code: no heap, no locks, every read through a memory reader.
#pragma once

#include "kits/crash/capture/bbx_dwarf.h"

#include <cstdint>

namespace kits {

// The table's 28-byte header as it lies in the section.
struct BBXCompactUnwindHeader {
    std::uint32_t version = 0;
    std::uint32_t commonEncodingsArraySectionOffset = 0;
    std::uint32_t commonEncodingsArrayCount = 0;
    std::uint32_t personalityArraySectionOffset = 0;
    std::uint32_t personalityArrayCount = 0;
    std::uint32_t indexSectionOffset = 0;
    std::uint32_t indexCount = 0;
};
static_assert(sizeof(BBXCompactUnwindHeader) == 28);

// Where the table lies, its header, and after a first-level lookup the index entry found.
struct BBXCompactUnwindContext {
    std::uint64_t unwindInfo = 0;
    std::uint64_t ehFrame = 0;
    std::uint64_t loadAddress = 0;
    BBXCompactUnwindHeader header;
    std::uint32_t functionOffset = 0;
    std::uint32_t secondLevelPageOffset = 0;
    std::uint32_t lsdaOffset = 0;
    std::uint32_t nextFunctionOffset = 0;
};

struct BBXCompactUnwindResult {
    std::uint32_t encoding = 0;
    std::uint64_t functionStart = 0;
    std::uint64_t functionEnd = 0;
};

// Encoding fields (x86-64).
constexpr std::uint32_t BBXCompactUnwindModeMask = 0x0f000000;
constexpr std::uint32_t BBXCompactUnwindModeRBPFrame = 0x01000000;
constexpr std::uint32_t BBXCompactUnwindModeStackImmediate = 0x02000000;
constexpr std::uint32_t BBXCompactUnwindModeStackIndirect = 0x03000000;
constexpr std::uint32_t BBXCompactUnwindModeDwarf = 0x04000000;

// Reads the header of the table at `unwindInfo` of the image loaded at `loadAddress`; `ehFrame` is
// the image's frame section, which DWARF-mode encodings point into. False for addresses below 4096,
// an unreadable header or a version other than 1.
bool BBXCompactUnwindInit(BBXCompactUnwindContext* context, const BBXMemoryReader& memory, std::uint64_t unwindInfo,
                          std::uint64_t ehFrame, std::uint64_t loadAddress);
// The encoding and function range of `pc`: first level, then a compressed second-level page (regular
// pages are not searched).
bool BBXCompactUnwindLookup(BBXCompactUnwindContext& context, const BBXMemoryReader& memory, std::uint64_t pc,
                            BBXCompactUnwindResult& result);
// Looks up the registers' PC and unwinds them by its encoding.
bool BBXCompactUnwindLookupAndCompute(BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                      BBXDwarfRegisters& registers);
// Unwinds by `result.encoding`: rbp frame, frameless (immediate or indirect stack size) or DWARF.
// Only rip, rsp and rbp change, except in DWARF mode.
bool BBXCompactUnwindComputeRegisters(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                      const BBXCompactUnwindResult& result, BBXDwarfRegisters& registers);
// The FDE at eh_frame + `offset`; an undefined return address ends the stack (rip 0).
bool BBXCompactUnwindDwarfFrame(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                std::uint32_t offset, BBXDwarfRegisters& registers);
// The frame-pointer step: rip = [rbp + 8], rbp = [rbp], rsp = old rbp + 16.
bool BBXCompactUnwindBPFrame(const BBXMemoryReader& memory, BBXDwarfRegisters& registers);

// The saved registers of a frameless encoding in the order they lie on the stack, numbered 1 rbx,
// 2 r12, 3 r13, 4 r14, 5 r15, 6 rbp (0 where the permutation names none). False for a count above 6.
bool BBXCompactUnwindDecodePermutation(std::uint32_t count, std::uint32_t permutation, int (&registers)[6]);

} // namespace kits

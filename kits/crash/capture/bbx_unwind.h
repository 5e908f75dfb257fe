// The unwind cursor: walks one thread's stack from its registers, one frame per call, at crash time
// (no heap, no locks). Each step uses the image's compact unwind table where it has one, else its
// call-frame information through its .eh_frame_hdr, else the frame-pointer chain, and on the first
// step a stack scan. Memory and the loaded images are
// reached through the functions the cursor is given, so a bad pointer ends the walk instead of
// faulting.
#pragma once

#include "kits/crash/capture/bbx_compact_unwind.h"
#include "kits/crash/capture/bbx_dwarf.h"

#include <cstddef>
#include <cstdint>

namespace kits {

// A loaded image as the crash-time image list keeps it. On Linux `ehFrame` holds the address of the
// image's .eh_frame_hdr and `unwindInfo` stays 0 (no ELF image has a compact table); an image with
// a compact table gives its frame section in `ehFrame`, which the table's DWARF entries point into.
struct BBXBinaryImageNode {
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t ehFrame = 0;
    std::uint64_t unwindInfo = 0;
    std::uint64_t crashInfo = 0;

    bool holds(std::uint64_t address) const { return base <= address && address - base < size; }
};

// Copies the image holding `address` into `node`; false when none does. Must be crash-safe.
struct BBXImageFinder {
    bool (*find)(const void* context, std::uint64_t address, BBXBinaryImageNode* node) = nullptr;
    const void* context = nullptr;

    bool get(std::uint64_t address, BBXBinaryImageNode& node) const { return find && find(context, address, &node); }
};

// Lines of memory a walk has read, kept on the cursor: image tables and stack slots are read again
// and again, and each read of foreign memory costs a system call. At crash time the other threads
// are suspended, so what was read stays true for the walk.
struct BBXUnwindMemoryCache {
    static constexpr std::size_t lineSize = 256;
    static constexpr std::size_t lineCount = 32;
    struct Line {
        std::uint64_t address = 0; // 0: empty
        std::uint8_t bytes[lineSize];
    };
    Line lines[lineCount];
    std::size_t next = 0; // the line replaced next
    BBXMemoryReader source;
};

// The DWARF rules last computed, for the PC they were computed at (0: none). Recursion returns to
// the same PC frame after frame, and its rules need not be found and run again each time.
struct BBXUnwindRuleCache {
    std::uint64_t pc = 0;
    BBXDwarfFrameRules rules;
};

// Holds its memory cache and a reader that points at it: not copyable.
struct BBXUnwindCursor {
    BBXUnwindCursor() = default;
    BBXUnwindCursor(const BBXUnwindCursor&) = delete;
    BBXUnwindCursor& operator=(const BBXUnwindCursor&) = delete;

    BBXDwarfRegisters registers;
    std::uint32_t frameCount = 0; // frames yielded so far
    BBXCompactUnwindContext compact;
    std::uint64_t lastPC = 0;
    std::uint32_t repeatCount = 0; // consecutive steps that produced the same PC
    BBXMemoryReader memory;        // reads through `cache`
    BBXImageFinder images;
    BBXUnwindMemoryCache cache;
    bool reuseRepeatedRules = true; // BBXUnwindInit turns it on; off, every frame's rules are found afresh
    BBXUnwindRuleCache lastRules;
    bool scanned = false; // the frame last yielded was found by the stack scan, not by unwinding
};

constexpr std::uint32_t BBXUnwindMaximumFrames = 600000;

// This process's memory read through BBXReadMemory, which fails instead of faulting: the reader a
// capture passes to BBXUnwindInit.
BBXMemoryReader BBXUnwindProcessMemory();

// Starts a walk at `registers`; false for no cursor.
bool BBXUnwindInit(BBXUnwindCursor* cursor, const BBXDwarfRegisters& registers, const BBXMemoryReader& memory,
                   const BBXImageFinder& images);
// Advances one frame; true while a frame is available. The first call yields the registers' own PC.
bool BBXUnwindNextFrameUsingAllStrategies(BBXUnwindCursor* cursor);
std::uint64_t BBXUnwindGetPC(const BBXUnwindCursor* cursor);
std::uint64_t BBXUnwindGetStackPointer(const BBXUnwindCursor* cursor);
std::uint32_t BBXUnwindGetRepeatCount(const BBXUnwindCursor* cursor);
// True when the frame last yielded was found by scanning the stack: a guess that may skip callers or
// name a stale return address, which records mark as such.
bool BBXUnwindFrameWasScanned(const BBXUnwindCursor* cursor);
// PC and SP both at or above 4096.
bool BBXUnwindIsValid(const BBXUnwindCursor* cursor);

// The fallback step: on the first step a stack scan, else (or when it finds nothing) the frame
// pointer: PC = [rbp + 8], rbp = [rbp], SP = rbp + 16.
bool BBXUnwindWithFramePointer(BBXUnwindCursor* cursor, bool firstStep);
// The first word from SP up to rbp that lies inside a loaded image becomes the PC.
bool BBXUnwindFirstExecutableAddress(BBXUnwindCursor* cursor);

} // namespace kits

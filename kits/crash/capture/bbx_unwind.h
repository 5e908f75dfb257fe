// The unwind cursor: walks one thread's stack from its registers, one frame per call, at crash time
// (no heap, no locks). Each step uses the image's call-frame information through its .eh_frame_hdr,
// else the frame-pointer chain, and on the first step a stack scan. Memory and the loaded images are
// reached through the functions the cursor is given, so a bad pointer ends the walk instead of
// faulting.
#pragma once

#include "kits/crash/capture/bbx_dwarf.h"

#include <cstdint>

namespace kits {

// A loaded image as the crash-time image list keeps it. On Linux `ehFrame` holds the address of the
// image's .eh_frame_hdr and `unwindInfo` stays 0 (no ELF image has a compact table).
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

struct BBXUnwindCursor {
    BBXDwarfRegisters registers;
    std::uint32_t frameCount = 0; // frames yielded so far
    std::uint64_t lastPC = 0;
    std::uint32_t repeatCount = 0; // consecutive steps that produced the same PC
    BBXMemoryReader memory;
    BBXImageFinder images;
};

constexpr std::uint32_t BBXUnwindMaximumFrames = 600000;

// Starts a walk at `registers`; false for no cursor.
bool BBXUnwindInit(BBXUnwindCursor* cursor, const BBXDwarfRegisters& registers, const BBXMemoryReader& memory,
                   const BBXImageFinder& images);
// Advances one frame; true while a frame is available. The first call yields the registers' own PC.
bool BBXUnwindNextFrameUsingAllStrategies(BBXUnwindCursor* cursor);
std::uint64_t BBXUnwindGetPC(const BBXUnwindCursor* cursor);
std::uint64_t BBXUnwindGetStackPointer(const BBXUnwindCursor* cursor);
std::uint32_t BBXUnwindGetRepeatCount(const BBXUnwindCursor* cursor);
// PC and SP both at or above 4096.
bool BBXUnwindIsValid(const BBXUnwindCursor* cursor);

// The fallback step: on the first step a stack scan, else (or when it finds nothing) the frame
// pointer: PC = [rbp + 8], rbp = [rbp], SP = rbp + 16.
bool BBXUnwindWithFramePointer(BBXUnwindCursor* cursor, bool firstStep);
// The first word from SP up to rbp that lies inside a loaded image becomes the PC.
bool BBXUnwindFirstExecutableAddress(BBXUnwindCursor* cursor);

} // namespace kits

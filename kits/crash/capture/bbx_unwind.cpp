// The cursor's strategies in the order of the walk, with the crash kit's log lines. Addresses below
// 4096 are never read; every other read goes through the cursor's memory reader.
#include "kits/crash/capture/bbx_unwind.h"

#include "kits/crash/capture/bbx_eh_frame_header.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"

#include <cstring>

namespace kits {

namespace {

constexpr std::uint64_t lowestValidAddress = 4096;
// The stack scan looks at most this many words: rbp may hold anything in code without frame
// pointers, and the scan must stay short inside a dying process.
constexpr std::uint64_t stackScanWords = 2048;

// The cache line holding `lineAddress`, read first when missing; null when it cannot be read whole
// (the end of a mapping), and then nothing is cached.
const std::uint8_t* cachedLine(BBXUnwindMemoryCache& cache, std::uint64_t lineAddress)
{
    for (const auto& line : cache.lines) {
        if (line.address == lineAddress)
            return line.bytes;
    }
    auto& line = cache.lines[cache.next];
    if (!cache.source.get(lineAddress, line.bytes, BBXUnwindMemoryCache::lineSize)) {
        line.address = 0;
        return nullptr;
    }
    line.address = lineAddress;
    cache.next = (cache.next + 1) % BBXUnwindMemoryCache::lineCount;
    return line.bytes;
}

// Reads through the cursor's cache, line by line (a request may span two lines). What lies in a line
// that cannot be read whole is read as it stands, so a read that ends just before the end of a mapping
// still succeeds.
bool cachedRead(const void* context, std::uint64_t address, void* destination, std::size_t size)
{
    auto& cache = *static_cast<BBXUnwindMemoryCache*>(const_cast<void*>(context));
    constexpr std::uint64_t lineSize = BBXUnwindMemoryCache::lineSize;
    if (address < lineSize || size > 2 * lineSize || address > UINT64_MAX - size)
        return cache.source.get(address, destination, size);
    auto* out = static_cast<std::uint8_t*>(destination);
    while (size > 0) {
        const std::uint64_t lineAddress = address & ~(lineSize - 1);
        const std::uint64_t offset = address - lineAddress;
        const std::size_t take = size < lineSize - offset ? size : lineSize - offset;
        const std::uint8_t* line = cachedLine(cache, lineAddress);
        if (!line)
            return cache.source.get(address, out, size);
        std::memcpy(out, line + offset, take);
        out += take;
        address += take;
        size -= take;
    }
    return true;
}

void* pointer(std::uint64_t address)
{
    return reinterpret_cast<void*>(address);
}

std::uint64_t& pcOf(BBXUnwindCursor* cursor)
{
    return cursor->registers.value[BBXDwarfRegisterRIP];
}

std::uint64_t& spOf(BBXUnwindCursor* cursor)
{
    return cursor->registers.value[BBXDwarfRegisterRSP];
}

std::uint64_t& fpOf(BBXUnwindCursor* cursor)
{
    return cursor->registers.value[BBXDwarfRegisterRBP];
}

// The DWARF step for an image with an .eh_frame_hdr: true when the registers now hold the caller's
// frame or the stack has ended (PC set to 0). A PC met again reuses the rules found for it last.
bool dwarfStep(BBXUnwindCursor* cursor, const BBXBinaryImageNode& image, std::uint64_t pc)
{
    auto& last = cursor->lastRules;
    if (!cursor->reuseRepeatedRules || last.pc != pc) {
        last.pc = 0;
        BBXDwarfFDE fde;
        if (!BBXEhFrameHeaderFindFDE(cursor->memory, image.ehFrame, pc, fde))
            return false;
        if (!BBXDwarfUnwindComputeRules(cursor->memory, fde, pc, last.rules)) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: Unable to assign DWARF registers\n");
            return false;
        }
        last.pc = pc;
    }
    switch (BBXDwarfUnwindAssignRegisters(cursor->memory, last.rules, cursor->registers)) {
    case BBXDwarfStep::unwound: return true;
    case BBXDwarfStep::endOfStack: pcOf(cursor) = 0; return true;
    case BBXDwarfStep::failed:
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: Unable to assign DWARF registers\n");
        return false;
    }
    return false;
}

bool advance(BBXUnwindCursor* cursor)
{
    if (pcOf(cursor) < lowestValidAddress || spOf(cursor) < lowestValidAddress) {
        if (cursor->frameCount == 0)
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Cancelling unwind for thread with invalid PC/SP\n");
        else
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: thread PC/SP invalid before unwind\n");
        return false;
    }
    if (cursor->frameCount >= BBXUnwindMaximumFrames) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Exceeded maximum number of frames\n");
        return false;
    }
    cursor->scanned = false;
    if (cursor->frameCount > 0) {
#if !defined(__x86_64__)
        // Every strategy reads x86-64 frames: elsewhere a walk records the thread's own PC only.
        pcOf(cursor) = 0;
        return false;
#endif
        // The lookup must land inside the calling instruction, not after it. The first frame's PC is
        // where the thread was stopped (a fault's instruction, say the first push below a full stack),
        // not a return address: it is looked up as it is, or the rules before that instruction apply.
        const std::uint64_t pc = cursor->frameCount > 1 ? pcOf(cursor) - 1 : pcOf(cursor);
        pcOf(cursor) = pc;
        if (pc < lowestValidAddress) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] PC is invalid\n");
            return false;
        }
        bool unwound = false;
        BBXBinaryImageNode image;
        if (cursor->images.get(pc, image)) {
            BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Binary image for %p at %p\n", pointer(pc), pointer(image.base));
            if (image.unwindInfo < lowestValidAddress) {
                BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Binary image at %p has no unwind info\n",
                        pointer(image.base));
                // An ELF image: its call-frame information through the .eh_frame_hdr.
                if (image.ehFrame >= lowestValidAddress)
                    unwound = dwarfStep(cursor, image, pc);
            } else if (!BBXCompactUnwindInit(&cursor->compact, cursor->memory, image.unwindInfo, image.ehFrame,
                                             image.base)) {
                BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Unable to read unwind info\n");
            } else {
                unwound = BBXCompactUnwindLookupAndCompute(cursor->compact, cursor->memory, cursor->registers);
            }
        } else {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to find binary for %p\n", pointer(pc));
        }
        if (!unwound) {
            if (fpOf(cursor) != 0) {
                if (!BBXUnwindWithFramePointer(cursor, cursor->frameCount == 1)) {
                    BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Unable to use frame pointer\n");
                    return false;
                }
            } else {
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] FP is zero, aborting unwind\n");
                pcOf(cursor) = 0;
            }
        }
    }
    const std::uint64_t pc = pcOf(cursor);
    if (pc < lowestValidAddress)
        return false; // the end of the stack
    if (spOf(cursor) < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: SP (%p) isn't a valid pointer\n", pointer(spOf(cursor)));
        return false;
    }
    cursor->repeatCount = cursor->frameCount > 0 && pc == cursor->lastPC ? cursor->repeatCount + 1 : 0;
    cursor->frameCount += 1;
    cursor->lastPC = pc;
    return true;
}

} // namespace

BBXMemoryReader BBXUnwindProcessMemory()
{
    return {[](const void*, std::uint64_t address, void* destination, std::size_t size) {
                return BBXReadMemory(reinterpret_cast<const void*>(address), destination, size);
            },
            nullptr};
}

bool BBXUnwindInit(BBXUnwindCursor* cursor, const BBXDwarfRegisters& registers, const BBXMemoryReader& memory,
                   const BBXImageFinder& images)
{
    if (!cursor)
        return false;
    cursor->registers = registers;
    cursor->frameCount = 0;
    cursor->compact = BBXCompactUnwindContext{};
    cursor->lastPC = 0;
    cursor->repeatCount = 0;
    cursor->images = images;
    for (auto& line : cursor->cache.lines)
        line.address = 0;
    cursor->cache.next = 0;
    cursor->cache.source = memory;
    cursor->memory = {cachedRead, &cursor->cache};
    cursor->reuseRepeatedRules = true;
    cursor->lastRules.pc = 0;
    cursor->scanned = false;
    return true;
}

bool BBXUnwindNextFrameUsingAllStrategies(BBXUnwindCursor* cursor)
{
    if (reinterpret_cast<std::uintptr_t>(cursor) < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: invalid inputs\n");
        return false;
    }
    const bool wasValid = BBXUnwindIsValid(cursor);
    if (advance(cursor))
        return true;
    // Reaching the end of the stack is no failure; a cursor that was valid and could not go on is.
    if (wasValid && pcOf(cursor) >= lowestValidAddress)
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Failed to advance to the next frame\n");
    return false;
}

std::uint64_t BBXUnwindGetPC(const BBXUnwindCursor* cursor)
{
    return reinterpret_cast<std::uintptr_t>(cursor) < lowestValidAddress ? 0
                                                                         : cursor->registers.value[BBXDwarfRegisterRIP];
}

std::uint64_t BBXUnwindGetStackPointer(const BBXUnwindCursor* cursor)
{
    return reinterpret_cast<std::uintptr_t>(cursor) < lowestValidAddress ? 0
                                                                         : cursor->registers.value[BBXDwarfRegisterRSP];
}

std::uint32_t BBXUnwindGetRepeatCount(const BBXUnwindCursor* cursor)
{
    return reinterpret_cast<std::uintptr_t>(cursor) < lowestValidAddress ? 0 : cursor->repeatCount;
}

bool BBXUnwindFrameWasScanned(const BBXUnwindCursor* cursor)
{
    return reinterpret_cast<std::uintptr_t>(cursor) >= lowestValidAddress && cursor->scanned;
}

bool BBXUnwindIsValid(const BBXUnwindCursor* cursor)
{
    return reinterpret_cast<std::uintptr_t>(cursor) >= lowestValidAddress
           && cursor->registers.value[BBXDwarfRegisterRIP] >= lowestValidAddress
           && cursor->registers.value[BBXDwarfRegisterRSP] >= lowestValidAddress;
}

bool BBXUnwindWithFramePointer(BBXUnwindCursor* cursor, bool firstStep)
{
    if (firstStep) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Attempting stack scan\n");
        if (BBXUnwindFirstExecutableAddress(cursor)) {
            BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Stack scan successful\n");
            cursor->scanned = true;
            return true;
        }
    }
    return BBXCompactUnwindBPFrame(cursor->memory, cursor->registers);
}

bool BBXUnwindFirstExecutableAddress(BBXUnwindCursor* cursor)
{
    const std::uint64_t rbp = fpOf(cursor);
    const std::uint64_t sp = spOf(cursor);
    for (std::uint64_t address = sp; address < rbp && (address - sp) / 8 < stackScanWords; address += 8) {
        std::uint64_t word = 0;
        if (!cursor->memory.get(address, &word, sizeof word))
            return false;
        BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Checking address %p => %p\n", pointer(address), pointer(word));
        BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Checking for executable %p\n", pointer(word));
        BBXBinaryImageNode image;
        if (word >= lowestValidAddress && cursor->images.get(word, image)) {
            pcOf(cursor) = word;
            return true;
        }
    }
    return false;
}

} // namespace kits

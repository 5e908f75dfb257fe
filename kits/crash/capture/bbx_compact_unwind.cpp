// Lookup and unwinding through a compact unwind table. The first level is scanned entry by entry and
// a compressed page searched by halving (at most 17 reads for its 16-bit count); every read may fail
// and then ends the lookup.
#include "kits/crash/capture/bbx_compact_unwind.h"

#include "kits/crash/capture/bbx_sdk_log.h"

namespace kits {

namespace {

constexpr std::uint64_t lowestValidAddress = 4096;
constexpr std::uint32_t regularPageKind = 2;
constexpr std::uint32_t compressedPageKind = 3;

void* pointer(std::uint64_t address)
{
    return reinterpret_cast<void*>(address);
}

bool readWord32(const BBXMemoryReader& memory, std::uint64_t address, std::uint32_t& value)
{
    return memory.get(address, &value, sizeof value);
}

bool readWord64(const BBXMemoryReader& memory, std::uint64_t address, std::uint64_t& value)
{
    return memory.get(address, &value, sizeof value);
}

struct IndexEntry {
    std::uint32_t functionOffset = 0;
    std::uint32_t secondLevelPageOffset = 0;
    std::uint32_t lsdaOffset = 0;
};

// The index entry whose function offset is at or below `target` and whose successor's is above it.
bool findFirstLevel(BBXCompactUnwindContext& context, const BBXMemoryReader& memory, std::uint64_t target)
{
    const std::uint64_t index = context.unwindInfo + context.header.indexSectionOffset;
    IndexEntry entry;
    if (!memory.get(index, &entry, sizeof entry))
        return false;
    // The last entry only marks the end of the last function.
    for (std::uint64_t position = 1; position < context.header.indexCount; ++position) {
        IndexEntry next;
        if (!memory.get(index + position * sizeof(IndexEntry), &next, sizeof next))
            return false;
        if (entry.functionOffset <= target && next.functionOffset > target) {
            context.functionOffset = entry.functionOffset;
            context.secondLevelPageOffset = entry.secondLevelPageOffset;
            context.lsdaOffset = entry.lsdaOffset;
            context.nextFunctionOffset = next.functionOffset;
            return true;
        }
        entry = next;
    }
    return false;
}

struct CompressedPageHeader {
    std::uint32_t kind = 0;
    std::uint16_t entryPageOffset = 0;
    std::uint16_t entryCount = 0;
    std::uint16_t encodingsPageOffset = 0;
    std::uint16_t encodingsCount = 0;
};

bool searchCompressedPage(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory, std::uint64_t page,
                          std::uint64_t pc, BBXCompactUnwindResult& result)
{
    CompressedPageHeader header;
    if (!memory.get(page, &header, sizeof header))
        return false;
    const std::uint64_t base = context.loadAddress + context.functionOffset;
    if (pc <= base) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: PC is invalid\n");
        return false;
    }
    const std::uint64_t target = pc - base;
    const std::uint64_t entries = page + header.entryPageOffset;
    auto entryAt = [&](std::uint64_t position, std::uint32_t& entry) {
        return readWord32(memory, entries + position * 4, entry);
    };
    // The last entry whose function offset is at or below the target.
    std::uint64_t low = 0;
    std::uint64_t high = header.entryCount;
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        std::uint32_t entry = 0;
        if (!entryAt(middle, entry))
            return false;
        if ((entry & 0x00ffffff) <= target)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Unable to find PC in second level\n");
        return false;
    }
    const std::uint64_t found = low - 1;
    std::uint32_t entry = 0;
    if (!entryAt(found, entry))
        return false;
    result.functionStart = base + (entry & 0x00ffffff);
    if (found + 1 < header.entryCount) {
        std::uint32_t next = 0;
        if (!entryAt(found + 1, next))
            return false;
        result.functionEnd = base + (next & 0x00ffffff);
    } else {
        result.functionEnd = context.loadAddress + context.nextFunctionOffset;
    }
    if (pc < result.functionStart || pc >= result.functionEnd) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] PC does not match computed function range\n");
        return false;
    }
    const std::uint32_t encodingIndex = entry >> 24;
    const std::uint32_t commonCount = context.header.commonEncodingsArrayCount;
    const std::uint64_t encodingAt =
        encodingIndex < commonCount
            ? context.unwindInfo + context.header.commonEncodingsArraySectionOffset + std::uint64_t(encodingIndex) * 4
            : page + header.encodingsPageOffset + std::uint64_t(encodingIndex - commonCount) * 4;
    if (!readWord32(memory, encodingAt, result.encoding))
        return false;
    if (result.encoding == 0) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Entry has has no unwind info\n");
        return false;
    }
    return true;
}

bool lookupSecondLevel(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory, std::uint64_t pc,
                       BBXCompactUnwindResult& result)
{
    const std::uint64_t page = context.unwindInfo + context.secondLevelPageOffset;
    std::uint32_t kind = 0;
    if (!readWord32(memory, page, kind))
        return false;
    switch (kind) {
    case compressedPageKind:
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Found a second level compressed header\n");
        return searchCompressedPage(context, memory, page, pc, result);
    case regularPageKind:
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Found a second level regular header\n");
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Encountered a regular second-level page\n");
        return false;
    default:
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Unrecognized header kind - unable to continue\n");
        return false;
    }
}

// The frameless step: the saved registers lie below the return address, which lies `stackSize` - 8
// above SP. Only rbp is restored.
bool framelessFrame(const BBXMemoryReader& memory, std::uint32_t encoding, std::uint64_t stackSize,
                    BBXDwarfRegisters& registers)
{
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Frameless unwind encountered with encoding %x\n", encoding);
    const std::uint32_t count = (encoding >> 10) & 0x7;
    if (count == 7) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unhandled number of register permutations for encoding %x\n",
                encoding);
        return false;
    }
    int saved[6] = {};
    if (!BBXCompactUnwindDecodePermutation(count, encoding & 0x3ff, saved))
        return false;
    const std::uint64_t sp = registers.value[BBXDwarfRegisterRSP];
    std::uint64_t location = sp + stackSize - 8 - std::uint64_t(count) * 8;
    std::uint64_t rbp = registers.value[BBXDwarfRegisterRBP];
    for (std::uint32_t index = 0; index < count; ++index, location += 8) {
        if (saved[index] != 6) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: skipping a restore of register %d at %p\n", saved[index],
                    pointer(location));
            continue;
        }
        if (!readWord64(memory, location, rbp)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to read memory to set register\n");
            return false;
        }
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] SP is %p and we are reading %p\n", pointer(sp), pointer(location));
    std::uint64_t pc = 0;
    if (!readWord64(memory, location, pc)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to read memory to set register\n");
        return false;
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Read PC to be %p\n", pointer(pc));
    if (pc < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: computed PC is invalid\n");
        return false;
    }
    registers.value[BBXDwarfRegisterRBP] = rbp;
    registers.value[BBXDwarfRegisterRIP] = pc;
    registers.value[BBXDwarfRegisterRSP] = location + 8;
    return true;
}

} // namespace

bool BBXCompactUnwindDecodePermutation(std::uint32_t count, std::uint32_t permutation, int (&registers)[6])
{
    // The permutation is a number in a mixed radix: the first digit picks one of six registers, the
    // next one of the five left, and so on.
    static constexpr std::uint32_t divisors[7][5] = {
        {}, {1}, {5, 1}, {20, 4, 1}, {60, 12, 3, 1}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1},
    };
    if (count > 6) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: invalid register number count %d\n", static_cast<int>(count));
        return false;
    }
    const std::uint32_t digitCount = count == 6 ? 5 : count;
    std::uint32_t digits[6] = {};
    for (std::uint32_t index = 0; index < digitCount; ++index) {
        digits[index] = permutation / divisors[count][index];
        permutation -= digits[index] * divisors[count][index];
    }
    // With six registers the last is the one left over.
    bool used[7] = {};
    for (std::uint32_t index = 0; index < 6; ++index)
        registers[index] = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t unused = 0;
        for (int number = 1; number <= 6; ++number) {
            if (used[number])
                continue;
            if (unused == digits[index]) {
                registers[index] = number;
                used[number] = true;
                break;
            }
            ++unused;
        }
    }
    return true;
}

bool BBXCompactUnwindInit(BBXCompactUnwindContext* context, const BBXMemoryReader& memory, std::uint64_t unwindInfo,
                          std::uint64_t ehFrame, std::uint64_t loadAddress)
{
    if (reinterpret_cast<std::uintptr_t>(context) < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: invalid context passed to compact unwind init\n");
        return false;
    }
    if (unwindInfo < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: invalid unwind info passed to compact unwind init\n");
        return false;
    }
    if (loadAddress < lowestValidAddress) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: invalid load address passed to compact unwind init\n");
        return false;
    }
    *context = BBXCompactUnwindContext{};
    context->unwindInfo = unwindInfo;
    context->ehFrame = ehFrame;
    context->loadAddress = loadAddress;
    if (!memory.get(unwindInfo, &context->header, sizeof context->header)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: could not read memory contents of unwindInfo\n");
        return false;
    }
    if (context->header.version != 1) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: bad unwind_info structure version (%d != %d)\n",
                static_cast<int>(context->header.version), 1);
        return false;
    }
    return true;
}

bool BBXCompactUnwindLookup(BBXCompactUnwindContext& context, const BBXMemoryReader& memory, std::uint64_t pc,
                            BBXCompactUnwindResult& result)
{
    result = BBXCompactUnwindResult{};
    if (context.header.indexCount < 2 || pc < context.loadAddress
        || !findFirstLevel(context, memory, pc - context.loadAddress)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to find pc in first level\n");
        return false;
    }
    BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Found first level (second => %u)\n", context.secondLevelPageOffset);
    if (!lookupSecondLevel(context, memory, pc, result)) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Second-level PC lookup failed\n");
        return false;
    }
    return true;
}

bool BBXCompactUnwindLookupAndCompute(BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                      BBXDwarfRegisters& registers)
{
    const std::uint64_t pc = registers.value[BBXDwarfRegisterRIP];
    if (pc < context.loadAddress)
        return false;
    BBXCompactUnwindResult result;
    if (!BBXCompactUnwindLookup(context, memory, pc, result)) {
        BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Unable to lookup compact unwind for pc %p\n", pointer(pc));
        return false;
    }
    if (!BBXCompactUnwindComputeRegisters(context, memory, result, registers)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Failed to compute registers\n");
        return false;
    }
    return true;
}

bool BBXCompactUnwindComputeRegisters(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                      const BBXCompactUnwindResult& result, BBXDwarfRegisters& registers)
{
    const std::uint32_t encoding = result.encoding;
    BBX_LOG(BBXSDKLogLevelDebug, "DEBUG [%s:%d] Computing registers for encoding %x\n", encoding);
    const std::uint64_t stackField = (encoding >> 16) & 0xff;
    switch (encoding & BBXCompactUnwindModeMask) {
    case BBXCompactUnwindModeRBPFrame: return BBXCompactUnwindBPFrame(memory, registers);
    case BBXCompactUnwindModeStackImmediate: return framelessFrame(memory, encoding, stackField * 8, registers);
    case BBXCompactUnwindModeStackIndirect: {
        // The function's own "sub $size, %rsp" holds the size, `stackField` bytes into the function.
        std::uint32_t size = 0;
        if (!readWord32(memory, result.functionStart + stackField, size)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: unable to read subl value\n");
            return false;
        }
        const std::uint64_t adjust = (encoding >> 13) & 0x7;
        return framelessFrame(memory, encoding, std::uint64_t(size) + adjust * 8, registers);
    }
    case BBXCompactUnwindModeDwarf:
        return BBXCompactUnwindDwarfFrame(context, memory, encoding & 0x00ffffff, registers);
    default: BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Invalid encoding %x\n", encoding); return false;
    }
}

bool BBXCompactUnwindDwarfFrame(const BBXCompactUnwindContext& context, const BBXMemoryReader& memory,
                                std::uint32_t offset, BBXDwarfRegisters& registers)
{
    BBX_LOG(BBXSDKLogLevelInfo, "INFO  [%s:%d] Trying to read dwarf data with offset %x\n", offset);
    BBXDwarfFDE fde;
    if (!BBXDwarfParseFDERecord(memory, context.ehFrame + offset, fde)) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Unable to init FDE\n");
        return false;
    }
    switch (BBXDwarfUnwindComputeRegisters(memory, fde, registers.value[BBXDwarfRegisterRIP], registers)) {
    case BBXDwarfStep::unwound: return true;
    case BBXDwarfStep::endOfStack: registers.value[BBXDwarfRegisterRIP] = 0; return true;
    case BBXDwarfStep::failed: break;
    }
    BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Failed to compute DWARF registers\n");
    return false;
}

bool BBXCompactUnwindBPFrame(const BBXMemoryReader& memory, BBXDwarfRegisters& registers)
{
    const std::uint64_t rbp = registers.value[BBXDwarfRegisterRBP];
    std::uint64_t frame[2] = {};
    if (rbp < lowestValidAddress || !memory.get(rbp, frame, sizeof frame)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: failed to read memory at address %p\n", pointer(rbp));
        return false;
    }
    registers.value[BBXDwarfRegisterRIP] = frame[1];
    registers.value[BBXDwarfRegisterRBP] = frame[0];
    registers.value[BBXDwarfRegisterRSP] = rbp + 16;
    return true;
}

} // namespace kits

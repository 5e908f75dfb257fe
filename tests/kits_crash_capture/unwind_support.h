// Helpers of the unwinder's tests: memory readers over the process and over buffers, registers from
// a machine context, the loaded images as crash-time nodes, and function names of return addresses.
#pragma once

#include "kits/crash/capture/bbx_dwarf.h"
#include "kits/crash/capture/bbx_unwind.h"

#include "system/elf_identity.h"
#include "system/elf_symbols.h"

#include <cstring>
#include <string>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

// The process's own memory, read as a capture reads it: an unmapped address fails instead of faulting.
inline kits::BBXMemoryReader processMemory()
{
    return kits::BBXUnwindProcessMemory();
}

// Bytes placed at a made-up address, as an image's section or a stack would be.
struct MemoryBuffer {
    std::uint64_t base = 0x10000;
    std::string bytes;
};

inline kits::BBXMemoryReader bufferMemory(const MemoryBuffer& buffer)
{
    return {[](const void* context, std::uint64_t address, void* destination, std::size_t size) {
                const auto& held = *static_cast<const MemoryBuffer*>(context);
                if (address < held.base || address - held.base > held.bytes.size()
                    || size > held.bytes.size() - (address - held.base))
                    return false;
                std::memcpy(destination, held.bytes.data() + (address - held.base), size);
                return true;
            },
            &buffer};
}

inline kits::BBXDwarfRegisters registersOf(const ucontext_t& context)
{
    const auto& g = context.uc_mcontext.gregs;
    const int order[] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_RBP, REG_RSP, REG_R8,
                         REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
    kits::BBXDwarfRegisters registers;
    for (std::size_t index = 0; index < std::size(order); ++index)
        registers.value[index] = static_cast<std::uint64_t>(g[order[index]]);
    return registers;
}

// The loaded images as the crash-time list would hold them (eh_frame = .eh_frame_hdr).
inline const std::vector<kits::BBXBinaryImageNode>& loadedNodes()
{
    static const std::vector<kits::BBXBinaryImageNode> nodes = [] {
        std::vector<kits::BBXBinaryImageNode> list;
        for (const auto& image : os::loadedImages())
            list.push_back({image.base, image.size, image.ehFrameHeader, 0, 0});
        return list;
    }();
    return nodes;
}

inline kits::BBXImageFinder nodeFinder(const std::vector<kits::BBXBinaryImageNode>& nodes)
{
    return {[](const void* context, std::uint64_t address, kits::BBXBinaryImageNode* node) {
                for (const auto& candidate : *static_cast<const std::vector<kits::BBXBinaryImageNode>*>(context)) {
                    if (candidate.holds(address)) {
                        *node = candidate;
                        return true;
                    }
                }
                return false;
            },
            &nodes};
}

inline std::string functionName(std::uint64_t returnAddress)
{
    static os::ImageSymbols symbols;
    const auto match = symbols.functionContaining(returnAddress - 1);
    return match ? match->name : "?";
}

} // namespace testsupport

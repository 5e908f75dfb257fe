// Helpers of the unwinder's tests: memory readers over the process and over buffers, registers from
// a machine context, the loaded images as crash-time nodes, function names of return addresses, and
// writers of call-frame bytes.
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

// Writers of call-frame bytes.
inline void uleb(std::string& out, std::uint64_t value)
{
    do {
        std::uint8_t byte = value & 0x7f;
        value >>= 7;
        out += static_cast<char>(value ? byte | 0x80 : byte);
    } while (value);
}

inline void sleb(std::string& out, std::int64_t value)
{
    for (;;) {
        std::uint8_t byte = value & 0x7f;
        value >>= 7;
        const bool done = (value == 0 && !(byte & 0x40)) || (value == -1 && (byte & 0x40));
        out += static_cast<char>(done ? byte : byte | 0x80);
        if (done)
            return;
    }
}

inline void word(std::string& out, std::uint32_t value)
{
    for (int index = 0; index < 4; ++index)
        out += static_cast<char>(value >> (8 * index));
}

inline void quad(std::string& out, std::uint64_t value)
{
    for (int index = 0; index < 8; ++index)
        out += static_cast<char>(value >> (8 * index));
}

// A CIE (version 1, code alignment 1, data alignment -8, return address column 16) with the given
// augmentation, augmentation data and instructions.
inline std::string cie(const std::string& augmentation, const std::string& data, const std::string& instructions)
{
    std::string body;
    word(body, 0); // CIE identifier
    body += '\1';
    body += augmentation;
    body += '\0';
    uleb(body, 1);
    sleb(body, -8);
    body += '\x10';
    if (!augmentation.empty()) {
        uleb(body, data.size());
        body += data;
    }
    body += instructions;
    while ((body.size() + 4) % 8)
        body += '\0'; // DW_CFA_nop
    std::string record;
    word(record, static_cast<std::uint32_t>(body.size()));
    return record + body;
}

// An FDE at `offset` in the section for the CIE at offset 0, with an absolute (absptr) PC start.
inline std::string fde(std::size_t offset, std::uint64_t start, std::uint64_t range, const std::string& instructions,
                       bool augmented)
{
    std::string body;
    word(body, static_cast<std::uint32_t>(offset + 4)); // back to the CIE
    quad(body, start);
    quad(body, range);
    if (augmented)
        uleb(body, 0);
    body += instructions;
    std::string record;
    word(record, static_cast<std::uint32_t>(body.size()));
    return record + body;
}

// Bytes of a literal, zero bytes included.
template <std::size_t size>
inline std::string literal(const char (&bytes)[size])
{
    return std::string(bytes, size - 1);
}

inline std::string expressionBlock(const std::string& opcodes)
{
    std::string block;
    uleb(block, opcodes.size());
    return block + opcodes;
}

} // namespace testsupport

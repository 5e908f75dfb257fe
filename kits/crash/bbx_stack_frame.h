// One frame of a crashed thread as the next launch names it: the program counter recorded at crash
// time and, once symbolicated on this machine, its symbol (demangled when possible), the raw symbol,
// the offset into the symbol and the image's file name. A thread array is the threads of a crash file
// in the file's order, each its frames in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kits {

struct BBXStackFrame {
    std::optional<std::string> symbol;    // the display symbol
    std::optional<std::string> rawSymbol; // as the image's symbol table names it
    std::optional<std::string> library;   // the last path component of the image
    std::optional<std::string> fileName;
    std::uint32_t lineNumber = 0;
    std::uint64_t offset = 0; // from the start of the symbol
    std::uint64_t address = 0;
    bool scanned = false; // found by scanning the stack at crash time, not by unwinding it: a guess

    static BBXStackFrame stackFrame() { return {}; }
    static BBXStackFrame stackFrameWithAddress(std::uint64_t address);
    // Sets both `symbol` and `rawSymbol`.
    static BBXStackFrame stackFrameWithSymbol(std::string symbol);

    // "{[0x<address>] <file> - <symbol>:<line>}" with a file name, else "{[0x<address> + <line>] <symbol>}".
    std::string description() const;
};

using BBXThreadArray = std::vector<std::vector<BBXStackFrame>>;

} // namespace kits

// One stack frame as the crash kit describes it outside crash time: the address and, when known, the
// symbol (display and raw), the library's file name, the source position and the offset from the
// symbol. Custom exceptions hand such frames in; the exception record reads them as plain records.
#pragma once

#include "kits/crash/capture/bbx_exception.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BBXStackFrame {
    std::optional<std::string> symbol;
    std::optional<std::string> rawSymbol;
    std::optional<std::string> library;
    std::optional<std::string> fileName;
    std::uint32_t lineNumber = 0;
    std::uint64_t offset = 0;
    std::uint64_t address = 0;

    static BBXStackFrame stackFrame() { return {}; }
    static BBXStackFrame stackFrameWithAddress(std::uint64_t address)
    {
        BBXStackFrame frame;
        frame.address = address;
        return frame;
    }
    // Sets both the symbol and the raw symbol.
    static BBXStackFrame stackFrameWithSymbol(std::string symbol)
    {
        BBXStackFrame frame;
        frame.rawSymbol = symbol;
        frame.symbol = std::move(symbol);
        return frame;
    }
};

// The frames as the exception record takes them; the records point into `frames`, which must outlive them.
std::vector<BBXExceptionFrame> BBXExceptionFramesFromStackFrames(const std::vector<BBXStackFrame>& frames);

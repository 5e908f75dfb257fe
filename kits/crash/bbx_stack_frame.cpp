// Stack frame construction and its one-line description.

#include "kits/crash/bbx_stack_frame.h"

#include <cinttypes>
#include <cstdio>

namespace kits {

BBXStackFrame BBXStackFrame::stackFrameWithAddress(std::uint64_t address)
{
    BBXStackFrame frame;
    frame.address = address;
    return frame;
}

BBXStackFrame BBXStackFrame::stackFrameWithSymbol(std::string symbol)
{
    BBXStackFrame frame;
    frame.rawSymbol = symbol;
    frame.symbol = std::move(symbol);
    return frame;
}

std::string BBXStackFrame::description() const
{
    // A missing text reads "(null)", as the platform's formatting of a nil object does.
    const std::string name = symbol.value_or("(null)");
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%" PRIx64, address);
    if (fileName)
        return "{[" + std::string(hex) + "] " + *fileName + " - " + name + ":" + std::to_string(lineNumber) + "}";
    return "{[" + std::string(hex) + " + " + std::to_string(lineNumber) + "] " + name + "}";
}

} // namespace kits

// Stack frames handed to the exception record.
#include "kits/crash/capture/bbx_stack_frame.h"

namespace {

const char* textOrNone(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

} // namespace

std::vector<BBXExceptionFrame> BBXExceptionFramesFromStackFrames(const std::vector<BBXStackFrame>& frames)
{
    std::vector<BBXExceptionFrame> records;
    records.reserve(frames.size());
    for (const auto& frame : frames) {
        records.push_back(BBXExceptionFrame{.pc = frame.address,
                                            .symbol = textOrNone(frame.symbol),
                                            .offset = frame.offset,
                                            .library = textOrNone(frame.library),
                                            .file = textOrNone(frame.fileName),
                                            .line = frame.lineNumber});
    }
    return records;
}

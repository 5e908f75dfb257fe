// Uncaught C++ exceptions: the kit's terminate handler names the exception, writes
// "exception.bbxrecord" (the exception line, then the snapshot with the thrower as the crashed
// thread, its stack starting at the throw site) and hands over to the terminate handler that was
// there before, which aborts.
#pragma once

#include "kits/crash/capture/bbx_context.h"

#include <cstddef>
#include <cstdint>
#include <exception>

// Exception types of the record: 1 "objective-c", 2 "c++", 3 "javascript", 4 "custom".
inline constexpr std::uint32_t BBXExceptionTypeObjectiveC = 1;
inline constexpr std::uint32_t BBXExceptionTypeCPlusPlus = 2;
inline constexpr std::uint32_t BBXExceptionTypeJavaScript = 3;
inline constexpr std::uint32_t BBXExceptionTypeCustom = 4;
const char* BBXExceptionTypeName(std::uint32_t type);

// One frame of an exception's own call stack, as report processing describes it (texts may be none).
struct BBXExceptionFrame {
    std::uint64_t pc = 0;
    const char* symbol = nullptr;
    std::uint64_t offset = 0;
    const char* library = nullptr;
    const char* file = nullptr;
    std::uint64_t line = 0;
};

// Resets the exception file, finds the runtime's std::terminate and installs the terminate handler,
// keeping the previous one in `record`.
void BBXExceptionInitialize(BBXContextExceptionRecord* record);
// The thrower's stack in the snapshot starts at the throw site: past the kit's frames, std::terminate
// and the runtime's frames that called it (the throw, or the call of terminate for an exception that
// left a noexcept function); the frame of the kit's handler's caller when std::terminate is not found.
[[noreturn]] void BBXTerminateHandler();
// Types 1 and 2: the exception line and the snapshot into the exception file, synchronously on the
// exception queue (on the calling thread), the caller's stack starting at the caller. Does nothing
// before set-up has finished.
void BBXExceptionRecord(std::uint32_t type, const char* name, const char* reason, const BBXExceptionFrame* frames,
                        std::size_t frameCount, bool attemptDelivery);
void BBXExceptionWrite(BBXFile* file, std::uint32_t type, const char* name, const char* reason,
                       const BBXExceptionFrame* frames, std::size_t frameCount);
// Logs when the current terminate handler is not the kit's (nothing under a debugger).
void BBXExceptionCheckHandlers();
[[noreturn]] void BBXExceptionRaiseTestException();

// The exception the kit's test entry raises.
class BlackboxTestException : public std::exception {
public:
    const char* what() const noexcept override;
};

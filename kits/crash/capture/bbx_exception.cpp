// The terminate handler and the exception record. The exception is classified by rethrowing it
// inside the handler; type names are demangled. The thrower's registers at the throw site are found
// by walking its stack with the crash-time unwinder before anything is recorded, and the snapshot
// takes them as the crashed thread's. There is no application object on Linux, so no replacement
// of its exception reporting is installed. C++ exceptions are recorded here; non-fatal ones (custom,
// JavaScript) go to the user logs' custom-exception files.
#include "kits/crash/capture/bbx_exception.h"

#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/crash/capture/bbx_user_logging.h"

#include "foundation/dispatch_queue.h"
#include "kits/platform/kit_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <new>
#include <string>
#include <sys/syscall.h>
#include <typeinfo>
#include <ucontext.h>
#include <unistd.h>

namespace {

// A walk for the start of a recorded stack goes at most this deep.
constexpr int startSearchFrames = 512;

// Where a recorded stack starts: the registers of the frame, with its PC inside the call it made
// (the return address less one), so that frame names the calling function.
struct StackStart {
    BBXThreadState state;
    bool found = false;
};

void startAt(const kits::BBXUnwindCursor& cursor, StackStart* start)
{
    start->state = BBXThreadStateFromDwarfRegisters(cursor.registers);
    start->state.registers[BBXThreadRegisterRIP] -= 1;
    start->found = true;
}

// Walks this thread's stack from the caller of the caller of this function. Frame 0 is this function,
// frame 1 its caller (the kit's function that asks), frame 2 that function's caller, which is where
// the stack starts unless `throwSite` asks for more: then it starts past the runtime's std::terminate
// and the runtime's own frames that follow it.
__attribute__((noinline, noclone)) StackStart findStackStart(bool throwSite)
{
    StackStart start;
    ucontext_t here;
    if (::getcontext(&here) != 0)
        return start;
    BBXThreadState own;
    BBXThreadStateFromMachineContext(here.uc_mcontext, &own);
    kits::BBXUnwindCursor cursor;
    kits::BBXUnwindInit(&cursor, BBXThreadStateDwarfRegisters(own), kits::BBXUnwindProcessMemory(),
                        BBXBinaryImageFinder());
    const BBXContext* context = BBXContextGet();
    const std::uint64_t terminateStart = context ? context->exceptionRecord.terminateStart : 0;
    const std::uint64_t terminateEnd = context ? context->exceptionRecord.terminateEnd : 0;
    const bool toThrowSite = throwSite && terminateStart != 0;
    kits::BBXBinaryImageNode runtime;
    bool pastTerminate = false;
    for (int frame = 0; frame < startSearchFrames && kits::BBXUnwindNextFrameUsingAllStrategies(&cursor); ++frame) {
        const std::uint64_t pc = kits::BBXUnwindGetPC(&cursor);
        const std::uint64_t call = frame == 0 ? pc : pc - 1;
        if (frame == 2) {
            startAt(cursor, &start);
            if (!toThrowSite)
                break;
        }
        if (!toThrowSite)
            continue;
        if (!pastTerminate) {
            pastTerminate = call >= terminateStart && call < terminateEnd
                            && BBXBinaryImageSafeFindImageForAddress(terminateStart, &runtime);
            continue;
        }
        if (!runtime.holds(call)) {
            startAt(cursor, &start);
            break;
        }
    }
    return start;
}

std::string demangled(const char* mangled)
{
    if (!mangled)
        return {};
    int status = 0;
    char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string result = status == 0 && name ? name : mangled;
    std::free(name);
    return result;
}

// Types 1 and 2: the exception line, then the snapshot with this thread's stack from `start`.
void recordWithSnapshot(std::uint32_t type, const char* name, const char* reason, const BBXExceptionFrame* frames,
                        std::size_t frameCount, const StackStart& start)
{
    const BBXContext* context = BBXContextGet();
    // A synchronous dispatch runs on this thread, so the snapshot's crashed thread is the thrower.
    BBXContextExceptionQueue()->sync([&] {
        BBXFile file;
        if (!BBXFileInitWithPathMode(&file, context->exceptionRecord.path, true, false)) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to open exception file\n");
            return;
        }
        BBXExceptionWrite(&file, type, name, reason, frames, frameCount);
        ucontext_t thrower{};
        if (start.found)
            BBXMachineContextFromThreadState(start.state, &thrower.uc_mcontext);
        BBXHandler(&file, static_cast<pid_t>(::syscall(SYS_gettid)), start.found ? &thrower : nullptr);
        BBXFileClose(&file);
    });
}

void recordException(std::uint32_t type, const char* name, const char* reason, const BBXExceptionFrame* frames,
                     std::size_t frameCount, bool attemptDelivery, const StackStart& start)
{
    if (!BBXContextIsInitialized())
        return;
    const BBXContext* context = BBXContextGet();
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Recording an exception structure (%d, %d)\n",
            static_cast<int>(attemptDelivery), static_cast<int>(context->state ? context->state->crashed : 0));
    if (type == BBXExceptionTypeObjectiveC || type == BBXExceptionTypeCPlusPlus) {
        recordWithSnapshot(type, name, reason, frames, frameCount, start);
    } else {
        // Non-fatal: into the custom-exception files of the user logs, which keep the set's limit.
        BBXUserLoggingWriteCustomException(
            [&](BBXFile* file) { BBXExceptionWrite(file, type, name, reason, frames, frameCount); });
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Finished recording an exception structure\n");
}

void recordCPlusPlus(const std::string& name, const char* reason, const StackStart& start)
{
    recordException(BBXExceptionTypeCPlusPlus, name.c_str(), reason ? reason : "", nullptr, 0, true, start);
}

// Names the current exception by rethrowing it.
void recordCurrentException(const std::exception_ptr& current, const StackStart& start)
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    try {
        std::rethrow_exception(current);
    } catch (const char* text) {
        recordCPlusPlus("const char *", text, start);
    } catch (const std::string& text) {
        recordCPlusPlus("std::string", text.c_str(), start);
    } catch (const std::bad_alloc& error) {
        recordCPlusPlus("std::bad_alloc", error.what(), start);
    } catch (const std::exception& error) {
        recordCPlusPlus(demangled(typeid(error).name()), error.what(), start);
    } catch (const std::exception* error) {
        if (error)
            recordCPlusPlus(demangled(typeid(*error).name()), error->what(), start);
        else
            recordCPlusPlus(demangled(type ? type->name() : nullptr), "", start);
    } catch (...) {
        recordCPlusPlus(demangled(type ? type->name() : nullptr), "", start);
    }
}

} // namespace

const char* BBXExceptionTypeName(std::uint32_t type)
{
    switch (type) {
    case BBXExceptionTypeObjectiveC: return "objective-c";
    case BBXExceptionTypeCPlusPlus: return "c++";
    case BBXExceptionTypeJavaScript: return "javascript";
    case BBXExceptionTypeCustom: return "custom";
    default: return "unknown";
    }
}

void BBXExceptionInitialize(BBXContextExceptionRecord* record)
{
    if (!record)
        return;
    if (!BBXUnlinkIfExists(record->path))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to reset the exception file %s\n", std::strerror(errno));
    // The runtime's std::terminate as the loader has it (a program's own reference may be a stub).
    Dl_info info{};
    void* entry = nullptr; // the symbol's ElfW(Sym)
    void* terminate = ::dlsym(RTLD_DEFAULT, "_ZSt9terminatev");
    if (terminate && ::dladdr1(terminate, &info, &entry, RTLD_DL_SYMENT) != 0 && entry) {
        const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
        record->terminateStart = reinterpret_cast<std::uint64_t>(terminate);
        record->terminateEnd = symbol->st_size > 0 ? record->terminateStart + symbol->st_size : 0;
        if (record->terminateEnd == 0)
            record->terminateStart = 0;
    }
    record->previousTerminateHandler = std::set_terminate(BBXTerminateHandler);
}

void BBXTerminateHandler()
{
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] C++ terminate handler invoked\n");
    const BBXContext* context = BBXContextGet();
    const std::terminate_handler previous = context ? context->exceptionRecord.previousTerminateHandler : nullptr;
    bool restored = false;
    if (previous == BBXTerminateHandler) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: original handler was set recursively\n");
    } else if (previous) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] restoring pre-existing handler\n");
        if (std::set_terminate(previous) == previous) {
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] handler has already been restored, aborting\n");
            std::abort();
        }
        restored = true;
    }
    if (const std::exception_ptr current = std::current_exception()) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Recording exception of type '%s'\n", type ? type->name() : "");
        // Before the walk, so that a library loaded a moment ago unwinds like any other.
        BBXBinaryImageSafeSyncWithLoader();
        recordCurrentException(current, BBXContextIsInitialized() ? findStackStart(true) : StackStart{});
    } else {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] no active exception\n");
    }
    if (restored) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] invoking pre-existing handler\n");
        previous();
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] aborting\n");
    std::abort();
}

__attribute__((noinline)) void BBXExceptionRecord(std::uint32_t type, const char* name, const char* reason,
                                                  const BBXExceptionFrame* frames, std::size_t frameCount,
                                                  bool attemptDelivery)
{
    const bool snapshot = type == BBXExceptionTypeObjectiveC || type == BBXExceptionTypeCPlusPlus;
    recordException(type, name, reason, frames, frameCount, attemptDelivery,
                    snapshot && BBXContextIsInitialized() ? findStackStart(false) : StackStart{});
}

void BBXExceptionWrite(BBXFile* file, std::uint32_t type, const char* name, const char* reason,
                       const BBXExceptionFrame* frames, std::size_t frameCount)
{
    BBXFileWriteSectionStart(file, "exception");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "type", BBXExceptionTypeName(type));
    BBXFileWriteHashEntryHexEncodedString(file, "name", name);
    BBXFileWriteHashEntryHexEncodedString(file, "reason", reason);
    BBXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(::time(nullptr)));
    if (frames && frameCount > 0) {
        BBXFileWriteHashKey(file, "frames");
        BBXFileWriteArrayStart(file);
        for (std::size_t index = 0; index < frameCount; ++index) {
            const BBXExceptionFrame& frame = frames[index];
            BBXFileWriteHashStart(file);
            BBXFileWriteHashEntryUint64(file, "pc", frame.pc);
            if (frame.symbol)
                BBXFileWriteHashEntryHexEncodedString(file, "symbol", frame.symbol);
            BBXFileWriteHashEntryUint64(file, "offset", frame.offset);
            if (frame.library)
                BBXFileWriteHashEntryHexEncodedString(file, "library", frame.library);
            if (frame.file)
                BBXFileWriteHashEntryHexEncodedString(file, "file", frame.file);
            BBXFileWriteHashEntryUint64(file, "line", frame.line & 0xffffffffu);
            BBXFileWriteHashEnd(file);
        }
        BBXFileWriteArrayEnd(file);
    }
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

void BBXExceptionCheckHandlers()
{
    if (BBXContextDebuggerAttached())
        return;
    const std::terminate_handler current = std::get_terminate();
    if (current == BBXTerminateHandler)
        return;
    std::string symbol = "(null)";
    std::string image = "(null)";
    BBXDladdrNames(reinterpret_cast<const void*>(current), [&](const char* symbolName, const char* imageName) {
        if (symbolName)
            symbol = symbolName;
        if (imageName)
            image = imageName;
    });
    kits::kitLog("[Blackbox:Crash] Warning: std::get_terminate is '" + symbol + "' in '" + image + "'");
}

void BBXExceptionRaiseTestException()
{
    throw BlackboxTestException();
}

const char* BlackboxTestException::what() const noexcept
{
    return "This is an Objective-C exception using for testing.";
}

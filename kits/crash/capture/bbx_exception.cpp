// The terminate handler and the exception record. The exception is classified by rethrowing it
// inside the handler; type names are demangled. There is no application object on Linux, so no
// replacement of its exception reporting is installed. C++ exceptions are recorded here; non-fatal
// ones (custom, JavaScript) go to the user logs' custom-exception files.
#include "kits/crash/capture/bbx_exception.h"

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
#include <new>
#include <string>
#include <sys/syscall.h>
#include <typeinfo>
#include <unistd.h>

namespace {

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

void recordCPlusPlus(const std::string& name, const char* reason)
{
    BBXExceptionRecord(BBXExceptionTypeCPlusPlus, name.c_str(), reason ? reason : "", nullptr, 0, true);
}

// Names the current exception by rethrowing it.
void recordCurrentException(const std::exception_ptr& current)
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    try {
        std::rethrow_exception(current);
    } catch (const char* text) {
        recordCPlusPlus("const char *", text);
    } catch (const std::string& text) {
        recordCPlusPlus("std::string", text.c_str());
    } catch (const std::bad_alloc& error) {
        recordCPlusPlus("std::bad_alloc", error.what());
    } catch (const std::exception& error) {
        recordCPlusPlus(demangled(typeid(error).name()), error.what());
    } catch (const std::exception* error) {
        if (error)
            recordCPlusPlus(demangled(typeid(*error).name()), error->what());
        else
            recordCPlusPlus(demangled(type ? type->name() : nullptr), "");
    } catch (...) {
        recordCPlusPlus(demangled(type ? type->name() : nullptr), "");
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
        recordCurrentException(current);
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

void BBXExceptionRecord(std::uint32_t type, const char* name, const char* reason, const BBXExceptionFrame* frames,
                        std::size_t frameCount, bool attemptDelivery)
{
    if (!BBXContextIsInitialized())
        return;
    const BBXContext* context = BBXContextGet();
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Recording an exception structure (%d, %d)\n",
            static_cast<int>(attemptDelivery), static_cast<int>(context->state ? context->state->crashed : 0));
    if (type == BBXExceptionTypeObjectiveC || type == BBXExceptionTypeCPlusPlus) {
        // A synchronous dispatch runs on this thread, so the snapshot's current thread is the thrower.
        BBXContextExceptionQueue()->sync([&] {
            BBXFile file;
            if (!BBXFileInitWithPathMode(&file, context->exceptionRecord.path, true, false)) {
                BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to open exception file\n");
                return;
            }
            BBXExceptionWrite(&file, type, name, reason, frames, frameCount);
            BBXHandler(&file, static_cast<pid_t>(::syscall(SYS_gettid)), nullptr);
            BBXFileClose(&file);
        });
    } else {
        // Non-fatal: into the custom-exception files of the user logs, which keep the set's limit.
        BBXUserLoggingWriteCustomException(
            [&](BBXFile* file) { BBXExceptionWrite(file, type, name, reason, frames, frameCount); });
    }
    BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Finished recording an exception structure\n");
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

// The crash context: what the capture code reads at crash time, prepared once per launch in the
// guarded allocator (paths, stacks, host values; read-only once installed), and the crash-time state
// it writes (the image list, the crashed flag), which stays writable. Capture code reaches both
// through BBXContextGet() and nothing else.
#pragma once

#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_loader_list.h"
#include "kits/crash/capture/bbx_unwind.h"
#include "kits/crash/capture/bbx_user_logging_files.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>

struct BBXAllocator;

namespace foundation {
class SerialQueue;
}

// The synchronous crash callback: the reporting controller's deliverCrashDelegateCallback, run at
// the end of every capture when set.
struct BBXCrashCallback {
    void (*deliverCrashDelegateCallback)(void* target) = nullptr;
    void* target = nullptr;
};

// What the reporting controller hands in at kit start. Texts stay valid during the call.
struct BBXContextInitData {
    const char* apiKey = nullptr;
    void* crashObserver = nullptr;
    std::uint8_t firstInstall = 0;
    BBXCrashCallback crashCallbackTarget;
    const char* customBundleIdentifier = nullptr;
    const char* reportDirectory = nullptr;
    const char* reportIdentifier = nullptr;
    const char* installIdentifier = nullptr;
    const char* betaToken = nullptr;
    std::uint32_t signalOnlyMachMask = 0;
    std::uint8_t errorReportingEnabled = 0;
    std::uint8_t customExceptionsEnabled = 0;
    std::uint32_t maximumCustomExceptions = 0;
    std::uint32_t errorLogBufferSize = 0;
    std::uint32_t logBufferSize = 0;
    std::uint32_t maximumCustomKeys = 0;
};

inline constexpr std::size_t BBXBinaryImageSlotCount = 512;

// The image list of the crash-time state: a slot whose base is 0 is free; an unloaded image keeps
// its base with size 0, so its slot never matches and is never reused. The loader's list and the
// program's base, found at set-up, let a capture bring the list up to date.
struct BBXBinaryImageState {
    BBXFile file; // the binary-image log while its first burst is written
    kits::BBXBinaryImageNode nodes[BBXBinaryImageSlotCount];
    BBXLoaderListAnchor loader;
    std::uint64_t programBase;
};

struct BBXCrashTimeState {
    std::uint8_t crashed;
    // Linux: signal dispositions are process-wide, so other threads that fault during a capture wait
    // for it; the capturing thread is known by its id, and `captureDone` is the futex they wait on.
    std::int32_t capturingThread;
    std::uint32_t captureDone;
    BBXBinaryImageState binaryImages;
    BBXUserLoggingState userLogging;
};

inline constexpr std::size_t BBXSignalFatalSignalCount = 7;

// The signal handlers' part of the context: the record file and what the kit replaced.
struct BBXContextSignalRecord {
    const char* path;
    struct sigaction previous[BBXSignalFatalSignalCount]; // all zero when the signal had no handler
    stack_t previousStack;
    std::uint8_t previousStackSaved;
};

// The C++ exceptions' part: the record file, the terminate handler the kit replaced, and where the
// runtime's std::terminate lies (both 0 when it cannot be found), past which an uncaught exception's
// stack is recorded.
struct BBXContextExceptionRecord {
    const char* path;
    void (*previousTerminateHandler)();
    std::uint64_t terminateStart;
    std::uint64_t terminateEnd;
};

inline constexpr std::size_t BBXContextBlockSize = 262144;
inline constexpr std::size_t BBXContextWritableSize = 544872;
inline constexpr std::size_t BBXContextProtectableSize = 17064;

struct BBXContext {
    std::uint8_t initialized;
    std::uint8_t debuggerAttached;
    const char* sdkLogPath;
    void* signalStack; // the alternate signal stack (first block)
    // The second block: without a Mach exception server, the other threads' registers at capture.
    void* threadStateBlock;
    void* crashObserver;
    BBXCrashCallback crashCallback;
    std::uint8_t firstInstall;
    const char* binaryImagesPath;
    BBXContextExceptionRecord exceptionRecord;
    const char* documentsPath; // the host's, for the "storage" section
    std::uint64_t pageSize;
    BBXContextSignalRecord signalRecord;
    BBXAllocator* allocator;
    BBXCrashTimeState* state;
    BBXUserLoggingFiles userLogging;
};

// The process's context; none before set-up. Async-signal-safe.
BBXContext* BBXContextGet();
// The first step of set-up: the queues, the allocator, the zeroed context and crash-time state and the
// two blocks; the context becomes the process's (not yet initialized). False when the memory cannot
// be had. Not signal-safe.
bool BBXContextCreate();

// Sets up everything the capture needs and installs the handlers (not under a debugger); the context
// is read-only afterwards. False without init data or with an invalid report directory; true when
// the set-up ran, even if it took longer than its 5 s wait.
bool BBXContextInitialize(const BBXContextInitData* initData);
// The context exists and its set-up has finished.
bool BBXContextIsInitialized();
bool BBXContextDebuggerAttached();
// Test-and-set of the crashed flag: false without marking before set-up has finished; true when a
// crash is being handled already; else marks it and returns false. Async-signal-safe.
bool BBXContextMarkAndCheckIfCrashed();

// The kit's serial queues ("com.mirrowick.blackbox.mac.logging", "...binary-images",
// "...exception"), made by BBXContextCreate and kept for the life of the process.
std::shared_ptr<foundation::SerialQueue> BBXContextLoggingQueue();
std::shared_ptr<foundation::SerialQueue> BBXContextBinaryImagesQueue();
std::shared_ptr<foundation::SerialQueue> BBXContextExceptionQueue();

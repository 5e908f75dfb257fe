// The crash context: what the capture code reads at crash time, prepared once per launch in the
// guarded allocator (paths, stacks, host values; read-only once installed), and the crash-time state
// it writes (the image list, the crashed flag), which stays writable. Capture code reaches both
// through BBXContextGet() and nothing else.
#pragma once

#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_unwind.h"

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
// its base with size 0, so its slot never matches and is never reused.
struct BBXBinaryImageState {
    BBXFile file; // the binary-image log while its first burst is written
    kits::BBXBinaryImageNode nodes[BBXBinaryImageSlotCount];
};

struct BBXCrashTimeState {
    std::uint8_t crashed;
    BBXBinaryImageState binaryImages;
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
    const char* documentsPath; // the host's, for the "storage" section
    std::uint64_t pageSize;
    BBXAllocator* allocator;
    BBXCrashTimeState* state;
};

// The process's context; none before set-up. Async-signal-safe.
BBXContext* BBXContextGet();
// The first step of set-up: the queues, the allocator, the zeroed context and crash-time state and the
// two blocks; the context becomes the process's (not yet initialized). False when the memory cannot
// be had. Not signal-safe.
bool BBXContextCreate();

// The kit's serial queues ("com.mirrowick.blackbox.mac.logging", "...binary-images",
// "...exception"), made by BBXContextCreate and kept for the life of the process.
std::shared_ptr<foundation::SerialQueue> BBXContextLoggingQueue();
std::shared_ptr<foundation::SerialQueue> BBXContextBinaryImagesQueue();
std::shared_ptr<foundation::SerialQueue> BBXContextExceptionQueue();

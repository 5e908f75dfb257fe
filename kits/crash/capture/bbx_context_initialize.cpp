// The once-per-launch set-up of the capture. Its parts run together on the global pool and share only
// the allocator; the signal part runs on the calling thread, because the alternate signal stack is
// per thread and the main thread is where a stack overflow must be caught. When all parts are done
// the context is marked initialized and made read-only.
#include "kits/crash/capture/bbx_allocator.h"
#include "kits/crash/capture/bbx_binary_image.h"
#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_host.h"
#include "kits/crash/capture/bbx_metadata.h"
#include "kits/crash/capture/bbx_process.h"
#include "kits/crash/capture/bbx_sdk_log.h"
#include "kits/crash/capture/bbx_signal.h"
#include "kits/crash/capture/bbx_support.h"
#include "kits/crash/capture/bbx_user_logging.h"

#include "foundation/dispatch_queue.h"
#include "kits/platform/kit_log.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

namespace {

constexpr auto installationWait = std::chrono::seconds(5);

// Counts the parts still running; the last one to finish runs the completion.
struct InstallGroup {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    bool done = false;
};

// The init data's texts, kept for the metadata part, which may outlive the call after a time-out.
struct InitTexts {
    std::optional<std::string> apiKey, customBundleIdentifier, reportDirectory, reportIdentifier, installIdentifier,
        betaToken;

    explicit InitTexts(const BBXContextInitData& data)
        : apiKey(copy(data.apiKey)), customBundleIdentifier(copy(data.customBundleIdentifier)),
          reportDirectory(copy(data.reportDirectory)), reportIdentifier(copy(data.reportIdentifier)),
          installIdentifier(copy(data.installIdentifier)), betaToken(copy(data.betaToken))
    {}
    static std::optional<std::string> copy(const char* text)
    {
        return text ? std::optional<std::string>(text) : std::nullopt;
    }
    static const char* text(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }
    BBXContextInitData applied(BBXContextInitData data) const
    {
        data.apiKey = text(apiKey);
        data.customBundleIdentifier = text(customBundleIdentifier);
        data.reportDirectory = text(reportDirectory);
        data.reportIdentifier = text(reportIdentifier);
        data.installIdentifier = text(installIdentifier);
        data.betaToken = text(betaToken);
        return data;
    }
};

std::string joined(const char* directory, const char* name)
{
    return std::string(directory) + "/" + name;
}

void markInitialized(BBXContext* context)
{
    std::atomic_ref<std::uint8_t>(context->initialized).store(1);
    if (!BBXAllocatorProtect(context->allocator))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Memory protection failed\n");
}

} // namespace

bool BBXContextInitialize(const BBXContextInitData* initData)
{
    if (!initData)
        return false;
    if (reinterpret_cast<std::uintptr_t>(initData->reportDirectory) < 4096)
        return false;
    if (!BBXContextCreate())
        return false;
    BBXContext* context = BBXContextGet();
    BBXSetDuplicateStringAllocator(context->allocator);

    const std::string sdkLog = joined(initData->reportDirectory, "sdk.log");
    if (!BBXUnlinkIfExists(sdkLog.c_str()))
        kits::kitLog(std::string("[Blackbox:Crash] Unable to write initialize SDK write paths ")
                     + std::strerror(errno));
    context->sdkLogPath = BBXDuplicateString(sdkLog.c_str());
    BBXSDKLogSetContext(context->sdkLogPath, BBXSDKLogLevelDebug);

    context->debuggerAttached = BBXProcessDebuggerAttached() ? 1 : 0;
    context->crashObserver = initData->crashObserver;
    context->crashCallback = initData->crashCallbackTarget;
    context->firstInstall = initData->firstInstall;
    context->binaryImagesPath =
        BBXDuplicateString(joined(initData->reportDirectory, "binary_images.bbxrecord").c_str());
    context->signalRecord.path = BBXDuplicateString(joined(initData->reportDirectory, "signal.bbxrecord").c_str());
    context->exceptionRecord.path =
        BBXDuplicateString(joined(initData->reportDirectory, "exception.bbxrecord").c_str());

    auto group = std::make_shared<InstallGroup>();
    const auto finish = [group, context] {
        std::lock_guard lock(group->mutex);
        if (--group->running == 0) {
            markInitialized(context);
            group->done = true;
            group->finished.notify_all();
        }
    };
    const auto add = [&](foundation::Work part) {
        {
            std::lock_guard lock(group->mutex);
            ++group->running;
        }
        foundation::WorkerPool::global().async([part = std::move(part), finish] {
            part();
            finish();
        });
    };
    const BBXContextInitData data = *initData;
    const auto texts = std::make_shared<const InitTexts>(*initData);
    {
        std::lock_guard lock(group->mutex);
        ++group->running; // the calling thread's part
    }
    add([] { BBXHostInitialize(); });
    add([data, texts] {
        const BBXContextInitData applied = texts->applied(data);
        BBXContextInitializeLogFiles(&applied);
    });
    add([] { BBXBinaryImageInit(); });
    if (!context->debuggerAttached) {
        add([context] { BBXExceptionInitialize(&context->exceptionRecord); });
    } else {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Debugger present - not installing handlers\n");
    }
    add([data, texts] {
        if (!BBXContextRecordMetadata(texts->applied(data)))
            BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to record context metadata\n");
    });
    if (!context->debuggerAttached)
        BBXSignalInitialize(&context->signalRecord);
    finish();

    std::unique_lock lock(group->mutex);
    if (!group->finished.wait_for(lock, installationWait, [&] { return group->done; }))
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Delayed initialization\n");
    return true;
}

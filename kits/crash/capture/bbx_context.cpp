// The context's storage: one pointer the capture code reads, the guarded allocator's regions and the
// kit's queues, which live as long as the process (capture work may still run at exit).
#include "kits/crash/capture/bbx_context.h"

#include "kits/crash/capture/bbx_allocator.h"

#include "foundation/dispatch_queue.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

std::atomic<BBXContext*> currentContext{nullptr};

struct Queues {
    std::shared_ptr<foundation::SerialQueue> logging;
    std::shared_ptr<foundation::SerialQueue> binaryImages;
    std::shared_ptr<foundation::SerialQueue> exception;
};

Queues& queues()
{
    static auto* made = new Queues{
        std::make_shared<foundation::SerialQueue>("com.mirrowick.blackbox.mac.logging"),
        std::make_shared<foundation::SerialQueue>("com.mirrowick.blackbox.mac.binary-images"),
        std::make_shared<foundation::SerialQueue>("com.mirrowick.blackbox.mac.exception"),
    };
    return *made;
}

void* zeroed(BBXAllocator* allocator, std::size_t size, BBXAllocationKind kind)
{
    void* memory = BBXAllocatorSafeAllocate(allocator, size, kind);
    if (memory)
        std::memset(memory, 0, size);
    return memory;
}

} // namespace

BBXContext* BBXContextGet()
{
    return currentContext.load();
}

bool BBXContextCreate()
{
    queues();
    BBXAllocator* allocator = BBXAllocatorCreate(BBXContextWritableSize, BBXContextProtectableSize);
    if (!allocator)
        return false;
    auto* context = static_cast<BBXContext*>(zeroed(allocator, sizeof(BBXContext), BBXAllocationKindProtectable));
    if (!context)
        return false;
    context->allocator = allocator;
    context->signalStack = zeroed(allocator, BBXContextBlockSize, BBXAllocationKindWritable);
    context->threadStateBlock = zeroed(allocator, BBXContextBlockSize, BBXAllocationKindWritable);
    context->state =
        static_cast<BBXCrashTimeState*>(zeroed(allocator, sizeof(BBXCrashTimeState), BBXAllocationKindWritable));
    if (!context->signalStack || !context->threadStateBlock || !context->state)
        return false;
    context->state->binaryImages.file.fd = -1;
    context->initialized = 0;
    currentContext.store(context); // sequentially consistent: all of the above is seen with it
    return true;
}

std::shared_ptr<foundation::SerialQueue> BBXContextLoggingQueue()
{
    return queues().logging;
}

std::shared_ptr<foundation::SerialQueue> BBXContextBinaryImagesQueue()
{
    return queues().binaryImages;
}

std::shared_ptr<foundation::SerialQueue> BBXContextExceptionQueue()
{
    return queues().exception;
}

bool BBXContextIsInitialized()
{
    const BBXContext* context = currentContext.load();
    return context && std::atomic_ref<const std::uint8_t>(context->initialized).load() != 0;
}

bool BBXContextDebuggerAttached()
{
    const BBXContext* context = currentContext.load();
    return context && context->debuggerAttached != 0;
}

bool BBXContextMarkAndCheckIfCrashed()
{
    BBXContext* context = currentContext.load();
    if (!BBXContextIsInitialized() || !context->state)
        return false;
    // The first capture to set the flag wins; the exchange is a full fence on both sides.
    return std::atomic_ref<std::uint8_t>(context->state->crashed).exchange(1) != 0;
}

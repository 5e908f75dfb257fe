// Start, finish and the flag changes of the kit platform's asynchronous operation.
#include "kits/platform/kst_async_operation.h"

namespace kits {

KSTAsyncOperation::KSTAsyncOperation(std::string className) : lockName_("com.mirrowick." + className + "-lock") {}

bool KSTAsyncOperation::isExecuting() const
{
    std::lock_guard guard(lock_);
    return internalExecuting_;
}

bool KSTAsyncOperation::isFinished() const
{
    std::lock_guard guard(lock_);
    return internalFinished_;
}

void KSTAsyncOperation::start()
{
    if (checkForCancellation())
        return;
    markStarted();
    main();
}

void KSTAsyncOperation::finishWithError(std::optional<foundation::Error> error)
{
    if (const auto completion = asyncCompletion())
        completion(error);
    markDone();
}

KSTAsyncOperation::AsyncCompletion KSTAsyncOperation::asyncCompletion() const
{
    std::lock_guard guard(lock_);
    return asyncCompletion_;
}

void KSTAsyncOperation::setAsyncCompletion(AsyncCompletion completion)
{
    std::lock_guard guard(lock_);
    asyncCompletion_ = std::move(completion);
}

void KSTAsyncOperation::markStarted()
{
    changeValueForKey("isExecuting", [this] { unlockedMarkStarted(); });
}

void KSTAsyncOperation::markDone()
{
    changeValueForKey("isExecuting", [this] { unlockedMarkComplete(); });
    changeValueForKey("isFinished", [this] { unlockedMarkFinished(); });
}

bool KSTAsyncOperation::checkForCancellation()
{
    if (!isCancelled())
        return false;
    markDone();
    return true;
}

void KSTAsyncOperation::lock(const std::function<void()>& block) const
{
    std::lock_guard guard(lock_);
    block();
}

void KSTAsyncOperation::changeValueForKey(std::string_view key, const std::function<void()>& block)
{
    lock(block);
    didChangeValueForKey(key);
}

void KSTAsyncOperation::unlockedMarkStarted()
{
    internalExecuting_ = true;
}

void KSTAsyncOperation::unlockedMarkComplete()
{
    internalExecuting_ = false;
}

void KSTAsyncOperation::unlockedMarkFinished()
{
    internalFinished_ = true;
}

} // namespace kits

// The kit platform's asynchronous operation: start() runs main(), but the operation ends only when
// the subclass calls finishWithError(), from any thread. Its executing and finished flags live under
// a recursive lock named after the class, and the queue that runs it hears each change.
#pragma once

#include "foundation/error.h"
#include "foundation/operation_queue.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kits {

class KSTAsyncOperation : public foundation::Operation {
public:
    using AsyncCompletion = std::function<void(const std::optional<foundation::Error>& error)>;

    // `className` names the lock, "com.mirrowick.<className>-lock"; subclasses pass their own.
    explicit KSTAsyncOperation(std::string className = "KSTAsyncOperation");

    bool isConcurrent() const { return true; }
    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override;
    bool isFinished() const override;
    // A cancelled operation is marked done and main() never runs; otherwise it is marked started
    // and main() runs. Subclasses put their work in main() and end it with finishWithError().
    void start() override;
    // Calls the async completion with `error` when one is set, then marks the operation done.
    void finishWithError(std::optional<foundation::Error> error);

    AsyncCompletion asyncCompletion() const;
    void setAsyncCompletion(AsyncCompletion completion);
    const std::string& lockName() const { return lockName_; }

    void markStarted();
    void markDone();
    // True, with the operation marked done, when it was cancelled.
    bool checkForCancellation();
    // Runs `block` with the recursive lock held.
    void lock(const std::function<void()>& block) const;
    // Runs `block` under the lock, then sends the change notice for `key` once the lock is released:
    // the queue handles an ending operation under its own lock, which it also holds while it reads
    // the operations' flags, so a notice sent under this lock could deadlock against it.
    void changeValueForKey(std::string_view key, const std::function<void()>& block);
    // The flag changes themselves; the caller holds the lock.
    void unlockedMarkStarted();
    void unlockedMarkComplete();
    void unlockedMarkFinished();

private:
    std::string lockName_;
    mutable std::recursive_mutex lock_;
    bool internalExecuting_ = false;
    bool internalFinished_ = false;
    AsyncCompletion asyncCompletion_;
};

} // namespace kits

// Operations and operation queues of our own in place of the platform's: an operation runs once,
// may wait for others (dependencies), may be cancelled, and runs its completion block when it ends;
// an asynchronous operation ends when it says so, not when start() returns. A queue starts the first
// ready operation in insertion order whenever it is under its concurrency limit (1, or none). Any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

class OperationQueue;
struct OperationQueueState;

class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation() = default;
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // A cancelled operation finishes at once; otherwise main() runs, and an operation that is not
    // asynchronous finishes when it returns. Asynchronous subclasses override it.
    virtual void start();
    virtual void main() {}
    virtual bool isAsynchronous() const { return false; }
    virtual bool isExecuting() const;
    virtual bool isFinished() const;
    virtual void cancel();
    bool isCancelled() const;
    // Cancelled, or every dependency finished.
    bool isReady() const;

    void addDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;
    // Runs on the thread that finishes the operation, before its queue starts another; released
    // before the operation's waiters go on.
    void setCompletionBlock(std::function<void()> block);
    std::function<void()> completionBlock() const;
    void setName(std::string name);
    std::string name() const;
    // Blocks until the operation has finished and its completion block has run.
    void waitUntilFinished();

protected:
    // The key-value notice of a state change ("isExecuting", "isFinished"): subclasses that keep their
    // own flags call it after changing them, and the operation's end is handled once.
    void didChangeValueForKey(std::string_view key);

private:
    friend class OperationQueue;
    friend struct OperationQueueState;
    void handleFinish();

    mutable std::mutex mutex_;
    std::condition_variable endedCondition_;
    bool executing_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    bool endHandled_ = false; // the end is being handled (once)
    bool ended_ = false;      // ...and has been: completion block run, waiters may go on
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::vector<std::weak_ptr<Operation>> dependents_;
    std::function<void()> completionBlock_;
    std::string name_;
    std::weak_ptr<OperationQueueState> queue_;
    // Guarded by the queue's mutex: the order of adding, and where the operation stands there.
    std::uint64_t queueSequence_ = 0;
    enum class QueuePhase { none, waiting, ready, started } queuePhase_ = QueuePhase::none;
};

// An operation that runs a block. The block, and what it captured, goes as soon as it has run, before
// the operation counts as finished: whoever waits for the operation finds its captures released.
class BlockOperation final : public Operation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override;

private:
    std::function<void()> block_;
};

class OperationQueue {
public:
    // No limit unless given (the kits use 1).
    explicit OperationQueue(std::optional<std::size_t> maxConcurrentOperationCount = std::nullopt);
    // Operations already added still run; the queue's state lives as long as they do.
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::shared_ptr<Operation> operation);
    void addOperations(std::vector<std::shared_ptr<Operation>> operations, bool waitUntilFinished);
    void addOperationWithBlock(std::function<void()> block);
    // Operations added and not yet finished, in insertion order.
    std::vector<std::shared_ptr<Operation>> operations() const;
    std::size_t operationCount() const;
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();

private:
    std::shared_ptr<OperationQueueState> state_;
};

} // namespace foundation

// Operation state, queue scheduling and the hand-over to the worker pool. Operations a worker starts
// while finishing another run in the same worker's loop, so a one-at-a-time queue does not pay a
// thread hand-over per operation.
#include "foundation/operation_queue.h"

#include "foundation/dispatch_queue.h"

#include <algorithm>
#include <deque>
#include <map>

namespace foundation {

struct OperationQueueState : std::enable_shared_from_this<OperationQueueState> {
    std::optional<std::size_t> limit;
    mutable std::mutex mutex;
    std::condition_variable emptied;
    // Added, not finished, in insertion order; ending ones are mostly at the front.
    std::deque<std::shared_ptr<Operation>> operations;
    // Those ready and not started, by insertion order. Operations waiting for others are not here, so
    // a long line of them costs nothing each time the queue looks for the next one to start.
    std::map<std::uint64_t, std::shared_ptr<Operation>> ready;
    std::size_t startedCount = 0;
    std::uint64_t nextSequence = 0;

    void pump();
    // Called whenever the operation may have become ready: a dependency ended, or it was cancelled.
    void considerReady(const std::shared_ptr<Operation>& operation);
    void operationEnded(const std::shared_ptr<Operation>& operation);
};

namespace {

// The operations the current worker will start after the one it is running.
thread_local std::deque<std::shared_ptr<Operation>>* workerBatch = nullptr;

void runOnWorker(std::shared_ptr<Operation> operation)
{
    if (workerBatch) {
        workerBatch->push_back(std::move(operation));
        return;
    }
    WorkerPool::global().async([first = std::move(operation)]() mutable {
        std::deque<std::shared_ptr<Operation>> batch{std::move(first)};
        workerBatch = &batch;
        while (!batch.empty()) {
            auto next = std::move(batch.front());
            batch.pop_front();
            next->start();
        }
        workerBatch = nullptr;
    });
}

} // namespace

void OperationQueueState::pump()
{
    std::vector<std::shared_ptr<Operation>> toStart;
    {
        std::lock_guard lock(mutex);
        while (!ready.empty() && (!limit || startedCount < *limit)) {
            auto operation = std::move(ready.begin()->second);
            ready.erase(ready.begin());
            // A dependency added after it became ready: the end of that dependency brings it back.
            if (!operation->isReady()) {
                operation->queuePhase_ = Operation::QueuePhase::waiting;
                continue;
            }
            operation->queuePhase_ = Operation::QueuePhase::started;
            ++startedCount;
            toStart.push_back(std::move(operation));
        }
    }
    for (auto& operation : toStart)
        runOnWorker(std::move(operation));
}

void OperationQueueState::considerReady(const std::shared_ptr<Operation>& operation)
{
    std::lock_guard lock(mutex);
    if (operation->queuePhase_ != Operation::QueuePhase::waiting || !operation->isReady())
        return;
    operation->queuePhase_ = Operation::QueuePhase::ready;
    ready.emplace(operation->queueSequence_, operation);
}

void OperationQueueState::operationEnded(const std::shared_ptr<Operation>& operation)
{
    {
        std::lock_guard lock(mutex);
        // Normally started by this queue; one started by hand while queued (or cancelled and ended
        // before its turn) leaves the line here too.
        if (operation->queuePhase_ == Operation::QueuePhase::started)
            --startedCount;
        else if (operation->queuePhase_ == Operation::QueuePhase::ready)
            ready.erase(operation->queueSequence_);
        operation->queuePhase_ = Operation::QueuePhase::none;
        // Found from the front and erased alone: erasing by value would walk the whole queue.
        if (const auto ended = std::find(operations.begin(), operations.end(), operation); ended != operations.end())
            operations.erase(ended);
    }
    emptied.notify_all();
    pump();
}

void Operation::start()
{
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            finished_ = true;
        } else {
            executing_ = true;
        }
    }
    if (isFinished()) {
        didChangeValueForKey("isFinished");
        return;
    }
    didChangeValueForKey("isExecuting");
    main();
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey("isExecuting");
    didChangeValueForKey("isFinished");
}

void BlockOperation::main()
{
    const auto block = std::move(block_);
    block_ = nullptr;
    if (block)
        block();
}

bool Operation::isExecuting() const
{
    std::lock_guard lock(mutex_);
    return executing_;
}

bool Operation::isFinished() const
{
    std::lock_guard lock(mutex_);
    return finished_;
}

void Operation::cancel()
{
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    // A cancelled operation is ready: its queue may start it now, so that it ends.
    if (auto queue = [&] {
            std::lock_guard lock(mutex_);
            return queue_.lock();
        }()) {
        queue->considerReady(shared_from_this());
        queue->pump();
    }
}

bool Operation::isCancelled() const
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool Operation::isReady() const
{
    std::vector<std::shared_ptr<Operation>> waitingFor;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return true;
        waitingFor = dependencies_;
    }
    return std::all_of(waitingFor.begin(), waitingFor.end(),
                       [](const auto& dependency) { return dependency->isFinished(); });
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation)
{
    if (!operation || operation.get() == this)
        return;
    // Known to the dependency first: once this operation waits for it (its queue may look at it at
    // any moment), the dependency's end must find it, or a queued operation that its queue saw
    // waiting would never be looked at again.
    {
        std::lock_guard lock(operation->mutex_);
        operation->dependents_.push_back(weak_from_this());
    }
    std::lock_guard lock(mutex_);
    dependencies_.push_back(operation);
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const
{
    std::lock_guard lock(mutex_);
    return dependencies_;
}

void Operation::setCompletionBlock(std::function<void()> block)
{
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(block);
}

std::function<void()> Operation::completionBlock() const
{
    std::lock_guard lock(mutex_);
    return completionBlock_;
}

void Operation::setName(std::string name)
{
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

std::string Operation::name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

void Operation::waitUntilFinished()
{
    std::unique_lock lock(mutex_);
    endedCondition_.wait(lock, [this] { return ended_; });
}

void Operation::didChangeValueForKey(std::string_view key)
{
    if (key != "isFinished" || !isFinished())
        return;
    {
        std::lock_guard lock(mutex_);
        if (endHandled_)
            return;
        endHandled_ = true;
    }
    handleFinish();
}

void Operation::handleFinish()
{
    std::function<void()> completion;
    std::shared_ptr<OperationQueueState> queue;
    std::vector<std::weak_ptr<Operation>> dependents;
    {
        std::lock_guard lock(mutex_);
        completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
        queue = queue_.lock();
        dependents = dependents_;
    }
    auto self = shared_from_this(); // the queue may hold the last other reference
    if (completion)
        completion();
    completion = nullptr; // its captures go before anyone waiting for this operation goes on
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    endedCondition_.notify_all();
    // Operations that waited for this one may be ready now, in this queue or another.
    std::vector<std::shared_ptr<OperationQueueState>> otherQueues;
    for (const auto& weakDependent : dependents) {
        auto dependent = weakDependent.lock();
        if (!dependent)
            continue;
        std::shared_ptr<OperationQueueState> theirQueue;
        {
            std::lock_guard lock(dependent->mutex_);
            theirQueue = dependent->queue_.lock();
        }
        if (!theirQueue)
            continue;
        theirQueue->considerReady(dependent);
        if (theirQueue != queue && std::find(otherQueues.begin(), otherQueues.end(), theirQueue) == otherQueues.end())
            otherQueues.push_back(std::move(theirQueue));
    }
    if (queue)
        queue->operationEnded(self);
    for (const auto& other : otherQueues)
        other->pump();
}

OperationQueue::OperationQueue(std::optional<std::size_t> maxConcurrentOperationCount)
    : state_(std::make_shared<OperationQueueState>())
{
    state_->limit = maxConcurrentOperationCount;
}

OperationQueue::~OperationQueue() = default;

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    if (!operation)
        return;
    {
        std::lock_guard lock(operation->mutex_);
        operation->queue_ = state_;
    }
    {
        std::lock_guard lock(state_->mutex);
        operation->queueSequence_ = state_->nextSequence++;
        // Ready now, or once a dependency ends or it is cancelled (considerReady).
        if (operation->isReady()) {
            operation->queuePhase_ = Operation::QueuePhase::ready;
            state_->ready.emplace(operation->queueSequence_, operation);
        } else {
            operation->queuePhase_ = Operation::QueuePhase::waiting;
        }
        state_->operations.push_back(std::move(operation));
    }
    state_->pump();
}

void OperationQueue::addOperations(std::vector<std::shared_ptr<Operation>> operations, bool waitUntilFinished)
{
    for (const auto& operation : operations)
        addOperation(operation);
    if (waitUntilFinished)
        for (const auto& operation : operations)
            operation->waitUntilFinished();
}

void OperationQueue::addOperationWithBlock(std::function<void()> block)
{
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    std::lock_guard lock(state_->mutex);
    return {state_->operations.begin(), state_->operations.end()};
}

std::size_t OperationQueue::operationCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->operations.size();
}

void OperationQueue::cancelAllOperations()
{
    for (const auto& operation : operations())
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(state_->mutex);
    state_->emptied.wait(lock, [this] { return state_->operations.empty(); });
}

} // namespace foundation

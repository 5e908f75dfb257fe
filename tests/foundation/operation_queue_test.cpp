// Operations and queues: insertion order among ready operations, dependencies added after queuing,
// completion blocks before the next start, cancellation, waiting, asynchronous operations, and
// operations waiting for later ones or for another queue's.
#include "foundation/dispatch_queue.h"
#include "foundation/operation_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using namespace foundation;

namespace {

// Records the order of events from any thread.
class Journal {
public:
    void add(std::string entry)
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() const
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

std::shared_ptr<Operation> recording(Journal& journal, const std::string& name)
{
    auto operation = std::make_shared<BlockOperation>([&journal, name] { journal.add(name); });
    operation->setCompletionBlock([&journal, name] { journal.add(name + " done"); });
    return operation;
}

// Finishes when told to, on whatever thread tells it.
class ManualOperation final : public Operation {
public:
    bool isAsynchronous() const override { return true; }
    void start() override
    {
        {
            std::lock_guard lock(mutex_);
            started_ = true;
        }
        startedSignal_.set_value();
    }
    bool isExecuting() const override
    {
        std::lock_guard lock(mutex_);
        return started_ && !done_;
    }
    bool isFinished() const override
    {
        std::lock_guard lock(mutex_);
        return done_;
    }
    void finish()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        didChangeValueForKey("isFinished");
    }
    std::future<void> started() { return startedSignal_.get_future(); }

private:
    mutable std::mutex mutex_;
    bool started_ = false;
    bool done_ = false;
    std::promise<void> startedSignal_;
};

} // namespace

TEST(OperationQueue, OneAtATimeInInsertionOrderWithCompletionsBetween)
{
    Journal journal;
    OperationQueue queue(1);
    for (const char* name : {"a", "b", "c"})
        queue.addOperation(recording(journal, name));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"a", "a done", "b", "b done", "c", "c done"}));
    EXPECT_EQ(queue.operationCount(), 0u);
}

// An owner that waits for its queue and then goes must not find its objects still held by a worker: a
// capture released after the wait (a session joining its thread, say) would run while the owner, or
// the whole process, is being torn down. The slow destructor makes a late release all but certain.
TEST(OperationQueue, WhatABlockAndItsCompletionCapturedIsGoneWhenTheWaitEnds)
{
    struct Held {
        std::atomic<int>& released;
        explicit Held(std::atomic<int>& counter) : released(counter) {}
        ~Held()
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++released;
        }
    };
    std::atomic<int> released = 0;
    OperationQueue queue(1);
    for (int round = 0; round < 3; ++round) {
        auto operation = std::make_shared<BlockOperation>([held = std::make_shared<Held>(released)] {});
        operation->setCompletionBlock([held = std::make_shared<Held>(released)] {});
        queue.addOperation(std::move(operation));
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_EQ(released.load(), 2 * (round + 1));
    }
}

TEST(OperationQueue, DependencyAddedAfterQueuingHoldsTheOperationBack)
{
    Journal journal;
    OperationQueue queue(1);
    auto blocker = std::make_shared<ManualOperation>();
    auto started = blocker->started();
    queue.addOperation(blocker); // occupies the one slot
    started.wait();
    auto first = recording(journal, "first");
    auto second = recording(journal, "second");
    queue.addOperation(first);
    queue.addOperation(second);
    auto gate = std::make_shared<ManualOperation>();
    first->addDependency(gate); // first is queued, not started
    blocker->finish();
    second->waitUntilFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"second", "second done"}));
    gate->start();
    gate->finish();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"second", "second done", "first", "first done"}));
}

TEST(OperationQueue, CancelledOperationsNeverRunMainAndFinish)
{
    Journal journal;
    OperationQueue queue(1);
    auto blocker = std::make_shared<ManualOperation>();
    auto started = blocker->started();
    queue.addOperation(blocker);
    started.wait();
    auto cancelled = recording(journal, "cancelled");
    queue.addOperation(cancelled);
    queue.cancelAllOperations();
    EXPECT_TRUE(cancelled->isCancelled());
    blocker->finish();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(cancelled->isFinished());
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"cancelled done"})); // main never ran
}

TEST(OperationQueue, WithoutLimitOperationsRunSideBySide)
{
    OperationQueue queue;
    auto slow = std::make_shared<ManualOperation>();
    auto slowStarted = slow->started();
    queue.addOperation(slow);
    std::promise<void> other;
    queue.addOperationWithBlock([&] { other.set_value(); });
    EXPECT_EQ(other.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(slow->isFinished()); // the block ran while the slow operation was still going
    slowStarted.wait();
    slow->finish();
    queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueue, OperationsWaitingForLaterOnesLetReadyOnesPassAndFollowInOrder)
{
    Journal journal;
    OperationQueue queue(1);
    auto blocker = std::make_shared<ManualOperation>();
    auto started = blocker->started();
    queue.addOperation(blocker);
    started.wait();
    constexpr int count = 200;
    std::vector<std::shared_ptr<Operation>> waiting, later;
    for (int index = 0; index < count; ++index) {
        later.push_back(
            std::make_shared<BlockOperation>([&journal, index] { journal.add("l" + std::to_string(index)); }));
        waiting.push_back(
            std::make_shared<BlockOperation>([&journal, index] { journal.add("w" + std::to_string(index)); }));
        waiting.back()->addDependency(later.back());
        queue.addOperation(waiting.back());
    }
    for (const auto& operation : later)
        queue.addOperation(operation);
    blocker->finish();
    queue.waitUntilAllOperationsAreFinished();
    // Each waiting operation becomes ready when its own ends, and being older, goes before the next.
    std::vector<std::string> expected;
    for (int index = 0; index < count; ++index) {
        expected.push_back("l" + std::to_string(index));
        expected.push_back("w" + std::to_string(index));
    }
    EXPECT_EQ(journal.entries(), expected);
}

TEST(OperationQueue, AWaitingOperationEndsWhenCancelledOrWhenItsDependencyInAnotherQueueEnds)
{
    Journal journal;
    OperationQueue mine(1);
    OperationQueue theirs(1);
    auto blocker = std::make_shared<ManualOperation>();
    auto started = blocker->started();
    theirs.addOperation(blocker);
    started.wait();
    auto dependency = recording(journal, "dependency");
    auto cancelled = recording(journal, "cancelled");
    auto waiting = recording(journal, "waiting");
    cancelled->addDependency(dependency);
    waiting->addDependency(dependency);
    mine.addOperation(cancelled);
    mine.addOperation(waiting);
    theirs.addOperation(dependency);
    cancelled->cancel(); // ready at once, although its dependency has not run
    cancelled->waitUntilFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"cancelled done"}));
    EXPECT_FALSE(waiting->isFinished());
    blocker->finish();
    mine.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.entries(),
              (std::vector<std::string>{"cancelled done", "dependency", "dependency done", "waiting", "waiting done"}));
}

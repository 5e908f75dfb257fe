// The kit platform's operations: an asynchronous operation ends only through finishWithError (a
// cancelled one never runs main), the default request of a network operation header by header, and
// a compound operation's single completion with its gathered errors, also when cancelled.
#include "kits/platform/kst_compound_operation.h"
#include "kits/platform/kst_network_operation.h"

#include "support/scoped_environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

using foundation::Error;
using foundation::OperationQueue;
using kits::KSTAsyncOperation;
using kits::KSTCompoundOperation;
using kits::KSTNetworkOperation;

namespace {

Error testError(std::int64_t code)
{
    Error error;
    error.domain = "test.domain";
    error.code = code;
    return error;
}

// An operation whose main() only says that it runs; the test finishes it from its own thread.
class ManualAsyncOperation final : public KSTAsyncOperation {
public:
    ManualAsyncOperation() : KSTAsyncOperation("ManualAsyncOperation") {}
    void main() override
    {
        const bool executing = isExecuting();
        mainRuns.fetch_add(1);
        started_.set_value(executing);
    }
    // Waits until main() ran; true when the operation was executing in it.
    bool waitForMain() { return startedFuture_.get(); }

    std::atomic<int> mainRuns{0};

private:
    std::promise<bool> started_;
    std::future<bool> startedFuture_ = started_.get_future();
};

// Each call of a completion, from any thread.
struct CompletionLog {
    std::mutex mutex;
    std::vector<std::optional<Error>> errors;
    bool finishedWhenCalled = false;

    KSTAsyncOperation::AsyncCompletion recorder(const std::shared_ptr<KSTAsyncOperation>& operation)
    {
        std::weak_ptr<KSTAsyncOperation> weak = operation;
        return [this, weak](const std::optional<Error>& error) {
            std::lock_guard lock(mutex);
            errors.push_back(error);
            if (auto strong = weak.lock())
                finishedWhenCalled = strong->isFinished();
        };
    }
    std::size_t calls()
    {
        std::lock_guard lock(mutex);
        return errors.size();
    }
};

} // namespace

TEST(KSTAsyncOperation, CancelledOperationNeverRunsMainAndReportsFinished)
{
    auto operation = std::make_shared<ManualAsyncOperation>();
    operation->cancel();
    operation->start();
    EXPECT_EQ(operation->mainRuns.load(), 0);
    EXPECT_TRUE(operation->isFinished());
    EXPECT_FALSE(operation->isExecuting());

    // Through a queue: it ends, and its completion block runs.
    OperationQueue queue(1);
    auto queued = std::make_shared<ManualAsyncOperation>();
    std::atomic<bool> completionRan{false};
    queued->setCompletionBlock([&] { completionRan = true; });
    queued->cancel();
    queue.addOperation(queued);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queued->mainRuns.load(), 0);
    EXPECT_TRUE(queued->isFinished());
    EXPECT_TRUE(completionRan.load());
}

TEST(KSTAsyncOperation, EndsOnlyThroughFinishWithError)
{
    auto operation = std::make_shared<ManualAsyncOperation>();
    EXPECT_TRUE(operation->isAsynchronous());
    EXPECT_TRUE(operation->isConcurrent());
    operation->start();
    EXPECT_TRUE(operation->waitForMain()) << "main runs while the operation is executing";
    EXPECT_TRUE(operation->isExecuting());
    EXPECT_FALSE(operation->isFinished()) << "main returned, but the operation has not said it is done";

    // No async completion: finishing only marks the operation done.
    operation->finishWithError(testError(7));
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_TRUE(operation->isFinished());
}

TEST(KSTAsyncOperation, AsyncCompletionGetsTheErrorBeforeTheFinishIsPublished)
{
    auto operation = std::make_shared<ManualAsyncOperation>();
    CompletionLog log;
    operation->setAsyncCompletion(log.recorder(operation));
    operation->start();
    operation->finishWithError(testError(42));
    ASSERT_EQ(log.calls(), 1u);
    ASSERT_TRUE(log.errors[0].has_value());
    EXPECT_EQ(log.errors[0]->code, 42);
    EXPECT_FALSE(log.finishedWhenCalled);
    EXPECT_TRUE(operation->isFinished());
}

TEST(KSTAsyncOperation, OneAtATimeQueueWaitsForTheFinishNotForMain)
{
    OperationQueue queue(1);
    auto first = std::make_shared<ManualAsyncOperation>();
    auto second = std::make_shared<ManualAsyncOperation>();
    queue.addOperation(first);
    queue.addOperation(second);
    first->waitForMain();
    EXPECT_EQ(second->mainRuns.load(), 0);
    EXPECT_EQ(queue.operationCount(), 2u);
    first->finishWithError(std::nullopt);
    second->waitForMain();
    second->finishWithError(std::nullopt);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(second->isFinished());
}

TEST(KSTAsyncOperation, LockIsNamedAfterTheClassAndReentrant)
{
    EXPECT_EQ(KSTAsyncOperation().lockName(), "com.mirrowick.KSTAsyncOperation-lock");
    EXPECT_EQ(ManualAsyncOperation().lockName(), "com.mirrowick.ManualAsyncOperation-lock");
    EXPECT_EQ(KSTNetworkOperation("key").lockName(), "com.mirrowick.KSTNetworkOperation-lock");

    // A notice that reads the flags while the lock is held does not block.
    auto operation = std::make_shared<ManualAsyncOperation>();
    bool finishedInside = true;
    operation->lock([&] { operation->lock([&] { finishedInside = operation->isFinished(); }); });
    EXPECT_FALSE(finishedInside);
}

TEST(KSTNetworkOperation, NeedsAnAPIKey)
{
    EXPECT_EQ(KSTNetworkOperation::initWithAPIKey(std::nullopt), nullptr);
    const auto operation = KSTNetworkOperation::initWithAPIKey("abc123");
    ASSERT_NE(operation, nullptr);
    EXPECT_EQ(operation->APIKey(), "abc123");
}

TEST(KSTNetworkOperation, DefaultRequestHasExactlyTheNineHeadersInOrder)
{
    testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MESSAGES", "de_DE.UTF-8"}};
    const KSTNetworkOperation operation("the-api-key");
    const auto request = operation.mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL("https://example.test/a");

    const std::vector<std::pair<std::string, std::string>> expected{
        {"User-Agent", "io.tessmark.sdk.mac/1.6.11 (60)"},
        {"Accept-Charset", "utf-8"},
        {"Accept-Language", "de_DE"},
        {"Content-Language", "de_DE"},
        {"X-Blackbox-Developer-Token", "3c5e1a9b7d20f4e6a8c1b3d5f7092e4a6c8b0d2f"},
        {"X-Blackbox-API-Client-Id", "io.tessmark.sdk.mac"},
        {"X-Blackbox-API-Client-Display-Version", "1.6.11"},
        {"X-Blackbox-API-Client-Build-Version", "60"},
        {"X-Blackbox-API-Key", "the-api-key"},
    };
    EXPECT_EQ(request.headerFields.fields(), expected);
    EXPECT_EQ(request.timeoutInterval, 10.0);
    EXPECT_EQ(request.url, "https://example.test/a");
    EXPECT_EQ(request.httpMethod, "GET");
    EXPECT_EQ(request.cachePolicy, net::URLRequestCachePolicy::reloadIgnoringLocalCacheData);
    EXPECT_EQ(KSTNetworkOperation::userAgentString(), "io.tessmark.sdk.mac/1.6.11 (60)");

    const auto longer = operation.mutableRequestWithDefaultHTTPHeadersForURL("https://example.test/b", 25.5);
    EXPECT_EQ(longer.timeoutInterval, 25.5);
    EXPECT_EQ(longer.headerFields.fields(), expected);
}

namespace {

// Three manual operations under a compound operation, each with its own completions recorded.
struct CompoundOfThree {
    std::shared_ptr<KSTCompoundOperation> compound = std::make_shared<KSTCompoundOperation>();
    std::vector<std::shared_ptr<ManualAsyncOperation>> parts;
    CompletionLog compoundLog;
    std::atomic<int> ownAsyncCompletions{0};
    std::atomic<int> ownCompletionBlocks{0};

    CompoundOfThree()
    {
        std::vector<std::shared_ptr<KSTAsyncOperation>> operations;
        for (int index = 0; index < 3; ++index) {
            auto part = std::make_shared<ManualAsyncOperation>();
            part->setAsyncCompletion([this](const std::optional<Error>&) { ownAsyncCompletions.fetch_add(1); });
            part->setCompletionBlock([this] { ownCompletionBlocks.fetch_add(1); });
            parts.push_back(part);
            operations.push_back(part);
        }
        compound->setOperations(operations);
        compound->setAsyncCompletion(compoundLog.recorder(compound));
    }
};

} // namespace

TEST(KSTCompoundOperation, FinishesOnceAfterTheLastWithTheGatheredErrors)
{
    CompoundOfThree fixture;
    auto& compound = *fixture.compound;
    compound.start();
    for (const auto& part : fixture.parts)
        part->waitForMain();

    fixture.parts[0]->finishWithError(std::nullopt);
    fixture.parts[1]->finishWithError(testError(-4));
    EXPECT_FALSE(compound.isFinished());
    EXPECT_EQ(fixture.compoundLog.calls(), 0u);

    fixture.parts[2]->finishWithError(std::nullopt);
    EXPECT_TRUE(compound.isFinished());
    ASSERT_EQ(fixture.compoundLog.calls(), 1u);
    const auto& error = fixture.compoundLog.errors[0];
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "com.mirrowick.KSTCompoundOperation.error");
    EXPECT_EQ(error->code, 4294967293);
    EXPECT_EQ(error->underlyingErrorsKey, "com.mirrowick.KSTCompoundOperation.error.user-info-key.underlying-errors");
    ASSERT_EQ(error->underlyingErrors.size(), 1u);
    EXPECT_EQ(error->underlyingErrors[0].domain, "test.domain");
    EXPECT_EQ(error->underlyingErrors[0].code, -4);
    EXPECT_EQ(compound.completedOperations(), 2u);
    EXPECT_EQ(compound.errors().size(), 1u);

    // The operations' own completions still ran, once each.
    EXPECT_EQ(fixture.ownAsyncCompletions.load(), 3);
    EXPECT_EQ(fixture.ownCompletionBlocks.load(), 3);
}

TEST(KSTCompoundOperation, FinishesWithoutErrorWhenAllSucceed)
{
    CompoundOfThree fixture;
    OperationQueue queue(1);
    queue.addOperation(fixture.compound);
    for (const auto& part : fixture.parts) {
        part->waitForMain();
        part->finishWithError(std::nullopt);
    }
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(fixture.compoundLog.calls(), 1u);
    EXPECT_FALSE(fixture.compoundLog.errors[0].has_value());
    EXPECT_FALSE(fixture.compoundLog.finishedWhenCalled);
}

TEST(KSTCompoundOperation, OfNoOperationsNeverFinishesByItself)
{
    auto compound = std::make_shared<KSTCompoundOperation>();
    compound->start(); // main() adds nothing and returns on this thread
    EXPECT_TRUE(compound->isExecuting());
    EXPECT_FALSE(compound->isFinished());
}

TEST(KSTCompoundOperation, CancelledBeforeItStartsEndsEachOperationWithoutRunningIt)
{
    CompoundOfThree fixture;
    fixture.compound->cancel();
    for (const auto& part : fixture.parts) {
        part->waitUntilFinished();
        EXPECT_TRUE(part->isCancelled());
        EXPECT_EQ(part->mainRuns.load(), 0);
    }
    EXPECT_EQ(fixture.ownCompletionBlocks.load(), 3);

    OperationQueue queue(1);
    queue.addOperation(fixture.compound);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(fixture.compound->isFinished());
}

TEST(KSTCompoundOperation, CancelledWhileRunningFinishesOnceWithTheCancellationError)
{
    CompoundOfThree fixture;
    fixture.compound->setName("download");
    fixture.compound->start();
    for (const auto& part : fixture.parts)
        part->waitForMain();
    fixture.compound->cancel();
    for (const auto& part : fixture.parts)
        EXPECT_TRUE(part->isCancelled());
    EXPECT_FALSE(fixture.compound->isFinished()) << "it waits for its running operations";

    for (const auto& part : fixture.parts)
        part->finishWithError(std::nullopt);
    EXPECT_TRUE(fixture.compound->isFinished());
    ASSERT_EQ(fixture.compoundLog.calls(), 1u);
    const auto& error = fixture.compoundLog.errors[0];
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, 4294967294);
    EXPECT_EQ(error->localizedDescription, "download cancelled");
    EXPECT_TRUE(error->underlyingErrors.empty());
}

TEST(KSTCompoundOperation, ManyCompoundsFinishingConcurrentlyEachFinishOnce)
{
    // Parts finish on pool threads at once; each compound must still complete exactly once.
    class Immediate final : public KSTAsyncOperation {
    public:
        explicit Immediate(bool fail) : fail_(fail) {}
        void main() override { finishWithError(fail_ ? std::optional<Error>(testError(1)) : std::nullopt); }

    private:
        bool fail_;
    };
    constexpr int compounds = 20;
    std::atomic<int> completions{0};
    std::atomic<int> failures{0};
    OperationQueue queue;
    for (int index = 0; index < compounds; ++index) {
        auto compound = std::make_shared<KSTCompoundOperation>();
        std::vector<std::shared_ptr<KSTAsyncOperation>> parts;
        for (int part = 0; part < 6; ++part)
            parts.push_back(std::make_shared<Immediate>(part == index % 6));
        compound->setOperations(parts);
        compound->setAsyncCompletion([&](const std::optional<Error>& error) {
            completions.fetch_add(1);
            if (error && error->underlyingErrors.size() == 1)
                failures.fetch_add(1);
        });
        queue.addOperation(compound);
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(completions.load(), compounds);
    EXPECT_EQ(failures.load(), compounds);
}

// The compound operation: wrapping the operations' completions, counting their outcomes on the
// counting queue and finishing once.
#include "kits/platform/kst_compound_operation.h"

#include <algorithm>

namespace kits {

namespace {

// Runs `work` on `queue`: directly when already on it (a completion that reads the counts), else
// as a synchronous dispatch.
void runOn(foundation::SerialQueue& queue, const foundation::Work& work)
{
    if (queue.isCurrent())
        work();
    else
        queue.sync(work);
}

foundation::Error compoundError(std::int64_t code)
{
    foundation::Error error;
    error.domain = KSTCompoundOperationErrorDomain;
    error.code = code;
    return error;
}

} // namespace

KSTCompoundOperation::KSTCompoundOperation()
    : KSTAsyncOperation("KSTCompoundOperation"),
      countingQueue_(std::make_unique<foundation::SerialQueue>(KSTCompoundOperationCountingQueueLabel))
{}

KSTCompoundOperation::~KSTCompoundOperation() = default;

void KSTCompoundOperation::setOperations(std::vector<std::shared_ptr<KSTAsyncOperation>> operations)
{
    std::erase(operations, nullptr);
    lock([&] { operations_ = std::move(operations); });
}

std::vector<std::shared_ptr<KSTAsyncOperation>> KSTCompoundOperation::operations() const
{
    std::vector<std::shared_ptr<KSTAsyncOperation>> copy;
    lock([&] { copy = operations_; });
    return copy;
}

std::shared_ptr<KSTCompoundOperation> KSTCompoundOperation::sharedSelf()
{
    return std::static_pointer_cast<KSTCompoundOperation>(shared_from_this());
}

void KSTCompoundOperation::main()
{
    std::vector<std::shared_ptr<KSTAsyncOperation>> toAdd;
    lock([&] {
        if (operationsAdded_)
            return;
        operationsAdded_ = true;
        toAdd = operations_;
    });
    for (const auto& operation : toAdd) {
        injectCompoundAsyncCompletionInOperation(operation);
        injectCompoundSyncCompletionInOperation(operation);
        compoundQueue_.addOperation(operation);
    }
}

void KSTCompoundOperation::cancel()
{
    bool wereAdded = false;
    std::vector<std::shared_ptr<foundation::Operation>> notYetAdded;
    lock([&] {
        wereAdded = operationsAdded_;
        operationsAdded_ = true;
        if (!wereAdded)
            notYetAdded.assign(operations_.begin(), operations_.end());
    });
    if (!wereAdded) {
        for (const auto& operation : notYetAdded)
            operation->cancel();
        compoundQueue_.addOperations(std::move(notYetAdded), false);
        KSTAsyncOperation::cancel();
        return;
    }
    const auto running = compoundQueue_.operations();
    for (const auto& operation : running)
        operation->cancel();
    runOn(*countingQueue_, [this] { attemptCompoundCompletion(); });
    KSTAsyncOperation::cancel();
    // An operation that ended between the cancelling above and this point tried to complete while
    // the compound was not yet cancelled; when none is left to try again, complete here.
    const bool allEnded =
        std::all_of(running.begin(), running.end(), [](const auto& operation) { return operation->isFinished(); });
    if (allEnded && isExecuting())
        runOn(*countingQueue_, [this] { attemptCompoundCompletion(); });
}

void KSTCompoundOperation::injectCompoundAsyncCompletionInOperation(const std::shared_ptr<KSTAsyncOperation>& operation)
{
    std::weak_ptr<KSTCompoundOperation> weakSelf = sharedSelf();
    operation->setAsyncCompletion(
        [weakSelf, previous = operation->asyncCompletion()](const std::optional<foundation::Error>& error) {
            // Held across the dispatch, so the compound (and its queue) cannot end inside it.
            const auto self = weakSelf.lock();
            if (!self) {
                if (previous)
                    previous(error);
                return;
            }
            runOn(*self->countingQueue_, [&] {
                if (previous)
                    previous(error);
                self->updateCompletionCountsWithError(error);
            });
        });
}

void KSTCompoundOperation::injectCompoundSyncCompletionInOperation(const std::shared_ptr<KSTAsyncOperation>& operation)
{
    std::weak_ptr<KSTCompoundOperation> weakSelf = sharedSelf();
    operation->setCompletionBlock([weakSelf, previous = operation->completionBlock()] {
        const auto self = weakSelf.lock();
        if (!self) {
            if (previous)
                previous();
            return;
        }
        runOn(*self->countingQueue_, [&] {
            if (previous)
                previous();
            self->attemptCompoundCompletion();
        });
    });
}

void KSTCompoundOperation::updateCompletionCountsWithError(const std::optional<foundation::Error>& error)
{
    if (error)
        errors_.push_back(*error);
    else
        ++completedOperations_;
}

void KSTCompoundOperation::attemptCompoundCompletion()
{
    if (compoundCompleted_)
        return;
    if (isCancelled()) {
        compoundCompleted_ = true;
        auto error = compoundError(KSTCompoundOperationErrorCodeCancelled);
        error.localizedDescription = name() + " cancelled";
        finishWithError(std::move(error));
        setAsyncCompletion(nullptr);
        return;
    }
    const std::size_t operationCount = operations().size();
    if (completedOperations_ + errors_.size() != operationCount)
        return;
    compoundCompleted_ = true;
    if (errors_.empty()) {
        finishWithError(std::nullopt);
        return;
    }
    auto error = compoundError(KSTCompoundOperationErrorCodeSuboperationFailed);
    error.underlyingErrorsKey = KSTCompoundOperationErrorUserInfoKeyUnderlyingErrors;
    error.underlyingErrors = errors_;
    finishWithError(std::move(error));
}

std::uint64_t KSTCompoundOperation::completedOperations() const
{
    std::uint64_t count = 0;
    runOn(*countingQueue_, [&] { count = completedOperations_; });
    return count;
}

std::vector<foundation::Error> KSTCompoundOperation::errors() const
{
    std::vector<foundation::Error> copy;
    runOn(*countingQueue_, [&] { copy = errors_; });
    return copy;
}

} // namespace kits

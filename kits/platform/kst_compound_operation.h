// Runs a set of asynchronous operations as one: the compound operation adds them to its own queue
// and finishes once every one has completed, with no error when none failed, else with one error
// that gathers theirs. Its counting runs on a serial queue of its own, as do the operations' own
// completions, which it wraps.
#pragma once

#include "foundation/dispatch_queue.h"
#include "kits/platform/kst_async_operation.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kits {

inline constexpr const char* KSTCompoundOperationErrorDomain = "com.mirrowick.KSTCompoundOperation.error";
inline constexpr std::int64_t KSTCompoundOperationErrorCodeCancelled = 0xFFFFFFFE;
inline constexpr std::int64_t KSTCompoundOperationErrorCodeSuboperationFailed = 0xFFFFFFFD;
inline constexpr const char* KSTCompoundOperationErrorUserInfoKeyUnderlyingErrors =
    "com.mirrowick.KSTCompoundOperation.error.user-info-key.underlying-errors";
inline constexpr const char* KSTCompoundOperationCountingQueueLabel =
    "com.mirrowick.KSTCompoundOperation.dispatch-queue.counting-queue";

class KSTCompoundOperation : public KSTAsyncOperation {
public:
    KSTCompoundOperation();
    ~KSTCompoundOperation() override;

    // Set before the operation starts.
    void setOperations(std::vector<std::shared_ptr<KSTAsyncOperation>> operations);
    std::vector<std::shared_ptr<KSTAsyncOperation>> operations() const;

    // Wraps each operation's completions and adds it to the compound queue, in order.
    void main() override;
    // Before main() added the operations: cancels each and adds them all, so that each ends through
    // its cancellation path. After: cancels those in the compound queue and tries to complete.
    // Either way the compound operation itself is then cancelled.
    void cancel() override;

    // The operation's async completion now runs on the counting queue, then counts its outcome.
    void injectCompoundAsyncCompletionInOperation(const std::shared_ptr<KSTAsyncOperation>& operation);
    // The operation's completion block now runs on the counting queue, then tries to complete.
    void injectCompoundSyncCompletionInOperation(const std::shared_ptr<KSTAsyncOperation>& operation);
    // On the counting queue: no error counts a completed operation, an error is kept.
    void updateCompletionCountsWithError(const std::optional<foundation::Error>& error);
    // On the counting queue: a cancelled compound finishes with the cancellation error; one whose
    // operations have all completed finishes with no error or with the gathered errors; otherwise
    // nothing happens. The compound finishes only once, however many operations try.
    void attemptCompoundCompletion();

    // Read on the counting queue, for the completion's callers and tests.
    std::uint64_t completedOperations() const;
    std::vector<foundation::Error> errors() const;

private:
    std::shared_ptr<KSTCompoundOperation> sharedSelf();

    std::vector<std::shared_ptr<KSTAsyncOperation>> operations_; // under the operation's lock
    bool operationsAdded_ = false;                               // under the operation's lock
    foundation::OperationQueue compoundQueue_;
    // Touched only on the counting queue.
    std::uint64_t completedOperations_ = 0;
    std::vector<foundation::Error> errors_;
    bool compoundCompleted_ = false;
    // Last, so that it ends first, while what its work touches still exists.
    std::unique_ptr<foundation::SerialQueue> countingQueue_;
};

} // namespace kits

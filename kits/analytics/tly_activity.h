// Process activities of the analytics kit: while events are written or logs rotated, an activity
// keeps the work from being cut off. Linux has no termination control or background tasks, so an
// activity counts itself in the process's activity register (which the application waits on when
// it quits) and keeps its option bits for what asks. An activity ends once: at end() or when it is
// destroyed, whichever comes first.
#pragma once

#include "foundation/activity_register.h"
#include "foundation/operation_queue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kits {

// The activity option bits.
inline constexpr std::uint64_t TLYActivitySuddenTerminationDisabled = 0x4000;
inline constexpr std::uint64_t TLYActivityAutomaticTerminationDisabled = 0x8000;
inline constexpr std::uint64_t TLYActivityBackground = 0xFF;

class TLYActivity {
public:
    // Begins an activity for `reason`. The expiration handler belongs to a background task, which
    // Linux does not have: it is never called.
    static std::unique_ptr<TLYActivity> beginActivity(std::string reason, std::uint64_t options,
                                                      std::function<void()> expirationHandler);
    static std::unique_ptr<TLYActivity> beginActivity(std::string reason, std::uint64_t options);
    // Begins an activity, runs the block and ends the activity.
    static void performActivity(std::string reason, std::uint64_t options, const std::function<void()>& block);
    // The register's token for an activity of that reason (ends when dropped).
    static foundation::ActivityRegister::Activity beginActivityIfAvailable(std::string reason, std::uint64_t options);
    // No background tasks on Linux: 0, and the handler is dropped.
    static std::uint64_t beginBackgroundTaskWithName(const std::string& name, std::function<void()> expirationHandler);
    static bool supportsBackgroundTasks() { return false; }

    ~TLYActivity();
    TLYActivity(const TLYActivity&) = delete;
    TLYActivity& operator=(const TLYActivity&) = delete;

    // Ends the activity; later calls (from any thread) do nothing.
    void end();
    bool isActive() const;

    std::uint64_t options() const { return options_; }
    const std::string& reason() const { return reason_; }
    std::uint64_t backgroundTaskIdentifier() const { return backgroundTaskIdentifier_; }

private:
    TLYActivity(std::string reason, std::uint64_t options);

    const std::uint64_t options_;
    const std::string reason_;
    std::uint64_t backgroundTaskIdentifier_ = 0;
    mutable std::mutex mutex_;
    foundation::ActivityRegister::Activity processInfoToken_;
};

// An operation that holds an activity from its making until it runs: made with the activity begun,
// it ends the activity in main(), so the activity lasts until the operations it depends on are done.
class TLYActivityOperation final : public foundation::Operation {
public:
    static std::shared_ptr<TLYActivityOperation> operationByStartingActivityName(std::string name,
                                                                                 std::uint64_t options);
    void startActivityWithName(std::string name, std::uint64_t options);
    void main() override;
    const TLYActivity* activity() const { return activity_.get(); }

private:
    std::unique_ptr<TLYActivity> activity_;
};

} // namespace kits

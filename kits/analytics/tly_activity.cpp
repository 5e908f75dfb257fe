// Activities of the analytics kit, counted in the process's activity register.
#include "kits/analytics/tly_activity.h"

namespace kits {

TLYActivity::TLYActivity(std::string reason, std::uint64_t options) : options_(options), reason_(std::move(reason)) {}

std::unique_ptr<TLYActivity> TLYActivity::beginActivity(std::string reason, std::uint64_t options,
                                                        std::function<void()> expirationHandler)
{
    std::unique_ptr<TLYActivity> activity(new TLYActivity(std::move(reason), options));
    // The termination bits have nothing to switch on Linux; the register token stands for them.
    activity->processInfoToken_ = beginActivityIfAvailable(activity->reason_, options);
    if (options & (TLYActivitySuddenTerminationDisabled | TLYActivityAutomaticTerminationDisabled))
        activity->backgroundTaskIdentifier_ =
            beginBackgroundTaskWithName(activity->reason_, std::move(expirationHandler));
    return activity;
}

std::unique_ptr<TLYActivity> TLYActivity::beginActivity(std::string reason, std::uint64_t options)
{
    return beginActivity(std::move(reason), options, [] {});
}

void TLYActivity::performActivity(std::string reason, std::uint64_t options, const std::function<void()>& block)
{
    const auto activity = beginActivity(std::move(reason), options);
    if (block)
        block();
    activity->end();
}

foundation::ActivityRegister::Activity TLYActivity::beginActivityIfAvailable(std::string reason, std::uint64_t)
{
    return foundation::ActivityRegister::begin(std::move(reason));
}

std::uint64_t TLYActivity::beginBackgroundTaskWithName(const std::string&, std::function<void()>)
{
    return 0;
}

TLYActivity::~TLYActivity()
{
    end();
}

void TLYActivity::end()
{
    std::lock_guard lock(mutex_);
    processInfoToken_.end();
}

bool TLYActivity::isActive() const
{
    std::lock_guard lock(mutex_);
    return processInfoToken_.active();
}

std::shared_ptr<TLYActivityOperation> TLYActivityOperation::operationByStartingActivityName(std::string name,
                                                                                            std::uint64_t options)
{
    auto operation = std::make_shared<TLYActivityOperation>();
    operation->startActivityWithName(std::move(name), options);
    return operation;
}

void TLYActivityOperation::startActivityWithName(std::string name, std::uint64_t options)
{
    activity_ = TLYActivity::beginActivity(std::move(name), options);
}

void TLYActivityOperation::main()
{
    if (activity_)
        activity_->end();
}

} // namespace kits

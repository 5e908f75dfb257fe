// Synchronous notification delivery on the posting thread, with token-owned subscriptions. The
// registry is locked only to list and change subscriptions; handlers run unlocked, and each
// subscription counts the threads delivering to it so that ending it can wait for them.
#include "foundation/notification_center.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace foundation {

struct Subscription {
    std::uint64_t id;
    std::string name;
    const void* object;
    NotificationCenter::Handler handler;
    bool ended = false;
    std::vector<std::thread::id> delivering; // threads inside the handler now
};

struct ObserverToken::CenterState {
    std::mutex mutex;
    std::condition_variable deliveryEnded;
    std::vector<std::shared_ptr<Subscription>> subscriptions;
    std::uint64_t nextId = 1;

    void end(std::uint64_t id)
    {
        std::unique_lock lock(mutex);
        auto found = std::find_if(subscriptions.begin(), subscriptions.end(),
                                  [id](const auto& subscription) { return subscription->id == id; });
        if (found == subscriptions.end())
            return;
        std::shared_ptr<Subscription> subscription = *found;
        subscriptions.erase(found);
        subscription->ended = true;
        const auto self = std::this_thread::get_id();
        deliveryEnded.wait(lock, [&] {
            return std::all_of(subscription->delivering.begin(), subscription->delivering.end(),
                               [self](std::thread::id thread) { return thread == self; });
        });
    }
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept : state_(std::move(other.state_)), id_(other.id_)
{
    other.id_ = 0;
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        state_ = std::move(other.state_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

ObserverToken::~ObserverToken()
{
    reset();
}

void ObserverToken::reset()
{
    if (auto state = state_.lock(); state && id_ != 0)
        state->end(id_);
    state_.reset();
    id_ = 0;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<ObserverToken::CenterState>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: the kits' threads may still reach it while the process exits.
    static auto* center = new NotificationCenter();
    return *center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* object, Handler handler)
{
    std::lock_guard lock(state_->mutex);
    const std::uint64_t id = state_->nextId++;
    state_->subscriptions.push_back(
        std::make_shared<Subscription>(Subscription{id, std::move(name), object, std::move(handler), false, {}}));
    return ObserverToken(state_, id);
}

void NotificationCenter::post(const Notification& notification)
{
    auto state = state_; // keeps the registry alive should a handler destroy this centre's owner
    // Snapshot the matching subscriptions first: handlers may subscribe or unsubscribe while we deliver.
    std::vector<std::shared_ptr<Subscription>> targets;
    {
        std::lock_guard lock(state->mutex);
        for (const auto& subscription : state->subscriptions) {
            if (subscription->name == notification.name
                && (subscription->object == nullptr || subscription->object == notification.object))
                targets.push_back(subscription);
        }
    }
    const auto self = std::this_thread::get_id();
    for (const auto& subscription : targets) {
        {
            std::lock_guard lock(state->mutex);
            if (subscription->ended)
                continue;
            subscription->delivering.push_back(self);
        }
        struct DeliveryEnd {
            ObserverToken::CenterState& state;
            Subscription& subscription;
            std::thread::id self;
            ~DeliveryEnd()
            {
                {
                    std::lock_guard lock(state.mutex);
                    auto& threads = subscription.delivering;
                    threads.erase(std::find(threads.begin(), threads.end(), self));
                }
                state.deliveryEnded.notify_all();
            }
        } deliveryEnd{*state, *subscription, self};
        subscription->handler(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object, std::map<std::string, std::any> userInfo)
{
    post(Notification{std::move(name), object, std::move(userInfo)});
}

} // namespace foundation

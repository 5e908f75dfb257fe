// Synchronous notification delivery on the main thread, with token-owned subscriptions.
#include "foundation/notification_center.h"

#include <algorithm>

namespace foundation {

struct ObserverToken::CenterState {
    struct Entry {
        std::uint64_t id;
        std::string name;
        const void* object;
        std::shared_ptr<NotificationCenter::Handler> handler;
    };
    std::vector<Entry> entries;
    std::uint64_t nextId = 1;

    void remove(std::uint64_t id)
    {
        entries.erase(std::remove_if(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; }),
                      entries.end());
    }
    bool contains(std::uint64_t id) const
    {
        return std::any_of(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
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
    if (auto state = state_.lock(); state && id_ != 0) {
        state->remove(id_);
    }
    state_.reset();
    id_ = 0;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<ObserverToken::CenterState>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* object, Handler handler)
{
    const std::uint64_t id = state_->nextId++;
    state_->entries.push_back({id, std::move(name), object, std::make_shared<Handler>(std::move(handler))});
    return ObserverToken(state_, id);
}

void NotificationCenter::post(const Notification& notification)
{
    // Snapshot the matching observers first: handlers may subscribe or unsubscribe while we deliver.
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Handler>>> targets;
    for (const auto& entry : state_->entries) {
        if (entry.name == notification.name && (entry.object == nullptr || entry.object == notification.object)) {
            targets.emplace_back(entry.id, entry.handler);
        }
    }
    auto state = state_; // keeps the registry alive should a handler destroy this centre's owner
    for (const auto& [id, handler] : targets) {
        if (state->contains(id)) {
            (*handler)(notification);
        }
    }
}

void NotificationCenter::post(std::string name, const void* object, std::map<std::string, std::any> userInfo)
{
    post(Notification{std::move(name), object, std::move(userInfo)});
}

} // namespace foundation

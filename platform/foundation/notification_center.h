// Notifications by name: a poster hands a Notification to every observer of its name (and, when the
// observer asked for one, of its sender). Subscriptions are tokens that end when destroyed. Any thread
// may post, add and end subscriptions; observers run on the posting thread, outside the centre's lock.
#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace foundation {

struct Notification {
    std::string name;
    const void* object = nullptr; // the sender, or nullptr
    std::map<std::string, std::any> userInfo;

    // The userInfo value under `key` when it holds a T; nullptr otherwise.
    template <typename T>
    const T* info(const std::string& key) const
    {
        auto found = userInfo.find(key);
        return found == userInfo.end() ? nullptr : std::any_cast<T>(&found->second);
    }
};

class NotificationCenter;

// Ends its subscription when destroyed or reset; movable, not copyable. reset() returns only after
// deliveries to the subscription running on other threads have ended, so once it returns the handler
// never runs again; a handler may reset its own token.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ~ObserverToken();
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;

    void reset();
    bool active() const { return !state_.expired() && id_ != 0; }

private:
    friend class NotificationCenter;
    struct CenterState;
    ObserverToken(std::weak_ptr<CenterState> state, std::uint64_t id) : state_(std::move(state)), id_(id) {}
    std::weak_ptr<CenterState> state_;
    std::uint64_t id_ = 0;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // Observes `name`; with a non-null `object`, only notifications posted by that sender.
    [[nodiscard]] ObserverToken addObserver(std::string name, const void* object, Handler handler);

    // Delivers synchronously on the calling thread, in subscription order. Observers added while
    // posting do not see this notification; observers removed while posting are not called any more.
    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, std::map<std::string, std::any> userInfo = {});

private:
    std::shared_ptr<ObserverToken::CenterState> state_;
};

} // namespace foundation

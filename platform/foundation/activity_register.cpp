// The activity register: reasons by id behind one lock, with a condition for the quitting app.
#include "foundation/activity_register.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace foundation {

namespace {

struct Register {
    std::mutex mutex;
    std::condition_variable emptied;
    std::map<std::uint64_t, std::string> active;
    std::uint64_t nextId = 1;
};

Register& shared()
{
    static Register* instance = new Register; // activities may end during exit
    return *instance;
}

} // namespace

ActivityRegister::Activity& ActivityRegister::Activity::operator=(Activity&& other) noexcept
{
    if (this != &other) {
        end();
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void ActivityRegister::Activity::end()
{
    if (id_ == 0)
        return;
    auto& state = shared();
    {
        std::lock_guard lock(state.mutex);
        state.active.erase(id_);
    }
    state.emptied.notify_all();
    id_ = 0;
}

ActivityRegister::Activity ActivityRegister::begin(std::string reason)
{
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    const std::uint64_t id = state.nextId++;
    state.active.emplace(id, std::move(reason));
    return Activity(id);
}

std::size_t ActivityRegister::activeCount()
{
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    return state.active.size();
}

std::vector<std::string> ActivityRegister::activeReasons()
{
    auto& state = shared();
    std::lock_guard lock(state.mutex);
    std::vector<std::string> reasons;
    for (const auto& [id, reason] : state.active)
        reasons.push_back(reason);
    return reasons;
}

bool ActivityRegister::waitUntilIdle(std::chrono::milliseconds limit)
{
    auto& state = shared();
    std::unique_lock lock(state.mutex);
    return state.emptied.wait_for(lock, limit, [&] { return state.active.empty(); });
}

} // namespace foundation

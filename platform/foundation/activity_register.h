// The process's active activities (uploads, event writes) in place of the platform's termination
// control, which Linux lacks: kit work registers an activity while it must not be cut off, and the
// application waits for the register to empty when it quits. Any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

class ActivityRegister {
public:
    // Ends its activity when destroyed or ended; movable.
    class Activity {
    public:
        Activity() = default;
        Activity(Activity&& other) noexcept : id_(other.id_) { other.id_ = 0; }
        Activity& operator=(Activity&& other) noexcept;
        ~Activity() { end(); }
        void end();
        bool active() const { return id_ != 0; }

    private:
        friend class ActivityRegister;
        explicit Activity(std::uint64_t id) : id_(id) {}
        std::uint64_t id_ = 0;
    };

    [[nodiscard]] static Activity begin(std::string reason);
    static std::size_t activeCount();
    static std::vector<std::string> activeReasons();
    // Waits until no activity is active or `limit` passed; true when none is left.
    static bool waitUntilIdle(std::chrono::milliseconds limit);
};

} // namespace foundation

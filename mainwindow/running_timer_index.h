// The timers of a context that have no end, kept up to date from the context's change notices, so
// that the refresh tick and the all-timers actions look at the few running timers and never walk
// every timer of the store. The one walk happens at the first read, not when the index is made, so a
// window that starts does not pay for it before its first paint. Qt-free.
#pragma once

#include <unordered_set>
#include <vector>

namespace data {
class ObjectContext;
struct ChangeSet;
}
namespace model {
class Timer;
}

namespace mainwindow {

class RunningTimerIndex {
public:
    // Without a context the index stays empty.
    explicit RunningTimerIndex(const data::ObjectContext* context);

    // Brings the index in line with one announced pass: inserted timers (restored ones included)
    // join when they run, deleted ones leave, updated ones join or leave by their end. Before the
    // first scan there is nothing to bring in line: the scan sees the context as it is then.
    void apply(const data::ChangeSet& changes);
    // Scans the context again at the next read (after an undo or redo, which restores objects
    // wholesale).
    void rebuild();

    // The running timers by primary key, so every caller sees them in one stable order.
    std::vector<model::Timer*> runningTimers() const;
    std::size_t size() const;
    // Whether the context has been scanned since the index was made or last rebuilt.
    bool scanned() const { return scanned_; }

private:
    void scan() const;
    void consider(model::Timer& timer);

    const data::ObjectContext* context_;
    mutable bool scanned_ = false;
    mutable std::unordered_set<model::Timer*> running_;
};

} // namespace mainwindow

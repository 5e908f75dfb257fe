// The timers of a context that have no end, kept up to date from the context's change notices, so
// that the refresh tick and the all-timers actions look at the few running timers and never walk
// every timer of the store. Qt-free.
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
    // Scans the context once; without a context the index stays empty.
    explicit RunningTimerIndex(const data::ObjectContext* context);

    // Brings the index in line with one announced pass: inserted timers (restored ones included)
    // join when they run, deleted ones leave, updated ones join or leave by their end.
    void apply(const data::ChangeSet& changes);
    // Scans the context again (after an undo or redo, which restores objects wholesale).
    void rebuild();

    // The running timers by primary key, so every caller sees them in one stable order.
    std::vector<model::Timer*> runningTimers() const;
    std::size_t size() const { return running_.size(); }

private:
    void consider(model::Timer& timer);

    const data::ObjectContext* context_;
    std::unordered_set<model::Timer*> running_;
};

} // namespace mainwindow

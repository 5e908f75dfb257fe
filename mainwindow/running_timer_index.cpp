// Running timers from the change notices: a timer runs while it is live and has no end.
#include "mainwindow/running_timer_index.h"

#include "model/timer.h"

#include "data/change_set.h"
#include "data/object_context.h"

#include <algorithm>

namespace mainwindow {

RunningTimerIndex::RunningTimerIndex(const data::ObjectContext* context) : context_(context) {}

void RunningTimerIndex::rebuild()
{
    running_.clear();
    scanned_ = false;
}

void RunningTimerIndex::scan() const
{
    if (scanned_)
        return;
    scanned_ = true;
    if (!context_)
        return;
    for (model::Timer* timer : model::Timer::runningTimers(*context_))
        running_.insert(timer);
}

void RunningTimerIndex::consider(model::Timer& timer)
{
    if (!timer.isDeleted() && !timer.end())
        running_.insert(&timer);
    else
        running_.erase(&timer);
}

void RunningTimerIndex::apply(const data::ChangeSet& changes)
{
    if (!scanned_)
        return;
    for (const auto* list : {&changes.inserted, &changes.updated})
        for (data::Object* object : *list)
            if (auto* timer = dynamic_cast<model::Timer*>(object))
                consider(*timer);
    for (data::Object* object : changes.deleted)
        if (auto* timer = dynamic_cast<model::Timer*>(object))
            running_.erase(timer);
}

std::size_t RunningTimerIndex::size() const
{
    scan();
    return running_.size();
}

std::vector<model::Timer*> RunningTimerIndex::runningTimers() const
{
    scan();
    std::vector<model::Timer*> timers(running_.begin(), running_.end());
    std::sort(timers.begin(), timers.end(),
              [](const model::Timer* a, const model::Timer* b) { return a->primaryKey() < b->primaryKey(); });
    return timers;
}

} // namespace mainwindow

// Derived values and state changes of a timer, computed on every read from the stored values
// and the injectable clock.
#include "model/timer.h"

#include "foundation/diagnostics.h"
#include "model/client.h"
#include "model/dates.h"
#include "model/enums.h"
#include "model/fetch_helpers.h"
#include "model/pause_entry.h"
#include "model/project.h"

namespace model {
namespace {

foundation::Date nowRoundedToMinute()
{
    return roundedToMinute(foundation::now());
}

constexpr std::int64_t microsecondsPerMinute = 60'000'000;

} // namespace

foundation::Decimal Timer::hourlyRate() const
{
    if (auto rate = billedHourlyRate())
        return *rate;
    if (auto rate = customHourlyRate())
        return *rate;
    if (const Project* owner = project()) {
        if (auto rate = owner->customHourlyRate())
            return *rate;
        if (const Client* client = owner->client())
            if (auto rate = client->hourlyRate())
                return *rate;
    }
    return foundation::Decimal();
}

void Timer::setBilled(bool billed)
{
    setValue(billedKey, billed);
    // The rate is frozen at billing (an existing frozen rate stays) and released at unbilling.
    setBilledHourlyRate(billed ? std::optional<foundation::Decimal>(hourlyRate()) : std::nullopt);
}

bool Timer::isFixedDurationTimer() const
{
    const auto raw = type();
    return !raw || *raw == rawValue(TimerType::duration);
}

bool Timer::isExpenseTimer() const
{
    return type() == rawValue(TimerType::expense);
}

std::int64_t Timer::duration() const
{
    const auto raw = type();
    if (!raw || *raw == rawValue(TimerType::duration))
        return fixedDuration().value_or(0);
    if (*raw == rawValue(TimerType::expense))
        return 0;
    // Any other stored type counts as a period.
    const auto begin = start();
    if (!begin)
        return 0;
    const auto stored = end();
    const foundation::Date finish = stored ? *stored : nowRoundedToMinute();
    return (finish - *begin).count() / microsecondsPerMinute - pauseDuration();
}

std::optional<std::int64_t> Timer::settledDuration() const
{
    const auto stored = end();
    if (!stored)
        return std::nullopt;
    const auto raw = type();
    const bool period = raw && *raw != rawValue(TimerType::duration) && *raw != rawValue(TimerType::expense);
    // As activePauseEntry() and pauseDuration() have them, in one walk.
    const bool inContext = context() != nullptr;
    std::int64_t paused = 0;
    for (const data::Object* object : toMany(pauseEntriesKey)) {
        const auto* entry = static_cast<const PauseEntry*>(object);
        if (inContext && !entry->end())
            return std::nullopt;
        if (period)
            paused += entry->duration();
    }
    if (!period)
        return duration();
    const auto begin = start();
    if (!begin)
        return 0;
    return (*stored - *begin).count() / microsecondsPerMinute - paused;
}

std::int64_t Timer::pauseDuration() const
{
    std::int64_t total = 0;
    for (const data::Object* entry : toMany(pauseEntriesKey))
        total += static_cast<const PauseEntry*>(entry)->duration();
    return total;
}

PauseEntry* Timer::activePauseEntry() const
{
    if (!context())
        return nullptr;
    PauseEntry* open = nullptr;
    for (data::Object* object : toMany(pauseEntriesKey)) {
        auto* entry = static_cast<PauseEntry*>(object);
        if (!entry->end() && (!open || entry->primaryKey() < open->primaryKey()))
            open = entry;
    }
    return open;
}

foundation::Decimal Timer::costs() const
{
    return isExpenseTimer() ? costsOfDuration(0) : costsOfDuration(duration());
}

foundation::Decimal Timer::costsOfDuration(std::int64_t duration) const
{
    if (isExpenseTimer())
        return fixedCost().value_or(foundation::Decimal());
    // Through a double as the rate times the hours, then by the shortest text that reads back as
    // that double, so 90 minutes at 40 cost exactly 60.
    const double amount = hourlyRate().toDouble() * (static_cast<double>(duration) / 60.0);
    if (auto exact = foundation::Decimal::fromDouble(amount))
        return *exact;
    foundation::diagnostic("the cost of a timer is out of range and shows as 0");
    return foundation::Decimal();
}

std::string Timer::pauseEntriesLabelText() const
{
    const auto count = toMany(pauseEntriesKey).size();
    return std::to_string(count) + " " + (count == 1 ? "entry" : "entries");
}

void Timer::stop()
{
    if (end())
        return;
    const foundation::Date finish = nowRoundedToMinute();
    setEnd(finish);
    for (PauseEntry* entry : pauseEntries())
        if (!entry->end())
            entry->setEnd(finish);
}

PauseEntry* Timer::pause()
{
    if (!context() || activePauseEntry())
        return nullptr;
    auto* entry = initInContext<PauseEntry>(*context());
    entry->setTimer(this);
    entry->setStart(nowRoundedToMinute());
    return entry;
}

void Timer::resume()
{
    if (PauseEntry* entry = activePauseEntry())
        entry->setEnd(nowRoundedToMinute());
}

void Timer::togglePause()
{
    // A timer that has ended is left alone, billed or not: an open pause on it would keep
    // shrinking a billed amount.
    if (end())
        return;
    if (activePauseEntry())
        resume();
    else
        pause();
}

void Timer::resumeFromStopped()
{
    const auto oldEnd = end();
    if (!context() || !oldEnd)
        return;
    auto* gap = initInContext<PauseEntry>(*context());
    gap->setTimer(this);
    gap->setStart(*oldEnd);
    gap->setEnd(nowRoundedToMinute());
    setEnd(std::nullopt);
    setBilled(false);
}

std::optional<ModelError> Timer::validateStart(std::optional<foundation::Date> proposed) const
{
    const auto raw = type();
    const auto finish = end();
    if (!proposed || !raw || *raw != rawValue(TimerType::period) || !finish)
        return std::nullopt;
    if (*proposed > *finish)
        return ModelError{1, "Start date must be earlier than end date"};
    return std::nullopt;
}

std::optional<ModelError> Timer::validateEnd(std::optional<foundation::Date> proposed) const
{
    const auto raw = type();
    const auto begin = start();
    if (!proposed || !raw || *raw != rawValue(TimerType::period) || !begin)
        return std::nullopt;
    if (*proposed < *begin)
        return ModelError{1, "End date must be later than start date"};
    if (*proposed > foundation::now())
        return ModelError{1, "End date must not lie in the future"};
    return std::nullopt;
}

std::vector<Timer*> Timer::runningTimers(const data::ObjectContext& context)
{
    std::vector<Timer*> result;
    for (data::Object* object : context.objects(*context.model().entity(entityName))) {
        auto* timer = static_cast<Timer*>(object);
        if (!timer->end())
            result.push_back(timer);
    }
    return result;
}

std::vector<Timer*> Timer::pausedTimers(const data::ObjectContext& context)
{
    std::vector<Timer*> result;
    for (Timer* timer : runningTimers(context))
        if (!timer->billed() && !timer->end() && timer->activePauseEntry())
            result.push_back(timer);
    return result;
}

const KeyDependencies& Timer::keyDependencies()
{
    static const KeyDependencies table{
        {"duration", {"start", "end", "pauseDuration", "fixedDuration", "type"}},
        {"pauseDuration", {"pauseEntries"}},
        {"paused", {"pauseEntries"}},
        {"costs", {"duration", "hourlyRate", "fixedCost"}},
        {"hourlyRate", {"billedHourlyRate", "customHourlyRate", "project", "project.hourlyRate"}},
        {"pauseEntriesLabelText", {"pauseEntries"}},
    };
    return table;
}

} // namespace model

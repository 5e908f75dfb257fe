// Totals, rate and currency chains, timer creation, archiving and filtering of a project; what a
// client's new currency would relabel among its projects.
#include "model/project.h"

#include "model/client.h"
#include "model/data_model.h"
#include "model/dates.h"
#include "model/enums.h"

#include "foundation/diagnostics.h"
#include "foundation/locale.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace model {

std::int64_t Project::duration() const
{
    std::int64_t total = 0;
    for (const data::Object* timer : toMany(timersKey))
        total += static_cast<const Timer*>(timer)->duration();
    return total;
}

foundation::Decimal Project::costs() const
{
    // Rates bounded at entry keep this sum exact (model/money_bounds.h). Only amounts that never
    // passed an entry check, as in a hand-edited store, can overflow: said once, never thrown.
    foundation::Decimal total;
    for (const data::Object* timer : toMany(timersKey)) {
        auto sum = total.adding(static_cast<const Timer*>(timer)->costs());
        if (!sum) {
            static bool reported = false;
            if (!std::exchange(reported, true))
                foundation::diagnostic("the costs of project \"" + name().value_or("")
                                       + "\" are out of range and show as 0");
            return foundation::Decimal();
        }
        total = *sum;
    }
    return total;
}

foundation::Decimal Project::hourlyRate() const
{
    if (auto rate = customHourlyRate())
        return *rate;
    if (const Client* owner = client())
        if (auto rate = owner->hourlyRate())
            return *rate;
    return foundation::Decimal();
}

std::string Project::currency() const
{
    return currencyOf(customCurrency(), client());
}

std::size_t Project::billedTimersRelabelledBy(const std::string& newCurrency) const
{
    if (newCurrency == currency())
        return 0;
    const std::vector<Timer*> all = timers();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [](const Timer* timer) { return timer->billed() && !timer->isDeleted(); }));
}

std::size_t Client::billedTimersRelabelledBy(const std::optional<std::string>& newCurrency) const
{
    // A project without a currency of its own would show the new one, or the locale's when it is none:
    // what the chain gives a project whose own currency is the client's new one.
    const std::string shown = Project::currencyOf(newCurrency, nullptr);
    std::size_t billed = 0;
    for (const Project* project : projects())
        if (!project->isDeleted() && !project->customCurrency())
            billed += project->billedTimersRelabelledBy(shown);
    return billed;
}

std::string Project::currencyOf(const std::optional<std::string>& ownCurrency, const Client* owner)
{
    if (ownCurrency)
        return *ownCurrency;
    if (owner)
        if (auto theirs = owner->currency())
            return *theirs;
    const auto locale = foundation::Locale::current(foundation::LocaleCategory::monetary);
    if (auto symbol = locale.currencySymbol())
        return *symbol;
    if (auto code = locale.currencyCode())
        return *code;
    return "$";
}

std::vector<Timer*> Project::runningTimers() const
{
    std::vector<Timer*> result;
    if (!context())
        return result;
    for (data::Object* object : toMany(timersKey)) {
        auto* timer = static_cast<Timer*>(object);
        if (!timer->end())
            result.push_back(timer);
    }
    return result;
}

Timer* Project::startNewTimer()
{
    if (!context())
        return nullptr;
    auto* timer = initInContext<Timer>(*context());
    timer->setProject(this);
    timer->setStart(roundedToMinute(foundation::now()));
    return timer;
}

Timer* Project::addFixedDurationTimer()
{
    return addClosedTimer(TimerType::duration);
}

Timer* Project::addExpenseTimer()
{
    return addClosedTimer(TimerType::expense);
}

// Fixed-duration and expense timers never run: they end where they start.
Timer* Project::addClosedTimer(TimerType type)
{
    Timer* timer = startNewTimer();
    if (timer) {
        timer->setEnd(timer->start());
        timer->setType(rawValue(type));
    }
    return timer;
}

void Project::toggleArchived()
{
    setArchived(!archived());
    if (archived())
        for (Timer* timer : runningTimers())
            timer->stop();
}

bool Project::passes(const Timer& timer, const Filter& filter)
{
    if (filter.fromDate || filter.toDate) {
        const auto start = timer.start();
        if (!start || (filter.fromDate && *start < *filter.fromDate) || (filter.toDate && *start > *filter.toDate))
            return false;
    }
    if (!filter.includeBilledTimers && timer.billed())
        return false;
    if (filter.searchTerm && !filter.searchTerm->empty()) {
        const auto notes = timer.typedValue<std::string_view>(Timer::notesKey);
        if (!notes || !foundation::containsCaseInsensitive(*notes, *filter.searchTerm))
            return false;
    }
    return true;
}

std::vector<Timer*> Project::timers(const Filter& filter) const
{
    std::vector<Timer*> result;
    for (data::Object* object : toMany(timersKey)) {
        auto* timer = static_cast<Timer*>(object);
        if (passes(*timer, filter))
            result.push_back(timer);
    }
    if (filter.sortDescriptors && !filter.sortDescriptors->empty()) {
        const auto& timerEntity = *managedObjectModel().entity(Timer::entityName);
        std::vector<std::pair<int, bool>> keys;
        for (const auto& descriptor : *filter.sortDescriptors) {
            const int index = timerEntity.attributeIndex(descriptor.key);
            if (index < 0)
                throw std::invalid_argument("timers cannot be sorted by " + descriptor.key);
            keys.emplace_back(index, descriptor.ascending);
        }
        std::vector<data::Object*> objects(result.begin(), result.end());
        data::sortByAttributes(objects, keys);
        for (std::size_t i = 0; i < objects.size(); ++i)
            result[i] = static_cast<Timer*>(objects[i]);
    }
    return result;
}

std::int64_t Project::duration(const Filter& filter) const
{
    std::int64_t total = 0;
    for (const Timer* timer : timers(filter))
        total += timer->duration();
    return total;
}

const KeyDependencies& Project::keyDependencies()
{
    static const KeyDependencies table{
        {"duration", {"timers"}},
        {"costs", {"duration", "timers", "hourlyRate"}},
        {"hourlyRate", {"customHourlyRate", "client", "client.hourlyRate"}},
        {"currency", {"customCurrency", "client", "client.currency"}},
    };
    return table;
}

} // namespace model

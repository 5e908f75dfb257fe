// A record of work or expense on a project: a period with pauses, a typed-in duration, or an
// expense. Stored values here; derived values and state changes build on them.
#pragma once

#include "model/managed_object.h"
#include "model/model_error.h"

#include "foundation/clock.h"
#include "foundation/decimal.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace model {

class Project;
class PauseEntry;

// Which stored or derived keys a derived key depends on, so views know what to re-read.
using KeyDependencies = std::map<std::string, std::vector<std::string>>;

class Timer : public ManagedObject {
public:
    static constexpr const char* entityName = "Timer";
    enum Attribute {
        startKey,
        endKey,
        notesKey,
        typeKey,
        fixedDurationKey,
        fixedCostKey,
        customHourlyRateKey,
        billedKey,
        billedHourlyRateKey
    };
    enum Relationship { projectKey, pauseEntriesKey };

    std::optional<foundation::Date> start() const { return optionalValue<foundation::Date>(startKey); }
    void setStart(std::optional<foundation::Date> date) { setOptionalValue(startKey, date); }
    std::optional<foundation::Date> end() const { return optionalValue<foundation::Date>(endKey); }
    void setEnd(std::optional<foundation::Date> date) { setOptionalValue(endKey, date); }
    std::optional<std::string> notes() const { return optionalValue<std::string>(notesKey); }
    void setNotes(std::optional<std::string> text) { setOptionalValue(notesKey, text); }
    // Raw value of the timer type (0 period, 1 duration, 2 expense), absent allowed.
    std::optional<std::int64_t> type() const { return optionalValue<std::int64_t>(typeKey); }
    void setType(std::optional<std::int64_t> raw) { setOptionalValue(typeKey, raw); }
    std::optional<std::int64_t> fixedDuration() const { return optionalValue<std::int64_t>(fixedDurationKey); }
    void setFixedDuration(std::optional<std::int64_t> minutes) { setOptionalValue(fixedDurationKey, minutes); }
    std::optional<foundation::Decimal> fixedCost() const { return optionalValue<foundation::Decimal>(fixedCostKey); }
    void setFixedCost(std::optional<foundation::Decimal> cost) { setOptionalValue(fixedCostKey, cost); }
    std::optional<foundation::Decimal> customHourlyRate() const
    {
        return optionalValue<foundation::Decimal>(customHourlyRateKey);
    }
    void setCustomHourlyRate(std::optional<foundation::Decimal> rate) { setOptionalValue(customHourlyRateKey, rate); }
    bool billed() const { return boolValue(billedKey); }
    std::optional<foundation::Decimal> billedHourlyRate() const
    {
        return optionalValue<foundation::Decimal>(billedHourlyRateKey);
    }
    void setBilledHourlyRate(std::optional<foundation::Decimal> rate) { setOptionalValue(billedHourlyRateKey, rate); }

    Project* project() const;
    void setProject(Project* project);
    std::vector<PauseEntry*> pauseEntries() const;

    // Marks the timer billed or not: billing freezes the hourly rate in force, unbilling releases it.
    void setBilled(bool billed);

    // The first that exists of: the billed rate, the timer's own rate, the project's own rate, the
    // project's client's rate; else 0.
    foundation::Decimal hourlyRate() const;

    // A timer without a type counts as a fixed-duration timer (for its duration and the menus).
    bool isFixedDurationTimer() const;
    bool isExpenseTimer() const;
    // Whole minutes: the fixed duration; 0 for an expense; for a period the minutes from start to
    // end (or to now rounded down to the minute while running), truncated, less the pauses.
    std::int64_t duration() const;
    // duration() of a timer whose minutes no longer grow (it has an end and no pause left open in
    // its context), in one walk over its pauses; nothing while they still grow with the clock.
    std::optional<std::int64_t> settledDuration() const;
    std::int64_t pauseDuration() const;
    bool running() const { return !end().has_value(); }
    bool paused() const { return activePauseEntry() != nullptr; }
    // The pause without an end, or nullptr (also for a timer outside any context).
    PauseEntry* activePauseEntry() const;
    // An expense costs its fixed cost (0 when none); everything else hourlyRate x duration / 60.
    foundation::Decimal costs() const;
    // The same for a duration() already at hand (exports walk the pauses once, not twice).
    foundation::Decimal costsOfDuration(std::int64_t duration) const;
    // "0 entries", "1 entry", "2 entries".
    std::string pauseEntriesLabelText() const;

    // State changes; each sets times to now rounded down to the minute and does nothing when its
    // condition is not met.
    void stop();
    PauseEntry* pause();
    void resume();
    void togglePause();
    void resumeFromStopped();

    // Edit-time checks of the date editors (never save-time rules): nothing when acceptable. A period
    // timer's end lies after its start and not in the future.
    std::optional<ModelError> validateStart(std::optional<foundation::Date> proposed) const;
    std::optional<ModelError> validateEnd(std::optional<foundation::Date> proposed) const;

    static std::vector<Timer*> runningTimers(const data::ObjectContext& context);
    // Running timers that are not billed and have an open pause.
    static std::vector<Timer*> pausedTimers(const data::ObjectContext& context);

    static const KeyDependencies& keyDependencies();
};

} // namespace model

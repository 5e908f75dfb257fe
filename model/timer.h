// A record of work or expense on a project: a period with pauses, a typed-in duration, or an
// expense. Stored values here; derived values and state changes build on them.
#pragma once

#include "model/managed_object.h"

#include "foundation/clock.h"
#include "foundation/decimal.h"

#include <optional>
#include <string>

namespace model {

class Project;
class PauseEntry;

class Timer : public ManagedObject {
public:
    static constexpr const char* entityName = "Timer";
    enum Attribute { startKey, endKey, notesKey, typeKey, fixedDurationKey, fixedCostKey, customHourlyRateKey,
                     billedKey, billedHourlyRateKey };
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
};

} // namespace model

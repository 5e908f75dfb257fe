// One pause of a period timer: a start, an end that stays empty while the pause runs, its timer.
#pragma once

#include "model/managed_object.h"
#include "model/model_error.h"

#include "foundation/clock.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace model {

class Timer;

class PauseEntry : public ManagedObject {
public:
    static constexpr const char* entityName = "PauseEntry";
    enum Attribute { startKey, endKey };
    enum Relationship { timerKey };

    std::optional<foundation::Date> start() const { return optionalValue<foundation::Date>(startKey); }
    void setStart(std::optional<foundation::Date> date) { setOptionalValue(startKey, date); }
    std::optional<foundation::Date> end() const { return optionalValue<foundation::Date>(endKey); }
    void setEnd(std::optional<foundation::Date> date) { setOptionalValue(endKey, date); }

    Timer* timer() const;
    void setTimer(Timer* timer);

    // Whole minutes from start to end (to now rounded down to the minute while the pause runs),
    // truncated toward zero; 0 without a start.
    std::int64_t duration() const;
    // The pause's range as a short date-interval text of the current locale; "" without a start.
    std::string formattedDuration() const;
    // The timer's other closed pauses that hold this entry's start or end (bounds inclusive).
    std::vector<PauseEntry*> overlappingOtherPauseEntries() const;
    // Whether the pause lies within its timer's start and end (missing dates pass); a running timer
    // ends now, so a pause of it that starts or ends later is out of range too.
    bool inTimerRange() const;
    // Edit-time checks of the pause editor: a pause of a running timer cannot start or end after now.
    // Nothing when acceptable; other conflicts are reported, not refused.
    std::optional<ModelError> validateStart(std::optional<foundation::Date> proposed) const;
    std::optional<ModelError> validateEnd(std::optional<foundation::Date> proposed) const;

    static const std::map<std::string, std::vector<std::string>>& keyDependencies();
};

} // namespace model

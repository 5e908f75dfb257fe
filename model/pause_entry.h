// One pause of a period timer: a start, an end that stays empty while the pause runs, its timer.
#pragma once

#include "model/managed_object.h"

#include "foundation/clock.h"

#include <optional>

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
};

} // namespace model

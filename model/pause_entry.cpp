// Derived values of a pause: its length, its text, its collisions with the timer's other pauses.
#include "model/pause_entry.h"

#include "model/dates.h"
#include "model/timer.h"

#include "foundation/locale.h"

namespace model {
namespace {

foundation::Date referenceEnd(const PauseEntry& entry)
{
    // Not value_or: the clock and calendar are asked only while the pause runs.
    const auto stored = entry.end();
    return stored ? *stored : roundedToMinute(foundation::now());
}

bool within(foundation::Date value, foundation::Date from, foundation::Date to)
{
    return from <= value && value <= to;
}

} // namespace

std::int64_t PauseEntry::duration() const
{
    const auto begin = start();
    if (!begin)
        return 0;
    return (referenceEnd(*this) - *begin).count() / 60'000'000;
}

std::string PauseEntry::formattedDuration() const
{
    const auto begin = start();
    if (!begin)
        return "";
    const auto locale = foundation::Locale::current(foundation::LocaleCategory::time);
    return locale.shortDateIntervalText(*begin, referenceEnd(*this), foundation::Calendar::current()).value_or("");
}

std::vector<PauseEntry*> PauseEntry::overlappingOtherPauseEntries() const
{
    std::vector<PauseEntry*> result;
    const Timer* owner = timer();
    if (!owner)
        return result;
    const auto ownStart = start(), ownEnd = end();
    for (PauseEntry* other : owner->pauseEntries()) {
        if (other == this || other->isDeleted())
            continue;
        const auto otherStart = other->start(), otherEnd = other->end();
        if (!otherStart || !otherEnd)
            continue; // a running pause is never reported
        if ((ownStart && within(*ownStart, *otherStart, *otherEnd))
            || (ownEnd && within(*ownEnd, *otherStart, *otherEnd)))
            result.push_back(other);
    }
    return result;
}

bool PauseEntry::inTimerRange() const
{
    const Timer* owner = timer();
    if (!owner)
        return true;
    const auto ownStart = start(), ownEnd = end(), timerStart = owner->start(), timerEnd = owner->end();
    if (timerStart && ownStart && *ownStart < *timerStart)
        return false;
    if (timerEnd && ownEnd && *ownEnd > *timerEnd)
        return false;
    if (!timerEnd && (ownStart || ownEnd)) {
        const foundation::Date now = foundation::now();
        if ((ownStart && *ownStart > now) || (ownEnd && *ownEnd > now))
            return false;
    }
    return true;
}

namespace {

// A running timer has no end yet: its pauses cannot reach past now.
std::optional<ModelError> afterNowWhileRunning(const PauseEntry& entry, std::optional<foundation::Date> proposed,
                                               const char* message)
{
    const Timer* owner = entry.timer();
    if (!proposed || !owner || owner->end() || *proposed <= foundation::now())
        return std::nullopt;
    return ModelError{1, message};
}

} // namespace

std::optional<ModelError> PauseEntry::validateStart(std::optional<foundation::Date> proposed) const
{
    return afterNowWhileRunning(*this, proposed, "A pause of a running timer cannot start after now");
}

std::optional<ModelError> PauseEntry::validateEnd(std::optional<foundation::Date> proposed) const
{
    return afterNowWhileRunning(*this, proposed, "A pause of a running timer cannot end after now");
}

const std::map<std::string, std::vector<std::string>>& PauseEntry::keyDependencies()
{
    static const std::map<std::string, std::vector<std::string>> table{
        {"formattedDuration", {"duration"}},
        {"duration", {"start", "end"}},
    };
    return table;
}

} // namespace model

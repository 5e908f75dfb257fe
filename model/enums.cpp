// Raw values of the shared enumerations, each kept in one table that serves both directions.
#include "model/enums.h"

#include <array>
#include <utility>

namespace model {
namespace {

template <typename Enum, typename Raw, size_t N>
using Table = std::array<std::pair<Enum, Raw>, N>;

template <typename Enum, typename Raw, size_t N>
Raw rawOf(const Table<Enum, Raw, N>& table, Enum value)
{
    for (const auto& [candidate, raw] : table)
        if (candidate == value)
            return raw;
    return table.front().second; // unreachable: every case has a row
}

template <typename Enum, typename Raw, size_t N, typename Key>
std::optional<Enum> caseOf(const Table<Enum, Raw, N>& table, const Key& raw)
{
    for (const auto& [candidate, candidateRaw] : table)
        if (candidateRaw == raw)
            return candidate;
    return std::nullopt;
}

constexpr Table<TimerType, std::int64_t, 3> kTimerTypes{{
    {TimerType::period, 0},
    {TimerType::duration, 1},
    {TimerType::expense, 2},
}};

constexpr Table<DateFilterRange, std::int64_t, 6> kDateFilterRanges{{
    {DateFilterRange::all, 0},
    {DateFilterRange::day, 1},
    {DateFilterRange::week, 2},
    {DateFilterRange::month, 3},
    {DateFilterRange::year, 4},
    {DateFilterRange::custom, 5},
}};

constexpr Table<TallyParameterKey, std::string_view, 6> kTallyParameterKeys{{
    {TallyParameterKey::format, "format"},
    {TallyParameterKey::timerType, "timer type"},
    {TallyParameterKey::hourlyRateType, "hourly rate type"},
    {TallyParameterKey::direction, "direction"},
    {TallyParameterKey::navigationContext, "navigationContext"},
    {TallyParameterKey::value, "value"},
}};

constexpr Table<TallyNavigationContext, std::string_view, 4> kTallyNavigationContexts{{
    {TallyNavigationContext::inspector, "inspector"},
    {TallyNavigationContext::projectList, "projectList"},
    {TallyNavigationContext::contextMenu, "contextMenu"},
    {TallyNavigationContext::miniWindow, "miniWindow"},
}};

constexpr Table<UserDefaultsKeys, std::string_view, 8> kUserDefaultsKeys{{
    {UserDefaultsKeys::didShowMiniWindowHint, "didShowMiniWindowHint"},
    {UserDefaultsKeys::dateFilterRange, "dateFilterRange"},
    {UserDefaultsKeys::showsBilledTimers, "showsBilledTimers"},
    {UserDefaultsKeys::exportFields, "exportFields"},
    {UserDefaultsKeys::showsMenuIcon, "showsMenuIcon"},
    {UserDefaultsKeys::defaultTimerType, "defaultTimerType"},
    {UserDefaultsKeys::defaultProjectHourlyRate, "defaultProjectHourlyRate"},
    {UserDefaultsKeys::defaultProjectHourlyRateCurrency, "defaultProjectHourlyRateCurrency"},
}};

} // namespace

// clang-format off
std::int64_t rawValue(TimerType type) { return rawOf(kTimerTypes, type); }
std::optional<TimerType> timerTypeFromRawValue(std::int64_t raw) { return caseOf(kTimerTypes, raw); }

std::int64_t rawValue(DateFilterRange range) { return rawOf(kDateFilterRanges, range); }
std::optional<DateFilterRange> dateFilterRangeFromRawValue(std::int64_t raw) { return caseOf(kDateFilterRanges, raw); }

std::string_view rawValue(TallyParameterKey key) { return rawOf(kTallyParameterKeys, key); }
std::optional<TallyParameterKey> tallyParameterKeyFromRawValue(std::string_view raw)
{
    return caseOf(kTallyParameterKeys, raw);
}

std::string_view rawValue(TallyNavigationContext context) { return rawOf(kTallyNavigationContexts, context); }
std::optional<TallyNavigationContext> tallyNavigationContextFromRawValue(std::string_view raw)
{
    return caseOf(kTallyNavigationContexts, raw);
}

std::string_view rawValue(UserDefaultsKeys key) { return rawOf(kUserDefaultsKeys, key); }
// clang-format on
std::optional<UserDefaultsKeys> userDefaultsKeysFromRawValue(std::string_view raw)
{
    return caseOf(kUserDefaultsKeys, raw);
}

} // namespace model

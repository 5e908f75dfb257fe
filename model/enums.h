// The closed vocabularies shared across the model and the interface: timer types, timer states, date
// filter ranges, hourly-rate sources, usage-event keys, named colours and preference keys.
// Raw values are the persisted or transmitted form; a raw value that names no case gives nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace model {

enum class TimerType { period, duration, expense };
std::int64_t rawValue(TimerType type);
std::optional<TimerType> timerTypeFromRawValue(std::int64_t raw);

// The display state of a timer in the projects outline.
enum class TimerStatus { running, paused, closed, billed };

enum class DateFilterRange { all, day, week, month, year, custom };
std::int64_t rawValue(DateFilterRange range);
std::optional<DateFilterRange> dateFilterRangeFromRawValue(std::int64_t raw);

// Where a project's hourly rate comes from, as the project inspector shows it.
enum class HourlyRateType { unknown, client, custom };

// Attribute keys and navigation contexts of usage events. The usage-event facade (Tally) lives in
// the application layer, which may include the model but not the reverse, so its two vocabularies
// live here as flat enums named after it.
enum class TallyParameterKey { format, timerType, hourlyRateType, direction, navigationContext, value };
std::string_view rawValue(TallyParameterKey key);
std::optional<TallyParameterKey> tallyParameterKeyFromRawValue(std::string_view raw);

enum class TallyNavigationContext { inspector, projectList, contextMenu, miniWindow };
std::string_view rawValue(TallyNavigationContext context);
std::optional<TallyNavigationContext> tallyNavigationContextFromRawValue(std::string_view raw);

// Named colours of the interface; the UI layer maps them to actual colours.
enum class Colors {
    primary,
    projectListSelection,
    projectBackground,
    closedTimerBackground,
    runningTimerBackground,
    pausedTimerBackground,
    warning,
    light,
    timerSeparator,
    miniWindowTopBarBackgorund,
};

// Keys of the user defaults; each raw value is the case name.
enum class UserDefaultsKeys {
    didShowMiniWindowHint,
    dateFilterRange,
    showsBilledTimers,
    exportFields,
    showsMenuIcon,
    defaultTimerType,
    defaultProjectHourlyRate,
    defaultProjectHourlyRateCurrency,
};
std::string_view rawValue(UserDefaultsKeys key);
std::optional<UserDefaultsKeys> userDefaultsKeysFromRawValue(std::string_view raw);

} // namespace model

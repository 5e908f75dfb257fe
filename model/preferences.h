// Typed access to the user's settings in the defaults store, the built-in values registered at
// launch, and the one store the whole program shares. Main thread only, like the store itself.
#pragma once

#include "model/enums.h"

#include "foundation/decimal.h"
#include "foundation/defaults_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace model {

class Preferences {
public:
    explicit Preferences(foundation::DefaultsStore& store) : store_(store) {}

    // The program's preferences, backed by DefaultsStore::defaultPath() and loaded on first use.
    static Preferences& standard();
    // Makes standard() use `store` (borrowed, must outlive its use); nullptr goes back to the real one.
    static void setStandardForTesting(foundation::DefaultsStore* store);

    // Why the settings file could not be used at load; nothing when it loaded or did not exist.
    const std::optional<std::string>& loadProblem() const { return store_.loadProblem(); }
    // The one defaults store of the program, for settings that have no accessor here.
    foundation::DefaultsStore& store() const { return store_; }

    // Settles the default currency for good (a stored string is kept; otherwise the current
    // locale's currency is stored) and registers the built-in values of the other settings.
    // Stored values of the wrong kind or out of range are reported once (loadProblem()); reads
    // use the built-in values in their place.
    // Call once at launch, before anything reads the settings. Fails when the settled currency
    // could not be written to disk; it is still used for this run.
    foundation::Status registerDefaults();

    // The export fields chosen until the user picks others, in order.
    static std::vector<std::string> defaultExportFields();

    // Each read looks at the store at once (stored, else registered value); each write stores the
    // value and fails when it could not be written to disk (the change is kept in memory).

    bool didShowMiniWindowHint() const;
    foundation::Status setDidShowMiniWindowHint(bool shown);
    // Raw value of a DateFilterRange.
    std::int64_t dateFilterRange() const;
    foundation::Status setDateFilterRange(std::int64_t range);
    bool showsBilledTimers() const;
    foundation::Status setShowsBilledTimers(bool shows);
    // Raw export field names; empty when the value is not an array of strings.
    std::vector<std::string> exportFields() const;
    foundation::Status setExportFields(const std::vector<std::string>& fields);
    bool showsMenuIcon() const;
    foundation::Status setShowsMenuIcon(bool shows);
    // Raw value of the TimerType of a timer started from a project's row.
    std::int64_t defaultTimerType() const;
    foundation::Status setDefaultTimerType(std::int64_t type);
    // 0 when the value is not a number or not an acceptable rate (model/money_bounds.h); a rate
    // outside those bounds is refused with an error and not stored.
    foundation::Decimal defaultProjectHourlyRate() const;
    foundation::Status setDefaultProjectHourlyRate(const foundation::Decimal& rate);
    // "$" when the value is not a string.
    std::string defaultProjectHourlyRateCurrency() const;
    foundation::Status setDefaultProjectHourlyRateCurrency(const std::string& currency);

private:
    std::optional<foundation::DefaultsValue> usableValue(UserDefaultsKeys key) const;
    bool boolValue(UserDefaultsKeys key) const;
    std::int64_t integerValue(UserDefaultsKeys key) const;

    foundation::DefaultsStore& store_;
};

} // namespace model

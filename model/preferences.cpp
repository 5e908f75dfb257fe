// Reads and writes of the settings keys, the launch-time registration of built-in values, and the
// shared instance over the user's defaults file.
#include "model/preferences.h"

#include "model/enums.h"
#include "model/money_bounds.h"

#include "foundation/locale.h"

#include <charconv>
#include <memory>

namespace model {

using foundation::DefaultsArray;
using foundation::DefaultsValue;

namespace {

std::string keyOf(UserDefaultsKeys key)
{
    return std::string(rawValue(key));
}

const char* const crashOnExceptionsKey = "NSApplicationCrashOnExceptions";
const char* const fallbackCurrency = "$";

foundation::DefaultsStore* testingStore = nullptr;
std::unique_ptr<foundation::DefaultsStore> standardStore;
std::unique_ptr<Preferences> standardPreferences;
std::unique_ptr<Preferences> testingPreferences;

// The locale's currency symbol, else its code, else the dollar sign.
std::string localeCurrency()
{
    const auto locale = foundation::Locale::current(foundation::LocaleCategory::monetary);
    if (auto symbol = locale.currencySymbol())
        return *symbol;
    if (auto code = locale.currencyCode())
        return *code;
    return fallbackCurrency;
}

// Integral rates are written as JSON integers ("80", not "80.0"); others as doubles.
DefaultsValue numberForRate(const foundation::Decimal& rate)
{
    const std::string text = rate.toString();
    std::int64_t integer = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), integer);
    if (error == std::errc() && end == text.data() + text.size())
        return DefaultsValue(integer);
    return DefaultsValue(rate.toDouble());
}

} // namespace

Preferences& Preferences::standard()
{
    if (testingStore) {
        if (!testingPreferences || &testingPreferences->store_ != testingStore)
            testingPreferences = std::make_unique<Preferences>(*testingStore);
        return *testingPreferences;
    }
    if (!standardPreferences) {
        standardStore = std::make_unique<foundation::DefaultsStore>(foundation::DefaultsStore::defaultPath());
        standardPreferences = std::make_unique<Preferences>(*standardStore);
    }
    return *standardPreferences;
}

void Preferences::setStandardForTesting(foundation::DefaultsStore* store)
{
    testingStore = store;
    testingPreferences.reset();
}

std::vector<std::string> Preferences::defaultExportFields()
{
    return {"project_duration", "project_client_name", "project_hourly_rate", "project_notes",
            "timer_start_end",  "timer_duration",      "timer_cost",          "timer_notes"};
}

Preferences::WriteResult Preferences::registerDefaults()
{
    // The currency is settled once and stored, so a later change of the system locale does not
    // silently relabel the user's amounts.
    std::string currency;
    WriteResult writeError;
    const auto stored = store_.object(keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency));
    if (stored && stored->holds<std::string>()) {
        currency = *stored->get<std::string>();
    } else {
        currency = localeCurrency();
        writeError = setDefaultProjectHourlyRateCurrency(currency);
    }

    DefaultsArray exportFields;
    for (const auto& field : defaultExportFields())
        exportFields.emplace_back(field);
    store_.registerDefaults({
        {crashOnExceptionsKey, true},
        {keyOf(UserDefaultsKeys::showsBilledTimers), true},
        {keyOf(UserDefaultsKeys::exportFields), std::move(exportFields)},
        {keyOf(UserDefaultsKeys::showsMenuIcon), true},
        {keyOf(UserDefaultsKeys::defaultTimerType), 0},
        {keyOf(UserDefaultsKeys::defaultProjectHourlyRate), 0},
        {keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency), currency},
    });
    return writeError;
}

// Every read takes the current value (stored, else registered) when it has the expected kind and
// the fall-back otherwise: a stored value of another kind hides the registered one.

bool Preferences::boolValue(UserDefaultsKeys key) const
{
    const auto value = store_.object(keyOf(key));
    return value && value->holds<bool>() && *value->get<bool>();
}

std::int64_t Preferences::integerValue(UserDefaultsKeys key) const
{
    const auto value = store_.object(keyOf(key));
    return value && value->holds<std::int64_t>() ? *value->get<std::int64_t>() : 0;
}

bool Preferences::didShowMiniWindowHint() const
{
    return boolValue(UserDefaultsKeys::didShowMiniWindowHint);
}

Preferences::WriteResult Preferences::setDidShowMiniWindowHint(bool shown)
{
    return store_.set(keyOf(UserDefaultsKeys::didShowMiniWindowHint), shown);
}

std::int64_t Preferences::dateFilterRange() const
{
    return integerValue(UserDefaultsKeys::dateFilterRange);
}

Preferences::WriteResult Preferences::setDateFilterRange(std::int64_t range)
{
    return store_.set(keyOf(UserDefaultsKeys::dateFilterRange), range);
}

bool Preferences::showsBilledTimers() const
{
    return boolValue(UserDefaultsKeys::showsBilledTimers);
}

Preferences::WriteResult Preferences::setShowsBilledTimers(bool shows)
{
    return store_.set(keyOf(UserDefaultsKeys::showsBilledTimers), shows);
}

std::vector<std::string> Preferences::exportFields() const
{
    const auto value = store_.object(keyOf(UserDefaultsKeys::exportFields));
    const auto* array = value ? value->get<DefaultsArray>() : nullptr;
    if (!array)
        return {};
    std::vector<std::string> fields;
    for (const auto& element : *array) {
        const auto* field = element.get<std::string>();
        if (!field)
            return {};
        fields.push_back(*field);
    }
    return fields;
}

Preferences::WriteResult Preferences::setExportFields(const std::vector<std::string>& fields)
{
    DefaultsArray array(fields.begin(), fields.end());
    return store_.set(keyOf(UserDefaultsKeys::exportFields), std::move(array));
}

bool Preferences::showsMenuIcon() const
{
    return boolValue(UserDefaultsKeys::showsMenuIcon);
}

Preferences::WriteResult Preferences::setShowsMenuIcon(bool shows)
{
    return store_.set(keyOf(UserDefaultsKeys::showsMenuIcon), shows);
}

std::int64_t Preferences::defaultTimerType() const
{
    return integerValue(UserDefaultsKeys::defaultTimerType);
}

Preferences::WriteResult Preferences::setDefaultTimerType(std::int64_t type)
{
    return store_.set(keyOf(UserDefaultsKeys::defaultTimerType), type);
}

foundation::Decimal Preferences::defaultProjectHourlyRate() const
{
    const auto value = store_.object(keyOf(UserDefaultsKeys::defaultProjectHourlyRate));
    if (!value)
        return {};
    std::optional<foundation::Decimal> rate;
    if (const auto* integer = value->get<std::int64_t>())
        rate = foundation::Decimal(*integer);
    else if (const auto* number = value->get<double>())
        rate = foundation::Decimal::fromDouble(*number);
    // A hand-edited rate beyond the bound would carry into new clients and overflow their costs.
    if (!rate || !isAcceptableHourlyRate(*rate))
        return {};
    return *rate;
}

Preferences::WriteResult Preferences::setDefaultProjectHourlyRate(const foundation::Decimal& rate)
{
    if (!isAcceptableHourlyRate(rate))
        return foundation::DefaultsWriteError{store_.file(), "an hourly rate of " + rate.toString()
                                                                 + " is outside 0 to "
                                                                 + std::to_string(maximumHourlyRate)};
    return store_.set(keyOf(UserDefaultsKeys::defaultProjectHourlyRate), numberForRate(rate));
}

std::string Preferences::defaultProjectHourlyRateCurrency() const
{
    const auto value = store_.object(keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency));
    if (const auto* currency = value ? value->get<std::string>() : nullptr)
        return *currency;
    return fallbackCurrency;
}

Preferences::WriteResult Preferences::setDefaultProjectHourlyRateCurrency(const std::string& currency)
{
    return store_.set(keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency), currency);
}

} // namespace model

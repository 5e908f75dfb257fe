// Reads and writes of the settings keys, the launch-time registration of built-in values, and the
// shared instance over the user's defaults file.
#include "model/preferences.h"

#include "model/enums.h"
#include "model/money_bounds.h"

#include "foundation/locale.h"

#include <algorithm>
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

// How a user would name what a value holds.
std::string kindOf(const DefaultsValue& value)
{
    if (value.holds<bool>())
        return "true or false";
    if (value.holds<std::string>())
        return "a text";
    if (value.holds<std::int64_t>())
        return "a whole number";
    if (value.holds<double>())
        return "a number with a fraction";
    if (value.holds<DefaultsArray>())
        return "a list";
    return "a group of values";
}

std::string misplaced(const DefaultsValue& value, const std::string& wanted)
{
    return "holds " + kindOf(value) + " where " + wanted + " belongs";
}

std::optional<std::string> integerProblem(const DefaultsValue& value, std::int64_t last, const std::string& names)
{
    const auto* number = value.get<std::int64_t>();
    if (!number)
        return misplaced(value, "a number");
    if (*number < 0 || *number > last)
        return "holds " + std::to_string(*number) + ", which names no " + names + " (0 to " + std::to_string(last)
               + ")";
    return std::nullopt;
}

std::optional<foundation::Decimal> rateOf(const DefaultsValue& value)
{
    if (const auto* integer = value.get<std::int64_t>())
        return foundation::Decimal(*integer);
    if (const auto* number = value.get<double>())
        return foundation::Decimal::fromDouble(*number);
    return std::nullopt;
}

// What is wrong with a value of `key`, in words that follow the key's name; nothing when it is usable.
std::optional<std::string> problemWith(UserDefaultsKeys key, const DefaultsValue& value)
{
    switch (key) {
    case UserDefaultsKeys::didShowMiniWindowHint:
    case UserDefaultsKeys::showsBilledTimers:
    case UserDefaultsKeys::showsMenuIcon:
        return value.holds<bool>() ? std::nullopt : std::optional(misplaced(value, "true or false"));
    case UserDefaultsKeys::dateFilterRange: return integerProblem(value, 5, "date range");
    case UserDefaultsKeys::defaultTimerType: return integerProblem(value, 2, "timer type");
    case UserDefaultsKeys::exportFields: {
        const auto* array = value.get<DefaultsArray>();
        const bool texts = array && std::all_of(array->begin(), array->end(), [](const DefaultsValue& element) {
                               return element.holds<std::string>();
                           });
        return texts ? std::nullopt : std::optional(misplaced(value, "a list of texts"));
    }
    case UserDefaultsKeys::defaultProjectHourlyRate: {
        const auto rate = rateOf(value);
        if (!rate)
            return misplaced(value, "a number");
        // A hand-edited rate beyond the bound would carry into new clients and overflow their costs.
        if (!isAcceptableHourlyRate(*rate))
            return "holds " + rate->toString() + ", outside the hourly rates 0 to " + std::to_string(maximumHourlyRate);
        return std::nullopt;
    }
    case UserDefaultsKeys::defaultProjectHourlyRateCurrency:
        return value.holds<std::string>() ? std::nullopt : std::optional(misplaced(value, "a text"));
    }
    return std::nullopt;
}

constexpr UserDefaultsKeys allKeys[] = {
    UserDefaultsKeys::didShowMiniWindowHint,
    UserDefaultsKeys::dateFilterRange,
    UserDefaultsKeys::showsBilledTimers,
    UserDefaultsKeys::exportFields,
    UserDefaultsKeys::showsMenuIcon,
    UserDefaultsKeys::defaultTimerType,
    UserDefaultsKeys::defaultProjectHourlyRate,
    UserDefaultsKeys::defaultProjectHourlyRateCurrency,
};

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

foundation::Status Preferences::registerDefaults()
{
    // Hand-edited values of the wrong kind or out of range are told once, here; every read then
    // passes them over for the built-in value.
    std::vector<std::string> problems;
    for (UserDefaultsKeys key : allKeys) {
        const auto value = store_.object(keyOf(key));
        if (auto problem = value ? problemWith(key, *value) : std::nullopt) {
            if (key == UserDefaultsKeys::defaultProjectHourlyRateCurrency)
                *problem += " (the currency of your locale replaces it)";
            problems.push_back("\"" + keyOf(key) + "\" " + *problem);
        }
    }
    store_.reportUnusableValues(problems);

    // The currency is settled once and stored, so a later change of the system locale does not
    // silently relabel the user's amounts.
    std::string currency;
    foundation::Status currencyWrite;
    const auto stored = store_.object(keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency));
    if (stored && stored->holds<std::string>()) {
        currency = *stored->get<std::string>();
    } else {
        currency = localeCurrency();
        currencyWrite = setDefaultProjectHourlyRateCurrency(currency);
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
    return currencyWrite;
}

// Every read takes the first usable value of stored and registered ones, else the fall-back: a
// stored value of the wrong kind or out of range leaves the built-in value in force. A whole number
// that names no date range or timer type is read as it is: its readers already take their built-in
// range (day) or type (period) for it, and the preferences window shows no type chosen.

std::optional<DefaultsValue> Preferences::usableValue(UserDefaultsKeys key) const
{
    const bool enumeration = key == UserDefaultsKeys::dateFilterRange || key == UserDefaultsKeys::defaultTimerType;
    return store_.object(keyOf(key), [key, enumeration](const DefaultsValue& value) {
        return enumeration ? value.holds<std::int64_t>() : !problemWith(key, value);
    });
}

bool Preferences::boolValue(UserDefaultsKeys key) const
{
    const auto value = usableValue(key);
    return value && *value->get<bool>();
}

std::int64_t Preferences::integerValue(UserDefaultsKeys key) const
{
    const auto value = usableValue(key);
    return value ? *value->get<std::int64_t>() : 0;
}

bool Preferences::didShowMiniWindowHint() const
{
    return boolValue(UserDefaultsKeys::didShowMiniWindowHint);
}

foundation::Status Preferences::setDidShowMiniWindowHint(bool shown)
{
    return store_.set(keyOf(UserDefaultsKeys::didShowMiniWindowHint), shown);
}

std::int64_t Preferences::dateFilterRange() const
{
    return integerValue(UserDefaultsKeys::dateFilterRange);
}

foundation::Status Preferences::setDateFilterRange(std::int64_t range)
{
    return store_.set(keyOf(UserDefaultsKeys::dateFilterRange), range);
}

bool Preferences::showsBilledTimers() const
{
    return boolValue(UserDefaultsKeys::showsBilledTimers);
}

foundation::Status Preferences::setShowsBilledTimers(bool shows)
{
    return store_.set(keyOf(UserDefaultsKeys::showsBilledTimers), shows);
}

std::vector<std::string> Preferences::exportFields() const
{
    const auto value = usableValue(UserDefaultsKeys::exportFields);
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

foundation::Status Preferences::setExportFields(const std::vector<std::string>& fields)
{
    DefaultsArray array(fields.begin(), fields.end());
    return store_.set(keyOf(UserDefaultsKeys::exportFields), std::move(array));
}

bool Preferences::showsMenuIcon() const
{
    return boolValue(UserDefaultsKeys::showsMenuIcon);
}

foundation::Status Preferences::setShowsMenuIcon(bool shows)
{
    return store_.set(keyOf(UserDefaultsKeys::showsMenuIcon), shows);
}

std::int64_t Preferences::defaultTimerType() const
{
    return integerValue(UserDefaultsKeys::defaultTimerType);
}

foundation::Status Preferences::setDefaultTimerType(std::int64_t type)
{
    return store_.set(keyOf(UserDefaultsKeys::defaultTimerType), type);
}

foundation::Decimal Preferences::defaultProjectHourlyRate() const
{
    const auto value = usableValue(UserDefaultsKeys::defaultProjectHourlyRate);
    return value ? rateOf(*value).value_or(foundation::Decimal()) : foundation::Decimal();
}

foundation::Status Preferences::setDefaultProjectHourlyRate(const foundation::Decimal& rate)
{
    if (!isAcceptableHourlyRate(rate))
        return foundation::Status::failure(foundation::StatusCode::invalidArgument,
                                           "an hourly rate of " + rate.toString() + " is outside 0 to "
                                               + std::to_string(maximumHourlyRate));
    return store_.set(keyOf(UserDefaultsKeys::defaultProjectHourlyRate), numberForRate(rate));
}

std::string Preferences::defaultProjectHourlyRateCurrency() const
{
    const auto value = usableValue(UserDefaultsKeys::defaultProjectHourlyRateCurrency);
    if (const auto* currency = value ? value->get<std::string>() : nullptr)
        return *currency;
    return fallbackCurrency;
}

foundation::Status Preferences::setDefaultProjectHourlyRateCurrency(const std::string& currency)
{
    return store_.set(keyOf(UserDefaultsKeys::defaultProjectHourlyRateCurrency), currency);
}

} // namespace model

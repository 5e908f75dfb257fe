// The shell's user defaults over foundation::DefaultsStore.
#include "app/settings.h"

#include "foundation/defaults_store.h"
#include "foundation/locale.h"

#include <cstdio>

namespace app {

namespace {

void reportWriteError(const std::optional<foundation::DefaultsWriteError>& error)
{
    if (error)
        std::fprintf(stderr, "horavine: the settings could not be written to %s: %s\n", error->file.c_str(),
                     error->message.c_str());
}

} // namespace

void Settings::registerDefaults(const foundation::Locale& locale)
{
    std::optional<std::string> currency;
    std::optional<foundation::DefaultsValue> stored = store_.object("defaultProjectHourlyRateCurrency");
    if (stored && stored->get<std::string>())
        currency = *stored->get<std::string>();
    if (!currency) {
        currency = locale.currencySymbol();
        if (!currency)
            currency = locale.currencyCode();
        if (!currency)
            currency = "$";
        setDefaultProjectHourlyRateCurrency(*currency);
    }
    store_.registerDefaults({
        {"showsBilledTimers", true},
        {"showsMenuIcon", true},
        {"defaultTimerType", std::int64_t{0}},
        {"defaultProjectHourlyRate", 0.0},
        {"defaultProjectHourlyRateCurrency", *currency},
    });
}

bool Settings::showsMenuIcon() const { return store_.boolValue("showsMenuIcon"); }
void Settings::setShowsMenuIcon(bool shows) { reportWriteError(store_.set("showsMenuIcon", shows)); }
bool Settings::didShowMiniWindowHint() const { return store_.boolValue("didShowMiniWindowHint"); }
void Settings::setDidShowMiniWindowHint(bool didShow) { reportWriteError(store_.set("didShowMiniWindowHint", didShow)); }
std::int64_t Settings::defaultTimerType() const { return store_.integerValue("defaultTimerType"); }
void Settings::setDefaultTimerType(std::int64_t rawTimerType)
{
    reportWriteError(store_.set("defaultTimerType", rawTimerType));
}
double Settings::defaultProjectHourlyRate() const { return store_.numberValue("defaultProjectHourlyRate").value_or(0.0); }
void Settings::setDefaultProjectHourlyRate(double rate) { reportWriteError(store_.set("defaultProjectHourlyRate", rate)); }
std::string Settings::defaultProjectHourlyRateCurrency() const
{
    return store_.stringValue("defaultProjectHourlyRateCurrency").value_or("$");
}
void Settings::setDefaultProjectHourlyRateCurrency(const std::string& symbol)
{
    reportWriteError(store_.set("defaultProjectHourlyRateCurrency", symbol));
}

} // namespace app

// The user defaults the application shell reads and writes, by key, over the defaults store.
// A thin seam until the model's preferences accessors are available to the app.
#pragma once

#include <cstdint>
#include <string>

namespace foundation {
class DefaultsStore;
class Locale;
} // namespace foundation

namespace app {

class Settings {
public:
    explicit Settings(foundation::DefaultsStore& store) : store_(store) {}

    foundation::DefaultsStore& store() { return store_; }

    // Settles the default currency from `locale` on the first launch (stored for good), and
    // registers the built-in values of the keys below.
    void registerDefaults(const foundation::Locale& locale);

    bool showsMenuIcon() const;
    void setShowsMenuIcon(bool shows);
    bool didShowMiniWindowHint() const;
    void setDidShowMiniWindowHint(bool didShow);
    std::int64_t defaultTimerType() const;
    void setDefaultTimerType(std::int64_t rawTimerType);
    double defaultProjectHourlyRate() const;
    void setDefaultProjectHourlyRate(double rate);
    std::string defaultProjectHourlyRateCurrency() const;
    void setDefaultProjectHourlyRateCurrency(const std::string& symbol);

private:
    foundation::DefaultsStore& store_;
};

} // namespace app

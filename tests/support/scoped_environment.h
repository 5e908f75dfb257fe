// Sets environment variables (TZ, LANG, LC_*) for the life of a scope and restores the old values,
// so calendar and locale tests can pin the zone and locale without leaking into other tests.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class ScopedEnvironment {
public:
    // A nullopt value unsets the variable for the scope.
    ScopedEnvironment(std::initializer_list<std::pair<std::string, std::optional<std::string>>> values)
    {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            apply(name, value);
        }
    }
    ~ScopedEnvironment()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            apply(it->first, it->second);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void apply(const std::string& name, const std::optional<std::string>& value)
    {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The zone and the date locale, with LC_ALL and LC_TIME cleared so that LANG decides.
inline ScopedEnvironment zoneAndLocale(const std::string& tz, const std::string& lang)
{
    return ScopedEnvironment{{"TZ", tz}, {"LANG", lang}, {"LC_ALL", std::nullopt}, {"LC_TIME", std::nullopt}};
}

} // namespace testsupport

// Locale ids from POSIX locale names and the environment.
#include "foundation/locale_id.h"

#include <cstdlib>

namespace foundation {

namespace {

const char* nonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

std::string localeIdFromPosixName(std::string_view name)
{
    name = name.substr(0, name.find('@'));
    name = name.substr(0, name.find('.'));
    if (name.empty() || name == "C" || name == "POSIX")
        return "en_US_POSIX";
    return std::string(name);
}

std::string localeIdFromEnvironment(LocaleCategory category)
{
    const char* value = nonEmptyEnv("LC_ALL");
    if (!value)
        value = nonEmptyEnv(category == LocaleCategory::time       ? "LC_TIME"
                            : category == LocaleCategory::monetary ? "LC_MONETARY"
                                                                   : "LC_MESSAGES");
    if (!value)
        value = nonEmptyEnv("LANG");
    return localeIdFromPosixName(value ? value : "");
}

} // namespace foundation

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

const char* variableOf(LocaleCategory category)
{
    switch (category) {
    case LocaleCategory::time: return "LC_TIME";
    case LocaleCategory::monetary: return "LC_MONETARY";
    case LocaleCategory::messages: return "LC_MESSAGES";
    case LocaleCategory::paper: return "LC_PAPER";
    }
    return "LANG";
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
        value = nonEmptyEnv(variableOf(category));
    if (!value)
        value = nonEmptyEnv("LANG");
    return localeIdFromPosixName(value ? value : "");
}

} // namespace foundation

// Which locale the environment names (LC_ALL, LC_TIME, LC_MONETARY, LC_MESSAGES, LC_PAPER, LANG),
// as an ICU locale id. Plain text work without ICU itself, so the kits can use it.
#pragma once

#include <string>
#include <string_view>

namespace foundation {

// Which environment variable overrides LANG: LC_TIME for dates, LC_MONETARY for currency,
// LC_MESSAGES for the language texts are in, LC_PAPER for the paper of printed and PDF pages.
enum class LocaleCategory { time, monetary, messages, paper };

// The ICU locale id for a POSIX locale name: "de_DE.UTF-8@euro" -> "de_DE"; "C", "POSIX" and ""
// -> "en_US_POSIX".
std::string localeIdFromPosixName(std::string_view posixName);

// LC_ALL, else the category's variable, else LANG (empty values count as unset), as an ICU id.
std::string localeIdFromEnvironment(LocaleCategory category);

} // namespace foundation

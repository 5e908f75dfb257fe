// The kits' console output: one whole line at a time on stderr, so lines logged from several
// threads never run into each other. Callers include their own bracketed prefix.
#pragma once

#include <string_view>

namespace kits {

void kitLog(std::string_view line);

} // namespace kits

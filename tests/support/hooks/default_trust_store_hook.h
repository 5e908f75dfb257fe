// Test builds only: points the URL session's default handling at another CA file (a test root), in
// place of the system's bundle. Linked as an object into a test binary, this file's definition of
// net::defaultTrustStoreFile takes the place of the program's; the program carries no such hook.
#pragma once

#include <optional>
#include <string>

namespace net::testhooks {

// A file replaces the system's bundle until it is reset with nothing.
void setDefaultTrustStoreFile(std::optional<std::string> file);

} // namespace net::testhooks

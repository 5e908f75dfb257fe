// Random identifiers (RFC 4122 version 4) for stores and installations.
#pragma once

#include <string>

namespace foundation {

// "3f0c9a9e-8d7b-4c1e-9a2f-5b6d7e8f9a0b": 36 lower-case characters.
std::string makeUuid();

} // namespace foundation

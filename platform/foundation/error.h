// An error value as the kits hand it to their callers: a domain, a code within it, a text for people
// and ordered user information; an error that gathers others keeps them beside it under their key.
// "Error or none" is std::optional<Error>.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    // Empty when none was given.
    std::string localizedDescription;
    // Plain values (numbers, strings), in the order they were set.
    PropertyListDictionary userInfo;
    // The errors this one gathers and the user-information key they stand under; empty when none.
    std::string underlyingErrorsKey;
    std::vector<Error> underlyingErrors;
};

} // namespace foundation

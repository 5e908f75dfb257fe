// The text a kit writes for a value object in a URL query or a form field: a string as it is, a
// number in decimal, a Boolean as 1 or 0, anything else as its compact JSON text.
#pragma once

#include "foundation/property_list.h"

#include <string>

namespace kits {

std::string KSTValueDescription(const foundation::PropertyListValue& value);

} // namespace kits

// JSON text to and from property-list values. Booleans stay apart from numbers and null is a value
// of its own; objects keep their key order. Reading fails with a reason on any malformed text.
#pragma once

#include "foundation/property_list.h"

#include <string>
#include <string_view>

namespace foundation {

PropertyListResult<PropertyListValue> propertyListFromJSON(std::string_view text);

// Compact JSON ("{"a":1}"); never throws. A non-finite real is written as null, data as its base64
// text, a date as ISO 8601 text in UTC ("2024-05-01T12:00:00Z", with microseconds when it has any),
// and invalid UTF-8 in strings is replaced with U+FFFD.
std::string jsonFromPropertyList(const PropertyListValue& value);

} // namespace foundation

// Property-list files: XML written, XML and binary read, through libplist. Whatever the bytes, reading
// yields a value or a reason; the value of a file holds no null.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <span>
#include <string>

namespace foundation {

// Reads an XML or a binary ("bplist00") property list.
PropertyListResult<PropertyListValue> propertyListFromBytes(std::span<const std::uint8_t> bytes);
PropertyListResult<PropertyListValue> propertyListFromBytes(std::string_view bytes);

// The value as an XML property list. Fails for what a property-list file cannot hold: a null, or a
// date outside the years 1933 to 2069.
PropertyListResult<std::string> xmlPropertyList(const PropertyListValue& value);
// The same as a binary property list (tests and tools; the kits write XML).
PropertyListResult<std::string> binaryPropertyList(const PropertyListValue& value);

} // namespace foundation

// The two property-list readers behind propertyListFromBytes. Ours rather than the library's: its
// readers abort on crafted keys and take "<integer>x</integer>" for 0, and a file on disk is input.
#pragma once

#include "foundation/property_list.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace foundation::detail {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t referenceDateSeconds = 978307200;

PropertyListResult<PropertyListValue> readBinaryPropertyList(std::string_view bytes);
PropertyListResult<PropertyListValue> readXMLPropertyList(std::string_view text);

// Appends one code point (at most U+10FFFF, no surrogate) as UTF-8.
void appendUTF8(std::string& text, std::uint32_t code);

// "2023-11-14T22:13:20Z" (fractions of a second allowed); nothing for any other text.
std::optional<PropertyListDate> dateFromISOText(std::string_view text);

} // namespace foundation::detail

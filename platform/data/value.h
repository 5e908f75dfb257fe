// Attribute values of stored objects: a closed set of types, "absent" included, with the
// ordering that fetches sort by (absent values first).
#pragma once

#include "foundation/clock.h"
#include "foundation/decimal.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace data {

enum class AttributeType { integer, real, boolean, string, decimal, date, binary };

using Blob = std::vector<std::uint8_t>;

// std::monostate is the absent value.
using Value =
    std::variant<std::monostate, std::int64_t, double, bool, std::string, foundation::Decimal, foundation::Date, Blob>;

inline bool isAbsent(const Value& value)
{
    return std::holds_alternative<std::monostate>(value);
}

// Whether `value` is absent or of the kind `type` stores.
bool valueMatchesType(const Value& value, AttributeType type);

// Three-way order used by sort descriptors: absent < anything; numbers compare by value
// (integers, reals, decimals and Booleans with each other); otherwise by kind, then by value.
int compareValues(const Value& left, const Value& right);

const char* attributeTypeName(AttributeType type);

} // namespace data

// Turns a duration in whole minutes into clock-like text ("25:00", "-0:46") for the mini window, the
// projects outline and its status line. One way only; anything that is not a number gives nothing.
#pragma once

#include <any>
#include <optional>
#include <string>
#include <typeindex>

namespace model {

class DurationValueTransformer {
public:
    // The type of the transformed values: text.
    static std::type_index transformedValueClass();
    static bool allowsReverseTransformation();

    // `value` is "any object or nothing": an empty std::any is nothing. Numbers are the signed and
    // unsigned integer types, double and float (bool is not a number here); a fraction is cut toward
    // zero. Nothing comes back for nothing, for a non-number, and for a number with no 64-bit integer
    // value (NaN, infinite, too large).
    std::optional<std::string> transformedValue(const std::any& value) const;
};

} // namespace model

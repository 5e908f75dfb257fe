// Ordering and type checks of attribute values.
#include "data/value.h"

namespace data {
namespace {

template <typename T>
int threeWay(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool isNumeric(const Value& v)
{
    return std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v)
           || std::holds_alternative<bool>(v) || std::holds_alternative<foundation::Decimal>(v);
}

// Numbers of mixed kinds: exact where both are exact, else through double.
int compareNumbers(const Value& a, const Value& b)
{
    auto asDecimal = [](const Value& v) -> std::optional<foundation::Decimal> {
        if (auto i = std::get_if<std::int64_t>(&v))
            return foundation::Decimal(*i);
        if (auto flag = std::get_if<bool>(&v))
            return foundation::Decimal(*flag ? 1 : 0);
        if (auto d = std::get_if<foundation::Decimal>(&v))
            return *d;
        return std::nullopt;
    };
    auto da = asDecimal(a), db = asDecimal(b);
    if (da && db)
        return threeWay(*da, *db);
    auto asDouble = [](const Value& v) {
        if (auto d = std::get_if<double>(&v))
            return *d;
        if (auto i = std::get_if<std::int64_t>(&v))
            return static_cast<double>(*i);
        if (auto flag = std::get_if<bool>(&v))
            return *flag ? 1.0 : 0.0;
        return std::get<foundation::Decimal>(v).toDouble();
    };
    return threeWay(asDouble(a), asDouble(b));
}

} // namespace

bool valueMatchesType(const Value& value, AttributeType type)
{
    switch (type) {
    case AttributeType::integer: return isAbsent(value) || std::holds_alternative<std::int64_t>(value);
    case AttributeType::real: return isAbsent(value) || std::holds_alternative<double>(value);
    case AttributeType::boolean: return isAbsent(value) || std::holds_alternative<bool>(value);
    case AttributeType::string: return isAbsent(value) || std::holds_alternative<std::string>(value);
    case AttributeType::decimal: return isAbsent(value) || std::holds_alternative<foundation::Decimal>(value);
    case AttributeType::date: return isAbsent(value) || std::holds_alternative<foundation::Date>(value);
    case AttributeType::binary: return isAbsent(value) || std::holds_alternative<Blob>(value);
    }
    return false;
}

int compareValues(const Value& left, const Value& right)
{
    const bool leftAbsent = isAbsent(left), rightAbsent = isAbsent(right);
    if (leftAbsent || rightAbsent)
        return threeWay(!leftAbsent, !rightAbsent);
    if (isNumeric(left) && isNumeric(right))
        return compareNumbers(left, right);
    if (left.index() != right.index())
        return threeWay(left.index(), right.index());
    return std::visit(
        [&](const auto& a) -> int {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return 0;
            else
                return threeWay(a, std::get<T>(right));
        },
        left);
}

const char* attributeTypeName(AttributeType type)
{
    switch (type) {
    case AttributeType::integer: return "integer";
    case AttributeType::real: return "real";
    case AttributeType::boolean: return "boolean";
    case AttributeType::string: return "string";
    case AttributeType::decimal: return "decimal";
    case AttributeType::date: return "date";
    case AttributeType::binary: return "binary";
    }
    return "unknown";
}

} // namespace data

// The validated attributes of one usage event: at most 21 entries, keys and string values of at most
// 100 UTF-16 units, values only strings and numbers. A bad entry is left out with a console line, the
// rest of the event is kept.
#pragma once

#include "foundation/decimal.h"
#include "foundation/property_list.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kits {

// A stored value: a string, or a number (a Boolean, an integer, a finite real or an exact decimal).
using TLYAttributeValue = std::variant<std::string, bool, std::int64_t, double, foundation::Decimal>;

struct TLYAttributeEntry {
    std::string key;
    TLYAttributeValue value;
    bool operator==(const TLYAttributeEntry&) const = default;
};

class TLYAttributeDictionary {
public:
    static constexpr std::size_t maximumEntries = 21;
    static constexpr std::size_t maximumLength = 100; // UTF-16 units

    TLYAttributeDictionary() = default;
    // Adds every entry of `dictionary` in its order; nothing gives an empty dictionary.
    explicit TLYAttributeDictionary(const std::optional<foundation::PropertyListDictionary>& dictionary);

    // Checks in order: a missing value or key adds nothing; a full dictionary refuses the entry (also
    // a replacement); a value that is neither string nor number is refused; then strings are cut to
    // 100 units and a not-a-number removes the key.
    void addAttribute(const std::optional<foundation::PropertyListValue>& value, const std::optional<std::string>& key);
    // "true" or "false".
    void addBooleanAttribute(std::optional<bool> value, const std::optional<std::string>& key);
    // The price in millionths, as an exact decimal; a price whose micros cannot be held is refused.
    void addPriceAttribute(const std::optional<foundation::Decimal>& price, const std::optional<std::string>& key);

    // The entries in the order they were first added (a replaced value keeps its key's place).
    const std::vector<TLYAttributeEntry>& rawDictionary() const { return entries_; }
    const TLYAttributeValue* find(std::string_view key) const;
    std::size_t size() const { return entries_.size(); }

    // As JSON-ready values: a decimal becomes an integer when it is whole and fits 64 bits, else the
    // nearest real.
    foundation::PropertyListDictionary dictionaryRepresentation() const;
    // Its compact JSON text.
    std::string description() const;

    // Serialisation steps, exposed for tests.
    static std::string truncateString(const std::string& text);
    static std::string serializeSuccess(bool success);
    // Nothing when the price exceeds the limit (largest decimal / 1,000,000).
    static std::optional<foundation::Decimal> serializePriceToMicros(const foundation::Decimal& price);
    static foundation::PropertyListValue serializeNumber(const foundation::Decimal& number);

private:
    // False, with the console line, when the dictionary is full.
    bool hasRoom(const std::function<std::string()>& describeEntry) const;
    // Sets the key's value; nullptr removes the key.
    void store(const std::string& key, const TLYAttributeValue* value);

    std::vector<TLYAttributeEntry> entries_;
};

} // namespace kits

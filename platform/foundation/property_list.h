// A property-list value as the kits exchange it: null, Boolean, integer, real, string, data, date,
// array or dictionary. Dictionaries keep their keys in insertion order (the order a file or a JSON
// object gave them), so what is read and written back keeps its shape.
#pragma once

#include "foundation/defaults_value.h"

#include <chrono>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace foundation {

class PropertyListValue;
struct PropertyListEntry;

using PropertyListArray = std::vector<PropertyListValue>;
using PropertyListData = std::vector<std::uint8_t>;
// An instant, microseconds from the Unix epoch (the precision of a property-list file's dates).
using PropertyListDate = std::chrono::sys_time<std::chrono::microseconds>;
struct PropertyListNull {
    bool operator==(const PropertyListNull&) const = default;
};

// Keys in insertion order; setting an existing key replaces its value in place.
class PropertyListDictionary {
public:
    PropertyListDictionary();
    PropertyListDictionary(std::initializer_list<PropertyListEntry> entries);
    PropertyListDictionary(const PropertyListDictionary&);
    PropertyListDictionary(PropertyListDictionary&&) noexcept;
    PropertyListDictionary& operator=(const PropertyListDictionary&);
    PropertyListDictionary& operator=(PropertyListDictionary&&) noexcept;
    ~PropertyListDictionary();

    // A dictionary of these entries in their order; a repeated key keeps its first place and its last
    // value. Linear in the number of entries, for readers of large inputs.
    static PropertyListDictionary fromEntries(std::vector<PropertyListEntry> entries);

    // The value under `key`; nullptr when absent.
    const PropertyListValue* find(std::string_view key) const;
    // The value under `key` when it holds a T; nullptr otherwise.
    template <typename T>
    const T* get(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    void set(std::string key, PropertyListValue value);
    // True when the key was there.
    bool erase(std::string_view key);
    void clear();

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    const std::vector<PropertyListEntry>& entries() const { return entries_; }

    // Same keys with equal values, whatever their order.
    bool operator==(const PropertyListDictionary& other) const;

private:
    std::vector<PropertyListEntry> entries_;
};

class PropertyListValue {
public:
    using Storage = std::variant<PropertyListNull, bool, std::int64_t, double, std::string, PropertyListData,
                                 PropertyListDate, PropertyListArray, PropertyListDictionary>;

    PropertyListValue() = default; // null
    PropertyListValue(PropertyListNull) {}
    PropertyListValue(bool value) : storage_(value) {}
    template <std::integral T>
    requires(!std::same_as<T, bool> && (std::signed_integral<T> || sizeof(T) < sizeof(std::int64_t)))
        PropertyListValue(T value)
        : storage_(static_cast<std::int64_t>(value))
    {}
    PropertyListValue(double value) : storage_(value) {}
    PropertyListValue(std::string value) : storage_(std::move(value)) {}
    PropertyListValue(const char* value) : storage_(std::string(value)) {} // not the pointer as a bool
    PropertyListValue(PropertyListData value) : storage_(std::move(value)) {}
    PropertyListValue(PropertyListDate value) : storage_(value) {}
    PropertyListValue(PropertyListArray value) : storage_(std::move(value)) {}
    PropertyListValue(PropertyListDictionary value) : storage_(std::move(value)) {}

    template <typename T>
    const T* get() const
    {
        return std::get_if<T>(&storage_);
    }
    template <typename T>
    T* get()
    {
        return std::get_if<T>(&storage_);
    }
    template <typename T>
    bool holds() const
    {
        return std::holds_alternative<T>(storage_);
    }
    bool isNull() const { return holds<PropertyListNull>(); }
    const Storage& storage() const { return storage_; }

    bool operator==(const PropertyListValue& other) const = default;

private:
    Storage storage_;
};

struct PropertyListEntry {
    std::string key;
    PropertyListValue value;
    bool operator==(const PropertyListEntry& other) const = default;
};

template <typename T>
const T* PropertyListDictionary::get(std::string_view key) const
{
    const PropertyListValue* value = find(key);
    return value ? value->get<T>() : nullptr;
}

// Readers refuse containers nested deeper than this, so no input can exhaust the stack.
constexpr std::size_t maximumPropertyListDepth = 512;

// A value made from bytes or text, or the reason it could not be made.
template <typename T>
struct PropertyListResult {
    std::optional<T> value;
    std::string error; // empty when there is a value

    explicit operator bool() const { return value.has_value(); }
    static PropertyListResult failure(std::string reason) { return {std::nullopt, std::move(reason)}; }
};

// The same value as a property list (the defaults value's dictionaries are sorted by key).
PropertyListValue propertyListFromDefaults(const DefaultsValue& value);
PropertyListDictionary propertyListFromDefaults(const DefaultsDictionary& dictionary);

// A short name of the value's kind ("string", "dictionary", ...), for error texts.
std::string_view propertyListKindName(const PropertyListValue& value);

} // namespace foundation

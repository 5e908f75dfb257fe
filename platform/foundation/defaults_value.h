// A JSON-like value held by the defaults store: Boolean, integer, double, string, array or
// dictionary. Each kind stays what it was stored as, so a Boolean never reads back as a number.
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace foundation {

class DefaultsValue;
using DefaultsArray = std::vector<DefaultsValue>;
using DefaultsDictionary = std::map<std::string, DefaultsValue>;

class DefaultsValue {
public:
    using Storage = std::variant<bool, std::int64_t, double, std::string, DefaultsArray, DefaultsDictionary>;

    DefaultsValue(bool value) : storage_(value) {}
    // Any integer that fits in 64 signed bits; wider unsigned types would wrap, so they are not taken.
    template <std::integral T>
    requires(!std::same_as<T, bool> && (std::signed_integral<T> || sizeof(T) < sizeof(std::int64_t)))
        DefaultsValue(T value)
        : storage_(static_cast<std::int64_t>(value))
    {}
    DefaultsValue(double value) : storage_(value) {}
    DefaultsValue(std::string value) : storage_(std::move(value)) {}
    DefaultsValue(const char* value) : storage_(std::string(value)) {} // not the pointer as a bool
    DefaultsValue(DefaultsArray value) : storage_(std::move(value)) {}
    DefaultsValue(DefaultsDictionary value) : storage_(std::move(value)) {}

    // The value when it holds a T, nullptr otherwise.
    template <typename T>
    const T* get() const
    {
        return std::get_if<T>(&storage_);
    }
    template <typename T>
    bool holds() const
    {
        return std::holds_alternative<T>(storage_);
    }
    const Storage& storage() const { return storage_; }

    bool operator==(const DefaultsValue& other) const = default;

private:
    Storage storage_;
};

} // namespace foundation

// The insertion-ordered dictionary of property lists and the conversion from the defaults value.
#include "foundation/property_list.h"

#include <algorithm>
#include <unordered_map>

namespace foundation {

PropertyListDictionary::PropertyListDictionary() = default;
PropertyListDictionary::PropertyListDictionary(std::initializer_list<PropertyListEntry> entries)
{
    for (const auto& entry : entries)
        set(entry.key, entry.value);
}
PropertyListDictionary::PropertyListDictionary(const PropertyListDictionary&) = default;
PropertyListDictionary::PropertyListDictionary(PropertyListDictionary&&) noexcept = default;
PropertyListDictionary& PropertyListDictionary::operator=(const PropertyListDictionary&) = default;
PropertyListDictionary& PropertyListDictionary::operator=(PropertyListDictionary&&) noexcept = default;
PropertyListDictionary::~PropertyListDictionary() = default;

PropertyListDictionary PropertyListDictionary::fromEntries(std::vector<PropertyListEntry> entries)
{
    PropertyListDictionary dictionary;
    dictionary.entries_.reserve(entries.size());
    // Views of the keys already moved into place; the reserve keeps them from moving again.
    std::unordered_map<std::string_view, std::size_t> positions;
    positions.reserve(entries.size());
    for (auto& entry : entries) {
        auto found = positions.find(entry.key);
        if (found != positions.end()) {
            dictionary.entries_[found->second].value = std::move(entry.value);
            continue;
        }
        dictionary.entries_.push_back(std::move(entry));
        positions.emplace(dictionary.entries_.back().key, dictionary.entries_.size() - 1);
    }
    return dictionary;
}

const PropertyListValue* PropertyListDictionary::find(std::string_view key) const
{
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry.key == key; });
    return found == entries_.end() ? nullptr : &found->value;
}

void PropertyListDictionary::set(std::string key, PropertyListValue value)
{
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry.key == key; });
    if (found != entries_.end())
        found->value = std::move(value);
    else
        entries_.push_back({std::move(key), std::move(value)});
}

bool PropertyListDictionary::erase(std::string_view key)
{
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry.key == key; });
    if (found == entries_.end())
        return false;
    entries_.erase(found);
    return true;
}

void PropertyListDictionary::clear()
{
    entries_.clear();
}

std::size_t PropertyListDictionary::size() const
{
    return entries_.size();
}

bool PropertyListDictionary::operator==(const PropertyListDictionary& other) const
{
    if (size() != other.size())
        return false;
    return std::all_of(entries_.begin(), entries_.end(), [&](const PropertyListEntry& entry) {
        const PropertyListValue* theirs = other.find(entry.key);
        return theirs && *theirs == entry.value;
    });
}

PropertyListValue propertyListFromDefaults(const DefaultsValue& value)
{
    return std::visit(
        [](const auto& held) -> PropertyListValue {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, DefaultsArray>) {
                PropertyListArray array;
                array.reserve(held.size());
                for (const auto& element : held)
                    array.push_back(propertyListFromDefaults(element));
                return array;
            } else if constexpr (std::is_same_v<T, DefaultsDictionary>) {
                return propertyListFromDefaults(held);
            } else {
                return PropertyListValue(held);
            }
        },
        value.storage());
}

PropertyListDictionary propertyListFromDefaults(const DefaultsDictionary& dictionary)
{
    PropertyListDictionary converted;
    for (const auto& [key, element] : dictionary)
        converted.set(key, propertyListFromDefaults(element));
    return converted;
}

std::string_view propertyListKindName(const PropertyListValue& value)
{
    static constexpr std::string_view names[] = {"null", "boolean", "integer", "real",      "string",
                                                 "data", "date",    "array",   "dictionary"};
    return names[value.storage().index()];
}

} // namespace foundation

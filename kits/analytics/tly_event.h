// The events the analytics kit records: custom events named by the application and predefined events
// (such as a content view) with the kit's own attribute keys. Values keep their kind, so a Boolean
// attribute stays a Boolean all the way to the event log.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace kits {

using AttributeValue = std::variant<std::string, bool, std::int64_t, double>;
using Attributes = std::map<std::string, AttributeValue>;

struct TLYCustomEvent {
    std::string customEventName;
    Attributes customAttributes; // empty when the caller gave none

    bool operator==(const TLYCustomEvent&) const = default;
};

struct TLYPredefinedEvent {
    std::string predefinedEventName; // the kit's type, e.g. "content_view"
    Attributes customAttributes;     // the caller's, empty when it gave none
    Attributes predefinedAttributes; // the kit's keys; an absent argument adds no entry

    bool operator==(const TLYPredefinedEvent&) const = default;
};

using TLYEvent = std::variant<TLYCustomEvent, TLYPredefinedEvent>;

} // namespace kits

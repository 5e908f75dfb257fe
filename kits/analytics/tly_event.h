// The usage events the analytics kit writes to its log: each has the moment it was made, a new UUID,
// a name for the log line, a JSON payload and whether writing it makes the controller flush at once.
// Events are built on the caller's thread and immutable once handed on.
#pragma once

#include "foundation/clock.h"
#include "foundation/decimal.h"
#include "foundation/property_list.h"
#include "kits/analytics/tly_attribute_dictionary.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace foundation {
struct Notification;
}

namespace kits {

// Attribute values as the application hands them; a Boolean stays a Boolean.
using AttributeValue = std::variant<std::string, bool, std::int64_t, double>;
using Attributes = std::map<std::string, AttributeValue>;

// The same attributes as property-list values, in the map's order.
foundation::PropertyListDictionary propertyListFromAttributes(const Attributes& attributes);

class TLYEvent {
public:
    TLYEvent();
    virtual ~TLYEvent() = default;

    // "unknown", an empty payload, no flush and the creation time, unless a subclass says otherwise.
    virtual std::string name() const;
    virtual foundation::PropertyListDictionary dictionaryRepresentation() const;
    virtual bool triggersFlush() const;
    virtual foundation::Date timestamp() const;
    // For console lines.
    virtual std::string description() const;

    const std::string& identifier() const { return identifier_; }

private:
    foundation::Date timestamp_;
    std::string identifier_;
};

// An event of one of the kit's own types ("content_view", "purchase", ...), with its own attribute
// keys beside the caller's.
class TLYPredefinedEvent : public TLYEvent {
public:
    using Dictionary = std::optional<foundation::PropertyListDictionary>;
    using Text = std::optional<std::string>;
    using Number = std::optional<foundation::PropertyListValue>;
    using Price = std::optional<foundation::Decimal>;

    TLYPredefinedEvent(std::string predefinedEventName, const Dictionary& customAttributes);

    static std::unique_ptr<TLYPredefinedEvent> signUpEventWithMethod(const Text& method, std::optional<bool> success,
                                                                     const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> loginEventWithMethod(const Text& method, std::optional<bool> success,
                                                                    const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> shareEventWithMethod(const Text& method, const Text& contentName,
                                                                    const Text& contentType, const Text& contentId,
                                                                    const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> inviteEventWithMethod(const Text& method,
                                                                     const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> purchaseEventWithPrice(const Price& price, const Text& currency,
                                                                      std::optional<bool> success, const Text& itemName,
                                                                      const Text& itemType, const Text& itemId,
                                                                      const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> levelStartEventWithLevelName(const Text& levelName,
                                                                            const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> levelEndEventWithLevelName(const Text& levelName, const Number& score,
                                                                          std::optional<bool> success,
                                                                          const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> addToCartEventWithPrice(const Price& price, const Text& currency,
                                                                       const Text& itemName, const Text& itemType,
                                                                       const Text& itemId,
                                                                       const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> startCheckoutEventWithPrice(const Price& price, const Text& currency,
                                                                           const Number& itemCount,
                                                                           const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> ratingEventWithRating(const Number& rating, const Text& contentName,
                                                                     const Text& contentType, const Text& contentId,
                                                                     const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> contentViewEventWithName(const Text& contentName,
                                                                        const Text& contentType, const Text& contentId,
                                                                        const Dictionary& customAttributes);
    static std::unique_ptr<TLYPredefinedEvent> searchEventWithQuery(const Text& query,
                                                                    const Dictionary& customAttributes);

    const std::string& predefinedEventName() const { return predefinedEventName_; }
    const TLYAttributeDictionary& customAttributes() const { return customAttributes_; }
    const TLYAttributeDictionary& predefinedAttributes() const { return predefinedAttributes_; }
    TLYAttributeDictionary& predefinedAttributes() { return predefinedAttributes_; }

    std::string name() const override;
    foundation::PropertyListDictionary dictionaryRepresentation() const override;
    std::string description() const override;

private:
    std::string predefinedEventName_;
    TLYAttributeDictionary customAttributes_;
    TLYAttributeDictionary predefinedAttributes_;
};

// An event the application names itself. Without a name the payload leaves out "custom_type".
class TLYCustomEvent : public TLYEvent {
public:
    TLYCustomEvent(std::optional<std::string> customEventName,
                   const std::optional<foundation::PropertyListDictionary>& customAttributes);

    const std::optional<std::string>& customEventName() const { return customEventName_; }
    const TLYAttributeDictionary& customAttributes() const { return customAttributes_; }

    std::string name() const override;
    foundation::PropertyListDictionary dictionaryRepresentation() const override;
    std::string description() const override;

private:
    std::optional<std::string> customEventName_;
    TLYAttributeDictionary customAttributes_;
};

// The previous session's crash; its log line carries the crash time.
class TLYCrashEvent : public TLYEvent {
public:
    TLYCrashEvent(foundation::Date crashTimestamp, std::uint64_t crashState);

    foundation::Date crashTimestamp() const { return crashTimestamp_; }
    std::uint64_t crashState() const { return crashState_; }

    std::string name() const override;
    foundation::PropertyListDictionary dictionaryRepresentation() const override;
    foundation::Date timestamp() const override;

private:
    foundation::Date crashTimestamp_;
    std::uint64_t crashState_;
};

// Install, launch and the application's activation changes.
class TLYLifecycleEvent : public TLYEvent {
public:
    explicit TLYLifecycleEvent(std::string name);
    explicit TLYLifecycleEvent(const foundation::Notification& notification);

    static std::unique_ptr<TLYLifecycleEvent> eventWithNotification(const foundation::Notification& notification);
    static std::unique_ptr<TLYLifecycleEvent> installEvent();
    static std::unique_ptr<TLYLifecycleEvent> appLaunchedEvent();

    // Notification name → event name.
    static const std::map<std::string, std::string>& notificationNameMap();
    // The mapped name, else "unknown-notification".
    static std::string nameFromNotification(const foundation::Notification& notification);

    std::string name() const override;
    foundation::PropertyListDictionary dictionaryRepresentation() const override;
    bool triggersFlush() const override;

private:
    std::string name_;
};

} // namespace kits

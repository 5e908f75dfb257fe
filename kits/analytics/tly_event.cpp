// The event classes: payloads, names and flush flags, and the predefined events' constructors, which
// add their own attributes in a fixed order through the validator.

#include "kits/analytics/tly_event.h"

#include "foundation/notification_center.h"
#include "foundation/property_list_json.h"
#include "kits/platform/host_functions.h"

#include <utility>

namespace kits {

foundation::PropertyListDictionary propertyListFromAttributes(const Attributes& attributes)
{
    std::vector<foundation::PropertyListEntry> entries;
    entries.reserve(attributes.size());
    for (const auto& [key, value] : attributes)
        entries.push_back(
            {key, std::visit([](const auto& held) { return foundation::PropertyListValue(held); }, value)});
    return foundation::PropertyListDictionary::fromEntries(std::move(entries));
}

TLYEvent::TLYEvent() : timestamp_(foundation::now()), identifier_(KSTGenerateUUIDString()) {}

std::string TLYEvent::name() const
{
    return "unknown";
}

foundation::PropertyListDictionary TLYEvent::dictionaryRepresentation() const
{
    return {};
}

bool TLYEvent::triggersFlush() const
{
    return false;
}

foundation::Date TLYEvent::timestamp() const
{
    return timestamp_;
}

std::string TLYEvent::description() const
{
    return "<TLYEvent: " + name() + ">";
}

// Predefined events.

TLYPredefinedEvent::TLYPredefinedEvent(std::string predefinedEventName, const Dictionary& customAttributes)
    : predefinedEventName_(std::move(predefinedEventName)), customAttributes_(customAttributes)
{}

namespace {

using Text = TLYPredefinedEvent::Text;

// The optional values below are added in the listed order; an absent one adds nothing.
std::unique_ptr<TLYPredefinedEvent> makeEvent(const char* type, const TLYPredefinedEvent::Dictionary& custom,
                                              std::initializer_list<std::pair<const char*, const Text*>> texts)
{
    auto event = std::make_unique<TLYPredefinedEvent>(type, custom);
    for (const auto& [key, text] : texts)
        if (*text)
            event->predefinedAttributes().addAttribute(foundation::PropertyListValue(**text), std::string(key));
    return event;
}

void addText(TLYPredefinedEvent& event, const char* key, const Text& text)
{
    if (text)
        event.predefinedAttributes().addAttribute(foundation::PropertyListValue(*text), std::string(key));
}

} // namespace

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::signUpEventWithMethod(const Text& method,
                                                                              std::optional<bool> success,
                                                                              const Dictionary& customAttributes)
{
    auto event = makeEvent("sign_up", customAttributes, {{"method", &method}});
    event->predefinedAttributes().addBooleanAttribute(success, "success");
    return event;
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::loginEventWithMethod(const Text& method,
                                                                             std::optional<bool> success,
                                                                             const Dictionary& customAttributes)
{
    auto event = makeEvent("login", customAttributes, {{"method", &method}});
    event->predefinedAttributes().addBooleanAttribute(success, "success");
    return event;
}

std::unique_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::shareEventWithMethod(const Text& method, const Text& contentName, const Text& contentType,
                                         const Text& contentId, const Dictionary& customAttributes)
{
    return makeEvent("share", customAttributes,
                     {{"method", &method},
                      {"content_name", &contentName},
                      {"content_type", &contentType},
                      {"content_id", &contentId}});
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::inviteEventWithMethod(const Text& method,
                                                                              const Dictionary& customAttributes)
{
    return makeEvent("invite", customAttributes, {{"method", &method}});
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::purchaseEventWithPrice(const Price& price, const Text& currency,
                                                                               std::optional<bool> success,
                                                                               const Text& itemName,
                                                                               const Text& itemType, const Text& itemId,
                                                                               const Dictionary& customAttributes)
{
    auto event = makeEvent("purchase", customAttributes, {});
    event->predefinedAttributes().addPriceAttribute(price, "item_price");
    addText(*event, "currency", currency);
    event->predefinedAttributes().addBooleanAttribute(success, "success");
    addText(*event, "item_name", itemName);
    addText(*event, "item_type", itemType);
    addText(*event, "item_id", itemId);
    return event;
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::levelStartEventWithLevelName(const Text& levelName,
                                                                                     const Dictionary& customAttributes)
{
    return makeEvent("level_start", customAttributes, {{"level_name", &levelName}});
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::levelEndEventWithLevelName(const Text& levelName,
                                                                                   const Number& score,
                                                                                   std::optional<bool> success,
                                                                                   const Dictionary& customAttributes)
{
    auto event = makeEvent("level_end", customAttributes, {{"level_name", &levelName}});
    event->predefinedAttributes().addAttribute(score, "score");
    event->predefinedAttributes().addBooleanAttribute(success, "success");
    return event;
}

std::unique_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::addToCartEventWithPrice(const Price& price, const Text& currency, const Text& itemName,
                                            const Text& itemType, const Text& itemId,
                                            const Dictionary& customAttributes)
{
    auto event = makeEvent("add_to_cart", customAttributes, {});
    event->predefinedAttributes().addPriceAttribute(price, "item_price");
    addText(*event, "currency", currency);
    addText(*event, "item_name", itemName);
    addText(*event, "item_type", itemType);
    addText(*event, "item_id", itemId);
    return event;
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::startCheckoutEventWithPrice(const Price& price,
                                                                                    const Text& currency,
                                                                                    const Number& itemCount,
                                                                                    const Dictionary& customAttributes)
{
    auto event = makeEvent("start_checkout", customAttributes, {});
    event->predefinedAttributes().addPriceAttribute(price, "total_price");
    addText(*event, "currency", currency);
    event->predefinedAttributes().addAttribute(itemCount, "item_count");
    return event;
}

std::unique_ptr<TLYPredefinedEvent>
TLYPredefinedEvent::ratingEventWithRating(const Number& rating, const Text& contentName, const Text& contentType,
                                          const Text& contentId, const Dictionary& customAttributes)
{
    auto event = makeEvent("rating", customAttributes, {});
    event->predefinedAttributes().addAttribute(rating, "rating");
    addText(*event, "content_name", contentName);
    addText(*event, "content_type", contentType);
    addText(*event, "content_id", contentId);
    return event;
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::contentViewEventWithName(const Text& contentName,
                                                                                 const Text& contentType,
                                                                                 const Text& contentId,
                                                                                 const Dictionary& customAttributes)
{
    return makeEvent("content_view", customAttributes,
                     {{"content_name", &contentName}, {"content_type", &contentType}, {"content_id", &contentId}});
}

std::unique_ptr<TLYPredefinedEvent> TLYPredefinedEvent::searchEventWithQuery(const Text& query,
                                                                             const Dictionary& customAttributes)
{
    return makeEvent("search", customAttributes, {{"query", &query}});
}

std::string TLYPredefinedEvent::name() const
{
    return "predefined";
}

foundation::PropertyListDictionary TLYPredefinedEvent::dictionaryRepresentation() const
{
    return {{"eventId", identifier()},
            {"predefined_type", predefinedEventName_},
            {"custom_attributes", customAttributes_.dictionaryRepresentation()},
            {"predefined_attributes", predefinedAttributes_.dictionaryRepresentation()}};
}

std::string TLYPredefinedEvent::description() const
{
    return "<TLYPredefinedEvent: " + predefinedEventName_ + "\n" + predefinedAttributes_.description() + "\n"
           + customAttributes_.description() + ">";
}

// Custom events.

TLYCustomEvent::TLYCustomEvent(std::optional<std::string> customEventName,
                               const std::optional<foundation::PropertyListDictionary>& customAttributes)
    : customEventName_(std::move(customEventName)), customAttributes_(customAttributes)
{}

std::string TLYCustomEvent::name() const
{
    return "custom";
}

foundation::PropertyListDictionary TLYCustomEvent::dictionaryRepresentation() const
{
    foundation::PropertyListDictionary payload{{"eventId", identifier()}};
    if (customEventName_)
        payload.set("custom_type", *customEventName_);
    payload.set("custom_attributes", customAttributes_.dictionaryRepresentation());
    return payload;
}

std::string TLYCustomEvent::description() const
{
    return "<TLYCustomEvent: " + customEventName_.value_or("(null)") + "\n" + customAttributes_.description() + ">";
}

// Crash events.

TLYCrashEvent::TLYCrashEvent(foundation::Date crashTimestamp, std::uint64_t crashState)
    : crashTimestamp_(crashTimestamp), crashState_(crashState)
{}

std::string TLYCrashEvent::name() const
{
    return "app_crashed";
}

foundation::PropertyListDictionary TLYCrashEvent::dictionaryRepresentation() const
{
    const char* state = crashState_ == 1 ? "foreground" : crashState_ == 2 ? "background" : "unknown";
    return {{"eventId", identifier()}, {"crash_state", state}};
}

foundation::Date TLYCrashEvent::timestamp() const
{
    return crashTimestamp_;
}

// Lifecycle events.

TLYLifecycleEvent::TLYLifecycleEvent(std::string name) : name_(std::move(name)) {}

TLYLifecycleEvent::TLYLifecycleEvent(const foundation::Notification& notification)
    : name_(nameFromNotification(notification))
{}

std::unique_ptr<TLYLifecycleEvent>
TLYLifecycleEvent::eventWithNotification(const foundation::Notification& notification)
{
    return std::make_unique<TLYLifecycleEvent>(notification);
}

std::unique_ptr<TLYLifecycleEvent> TLYLifecycleEvent::installEvent()
{
    return std::make_unique<TLYLifecycleEvent>("app_installed");
}

std::unique_ptr<TLYLifecycleEvent> TLYLifecycleEvent::appLaunchedEvent()
{
    return std::make_unique<TLYLifecycleEvent>("app_launched");
}

const std::map<std::string, std::string>& TLYLifecycleEvent::notificationNameMap()
{
    // Never destroyed: the event queue may still name an event while the process exits.
    static const auto* map = new std::map<std::string, std::string>{
        {"NSApplicationWillTerminateNotification", "app_terminated"},
        {"NSApplicationWillResignActiveNotification", "app_became_inactive"},
        {"NSApplicationDidBecomeActiveNotification", "app_became_active"},
    };
    return *map;
}

std::string TLYLifecycleEvent::nameFromNotification(const foundation::Notification& notification)
{
    const auto& map = notificationNameMap();
    const auto found = map.find(notification.name);
    return found == map.end() ? "unknown-notification" : found->second;
}

std::string TLYLifecycleEvent::name() const
{
    return name_;
}

foundation::PropertyListDictionary TLYLifecycleEvent::dictionaryRepresentation() const
{
    return {{"eventId", identifier()}};
}

bool TLYLifecycleEvent::triggersFlush() const
{
    return name_ == "app_became_inactive" || name_ == "app_became_active" || name_ == "app_installed";
}

} // namespace kits

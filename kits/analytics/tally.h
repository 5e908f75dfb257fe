// The analytics kit's public class: the host logs custom events and content views through its class
// methods, which hand them to the shared instance's event controller. Until the kit has started there
// is no controller and events are dropped without a message.
#pragma once

#include "foundation/clock.h"
#include "foundation/decimal.h"
#include "foundation/property_list.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tly_event.h"
#include "kits/platform/kit_class.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kits {

class Tally {
public:
    static Tally& sharedInstance();
    // The kit as the kit platform starts it ("Tally").
    static KitClass kitClass();

    using Text = std::optional<std::string>;
    using Number = std::optional<foundation::PropertyListValue>;
    using Price = std::optional<foundation::Decimal>;
    using CustomAttributes = std::optional<Attributes>;

    // Each log method builds and validates its event on the caller's thread and hands it to the
    // controller; the caller learns nothing of the outcome. An absent argument adds no attribute.
    static void logCustomEvent(const std::string& name, const CustomAttributes& customAttributes);
    static void logSignUp(const Text& method, std::optional<bool> success, const CustomAttributes& customAttributes);
    static void logLogin(const Text& method, std::optional<bool> success, const CustomAttributes& customAttributes);
    static void logShare(const Text& method, const Text& contentName, const Text& contentType, const Text& contentId,
                         const CustomAttributes& customAttributes);
    static void logInvite(const Text& method, const CustomAttributes& customAttributes);
    static void logPurchase(const Price& price, const Text& currency, std::optional<bool> success, const Text& itemName,
                            const Text& itemType, const Text& itemId, const CustomAttributes& customAttributes);
    static void logLevelStart(const Text& levelName, const CustomAttributes& customAttributes);
    static void logLevelEnd(const Text& levelName, const Number& score, std::optional<bool> success,
                            const CustomAttributes& customAttributes);
    static void logAddToCart(const Price& price, const Text& currency, const Text& itemName, const Text& itemType,
                             const Text& itemId, const CustomAttributes& customAttributes);
    static void logStartCheckout(const Price& price, const Text& currency, const Number& itemCount,
                                 const CustomAttributes& customAttributes);
    static void logRating(const Number& rating, const Text& contentName, const Text& contentType, const Text& contentId,
                          const CustomAttributes& customAttributes);
    static void logContentView(const Text& contentName, const Text& contentType, const Text& contentId,
                               const CustomAttributes& customAttributes);
    static void logSearch(const Text& query, const CustomAttributes& customAttributes);
    // A crash event of that date and an unknown state, for the controller's crash path; no date, nothing.
    static void logPreviousSessionCrashedOnDate(std::optional<foundation::Date> date);

    // Replaces the event controller (nullptr: back to not started). Tests only.
    static void setEventControllerForTesting(std::shared_ptr<TLYEventController> controller);

    // Sent by the kit platform: when the crash kit is registered it is started instead (and starts this
    // kit with its beta token); otherwise this kit starts without a token.
    static void initializeIfNeeded();
    // Runs once per process, whatever the token of later calls: sets the kit logger's debug mode from
    // the kit platform's debug flag, logs "Initialized" and makes the event controller.
    void startWithBetaToken(const std::optional<std::string>& betaToken);
    // The beta token of the start; nothing before it or without one.
    std::optional<std::string> betaToken() const;
    // The current controller; nullptr until the kit has started.
    std::shared_ptr<TLYEventController> tallyController() const;

    Tally(const Tally&) = delete;
    Tally& operator=(const Tally&) = delete;

private:
    Tally() = default;
    static void hand(std::shared_ptr<const TLYEvent> event);

    mutable std::mutex mutex_;
    bool started_ = false;
    std::optional<std::string> betaToken_;
    std::shared_ptr<TLYEventController> tallyController_;
};

} // namespace kits

// The analytics kit's entry points: building events and handing them to the current controller.

#include "kits/analytics/tally.h"

#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_tally_controller.h"
#include "kits/platform/kit_log.h"

#include <utility>

namespace kits {

Tally& Tally::sharedInstance()
{
    // Never destroyed: the kits' threads may still reach it while the process exits.
    static auto* instance = new Tally();
    return *instance;
}

KitClass Tally::kitClass()
{
    KitClass kit{
        .name = "Tally",
        .conformsToKSTKit = true,
        .bundleIdentifier = "com.mirrowick.tally.mac",
        .kitDisplayVersion = "1.3.4",
        .initializeIfNeeded = [] { initializeIfNeeded(); },
        .sharedInstance = {},
    };
    // Registered here, where the host asks for it: a static library drops unreferenced initialisers.
    KitRegistry::registerKitClass(kit);
    return kit;
}

void Tally::initializeIfNeeded()
{
    const auto crashKit = KitRegistry::kitClassNamed("Blackbox");
    if (crashKit && crashKit->conformsToKSTKit) {
        if (crashKit->initializeIfNeeded)
            crashKit->initializeIfNeeded();
        return;
    }
    sharedInstance().startWithBetaToken(std::nullopt);
}

void Tally::startWithBetaToken(const std::optional<std::string>& betaToken)
{
    {
        std::lock_guard lock(mutex_);
        if (started_)
            return;
        started_ = true;
        betaToken_ = betaToken;
    }
    TLYLogger::sharedLogger().setDebugMode(isKitDebugLogging());
    TLYLogger::sharedLogger().log("Initialized");
    auto controller = TLYTallyController::initWithBetaToken(betaToken);
    std::lock_guard lock(mutex_);
    if (!tallyController_)
        tallyController_ = std::move(controller);
}

std::optional<std::string> Tally::betaToken() const
{
    std::lock_guard lock(mutex_);
    return betaToken_;
}

std::shared_ptr<TLYEventController> Tally::tallyController() const
{
    std::lock_guard lock(mutex_);
    return tallyController_;
}

void Tally::setEventControllerForTesting(std::shared_ptr<TLYEventController> controller)
{
    auto& shared = sharedInstance();
    std::lock_guard lock(shared.mutex_);
    shared.tallyController_ = std::move(controller);
}

// The controller is called outside the lock, so a slow controller never blocks a swap or another logger.
void Tally::hand(std::shared_ptr<const TLYEvent> event)
{
    if (auto controller = sharedInstance().tallyController())
        controller->logEvent(std::move(event));
}

namespace {

std::optional<foundation::PropertyListDictionary> converted(const Tally::CustomAttributes& attributes)
{
    if (!attributes)
        return std::nullopt;
    return propertyListFromAttributes(*attributes);
}

} // namespace

void Tally::logCustomEvent(const std::string& name, const CustomAttributes& customAttributes)
{
    hand(std::make_shared<TLYCustomEvent>(name, converted(customAttributes)));
}

void Tally::logSignUp(const Text& method, std::optional<bool> success, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::signUpEventWithMethod(method, success, converted(customAttributes)));
}

void Tally::logLogin(const Text& method, std::optional<bool> success, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::loginEventWithMethod(method, success, converted(customAttributes)));
}

void Tally::logShare(const Text& method, const Text& contentName, const Text& contentType, const Text& contentId,
                     const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::shareEventWithMethod(method, contentName, contentType, contentId,
                                                  converted(customAttributes)));
}

void Tally::logInvite(const Text& method, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::inviteEventWithMethod(method, converted(customAttributes)));
}

void Tally::logPurchase(const Price& price, const Text& currency, std::optional<bool> success, const Text& itemName,
                        const Text& itemType, const Text& itemId, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::purchaseEventWithPrice(price, currency, success, itemName, itemType, itemId,
                                                    converted(customAttributes)));
}

void Tally::logLevelStart(const Text& levelName, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::levelStartEventWithLevelName(levelName, converted(customAttributes)));
}

void Tally::logLevelEnd(const Text& levelName, const Number& score, std::optional<bool> success,
                        const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::levelEndEventWithLevelName(levelName, score, success, converted(customAttributes)));
}

void Tally::logAddToCart(const Price& price, const Text& currency, const Text& itemName, const Text& itemType,
                         const Text& itemId, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::addToCartEventWithPrice(price, currency, itemName, itemType, itemId,
                                                     converted(customAttributes)));
}

void Tally::logStartCheckout(const Price& price, const Text& currency, const Number& itemCount,
                             const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::startCheckoutEventWithPrice(price, currency, itemCount, converted(customAttributes)));
}

void Tally::logRating(const Number& rating, const Text& contentName, const Text& contentType, const Text& contentId,
                      const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::ratingEventWithRating(rating, contentName, contentType, contentId,
                                                   converted(customAttributes)));
}

void Tally::logContentView(const Text& contentName, const Text& contentType, const Text& contentId,
                           const CustomAttributes& customAttributes)
{
    hand(
        TLYPredefinedEvent::contentViewEventWithName(contentName, contentType, contentId, converted(customAttributes)));
}

void Tally::logSearch(const Text& query, const CustomAttributes& customAttributes)
{
    hand(TLYPredefinedEvent::searchEventWithQuery(query, converted(customAttributes)));
}

void Tally::logPreviousSessionCrashedOnDate(std::optional<foundation::Date> date)
{
    if (!date)
        return;
    if (auto controller = sharedInstance().tallyController())
        controller->logCrashEvent(std::make_shared<TLYCrashEvent>(*date, 0));
}

} // namespace kits

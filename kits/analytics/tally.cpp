// The analytics kit's entry points: building events and handing them to the current controller.

#include "kits/analytics/tally.h"

#include <utility>

namespace kits {

Tally& Tally::sharedInstance()
{
    static Tally instance;
    return instance;
}

KitClass Tally::kitClass()
{
    KitClass kit{
        .name = "Tally",
        .conformsToKSTKit = true,
        .bundleIdentifier = "com.mirrowick.tally.mac",
        .kitDisplayVersion = "1.3.4",
        .initializeIfNeeded = [] { sharedInstance().start(); },
        .sharedInstance = {},
    };
    // Registered here, where the host asks for it: a static library drops unreferenced initialisers.
    KitRegistry::registerKitClass(kit);
    return kit;
}

void Tally::start()
{
    std::lock_guard lock(mutex_);
    if (started_)
        return;
    started_ = true;
    if (!tallyController_)
        tallyController_ = std::make_shared<TLYRecordingEventController>();
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
void Tally::hand(TLYEvent event)
{
    if (auto controller = sharedInstance().tallyController())
        controller->queueEvent(std::move(event));
}

void Tally::logCustomEvent(const std::string& name, const std::optional<Attributes>& customAttributes)
{
    hand(TLYCustomEvent{name, customAttributes.value_or(Attributes{})});
}

void Tally::logContentView(const std::optional<std::string>& contentName, const std::optional<std::string>& contentType,
                           const std::optional<std::string>& contentId,
                           const std::optional<Attributes>& customAttributes)
{
    Attributes predefined;
    if (contentName)
        predefined.emplace("content_name", *contentName);
    if (contentType)
        predefined.emplace("content_type", *contentType);
    if (contentId)
        predefined.emplace("content_id", *contentId);
    hand(TLYPredefinedEvent{"content_view", customAttributes.value_or(Attributes{}), std::move(predefined)});
}

} // namespace kits

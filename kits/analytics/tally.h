// The analytics kit's public class: the host logs custom events and content views through its class
// methods, which hand them to the shared instance's event controller. Until the kit has started there
// is no controller and events are dropped without a message.
#pragma once

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

    // A custom event of that name and attributes; the caller learns nothing of the outcome.
    static void logCustomEvent(const std::string& name, const std::optional<Attributes>& customAttributes);
    // The predefined "content_view" event; each absent text adds no predefined attribute.
    static void logContentView(const std::optional<std::string>& contentName,
                               const std::optional<std::string>& contentType,
                               const std::optional<std::string>& contentId,
                               const std::optional<Attributes>& customAttributes);

    // Replaces the event controller (nullptr: back to not started). Tests only.
    static void setEventControllerForTesting(std::shared_ptr<TLYEventController> controller);

    // Creates the event controller; later calls do nothing.
    void start();
    // The current controller; nullptr until the kit has started.
    std::shared_ptr<TLYEventController> tallyController() const;

    Tally(const Tally&) = delete;
    Tally& operator=(const Tally&) = delete;

private:
    Tally() = default;
    static void hand(TLYEvent event);

    mutable std::mutex mutex_;
    bool started_ = false;
    std::shared_ptr<TLYEventController> tallyController_;
};

} // namespace kits

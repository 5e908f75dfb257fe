// The store of the main-window tests plus a recorder of the usage events the panes send.
#pragma once

#include "mainwindow/store_fixture.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class InspectorFixture : public StoreFixture {
protected:
    InspectorFixture() { kits::Tally::setEventControllerForTesting(events_); }
    ~InspectorFixture() override { kits::Tally::setEventControllerForTesting(nullptr); }

    // Names of the custom events and content views sent so far, in order.
    std::vector<std::string> eventNames() const
    {
        std::vector<std::string> names;
        for (const kits::TLYEvent& event : events_->events()) {
            if (const auto* custom = std::get_if<kits::TLYCustomEvent>(&event))
                names.push_back(custom->customEventName);
            else
                names.push_back("view");
        }
        return names;
    }
    kits::Attributes lastAttributes() const
    {
        const auto events = events_->events();
        const auto* custom = events.empty() ? nullptr : std::get_if<kits::TLYCustomEvent>(&events.back());
        return custom ? custom->customAttributes : kits::Attributes{};
    }
    // The end of an event-loop turn: one change notice.
    void endTurn() { context_->processPendingChanges(); }

    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
};

} // namespace testsupport

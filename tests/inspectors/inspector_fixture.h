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
        for (const auto& event : events_->events()) {
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
                names.push_back(custom->customEventName().value_or(""));
            else
                names.push_back("view");
        }
        return names;
    }
    foundation::PropertyListDictionary lastAttributes() const
    {
        const auto events = events_->events();
        const auto* custom = events.empty() ? nullptr : dynamic_cast<const kits::TLYCustomEvent*>(events.back().get());
        return custom ? custom->customAttributes().dictionaryRepresentation() : foundation::PropertyListDictionary{};
    }
    // The end of an event-loop turn: one change notice.
    void endTurn() { context_->processPendingChanges(); }

    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
};

} // namespace testsupport

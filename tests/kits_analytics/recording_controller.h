// Installs a fresh recording controller as Tally's for one test and removes it afterwards, so every
// test sees only its own events; the events come back as plain values to compare.
#pragma once

#include "foundation/property_list_json.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"

#include <gtest/gtest.h>

#include <ostream>

// A recorded event: its log name, its type (custom name or predefined type) and its attributes as the
// payload carries them.
struct RecordedEvent {
    std::string name;
    std::string type;
    foundation::PropertyListDictionary custom;
    foundation::PropertyListDictionary predefined;
    bool operator==(const RecordedEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& stream, const RecordedEvent& event)
{
    return stream << event.name << " " << event.type << " " << foundation::jsonFromPropertyList(event.custom) << " "
                  << foundation::jsonFromPropertyList(event.predefined);
}

inline RecordedEvent customEvent(std::string name, foundation::PropertyListDictionary attributes = {})
{
    return {"custom", std::move(name), std::move(attributes), {}};
}

inline RecordedEvent predefinedEvent(std::string type, foundation::PropertyListDictionary custom,
                                     foundation::PropertyListDictionary predefined)
{
    return {"predefined", std::move(type), std::move(custom), std::move(predefined)};
}

inline RecordedEvent recordedEvent(const kits::TLYEvent& event)
{
    if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(&event))
        return {event.name(),
                custom->customEventName().value_or("<none>"),
                custom->customAttributes().dictionaryRepresentation(),
                {}};
    if (const auto* predefined = dynamic_cast<const kits::TLYPredefinedEvent*>(&event))
        return {event.name(), predefined->predefinedEventName(),
                predefined->customAttributes().dictionaryRepresentation(),
                predefined->predefinedAttributes().dictionaryRepresentation()};
    return {event.name(), {}, {}, {}};
}

class TallyTest : public ::testing::Test {
protected:
    void SetUp() override { kits::Tally::setEventControllerForTesting(recorder); }
    void TearDown() override { kits::Tally::setEventControllerForTesting(nullptr); }

    std::vector<RecordedEvent> recorded() const
    {
        std::vector<RecordedEvent> events;
        for (const auto& event : recorder->events())
            events.push_back(recordedEvent(*event));
        return events;
    }

    // The one event recorded; fails the test when there is not exactly one.
    RecordedEvent onlyEvent() const
    {
        auto events = recorded();
        EXPECT_EQ(events.size(), 1u);
        return events.size() == 1 ? events.front() : RecordedEvent{"<no single event>", {}, {}, {}};
    }

    std::shared_ptr<kits::TLYRecordingEventController> recorder = std::make_shared<kits::TLYRecordingEventController>();
};

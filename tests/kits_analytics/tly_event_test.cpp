// The events' log names, payloads, flush flags and timestamps: custom (also without a name),
// predefined, crash (its own time) and lifecycle events from notifications.
#include "kits/analytics/tly_event.h"

#include "foundation/notification_center.h"
#include "foundation/property_list_json.h"

#include <gtest/gtest.h>

using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::TLYCrashEvent;
using kits::TLYCustomEvent;
using kits::TLYLifecycleEvent;
using kits::TLYPredefinedEvent;

namespace {

// The payload as JSON, with the event's own identifier replaced by "<id>".
std::string payloadText(const kits::TLYEvent& event)
{
    auto payload = event.dictionaryRepresentation();
    EXPECT_EQ(*payload.get<std::string>("eventId"), event.identifier());
    payload.set("eventId", "<id>");
    return foundation::jsonFromPropertyList(payload);
}

} // namespace

TEST(TLYEvent, TheBaseEventHasItsDefaults)
{
    const auto made = foundation::dateFromSecondsSinceEpoch(1700000000.5);
    foundation::ScopedClock clock(std::make_shared<foundation::FixedClock>(made));
    const kits::TLYEvent event;
    EXPECT_EQ(event.name(), "unknown");
    EXPECT_TRUE(event.dictionaryRepresentation().empty());
    EXPECT_FALSE(event.triggersFlush());
    EXPECT_EQ(event.timestamp(), made);
    EXPECT_EQ(event.identifier().size(), 36u);
    EXPECT_NE(event.identifier(), kits::TLYEvent().identifier());
}

TEST(TLYEvent, ACustomEventCarriesItsTypeAndAttributes)
{
    const TLYCustomEvent event("Start Timer", PropertyListDictionary{{"value", false}});
    EXPECT_EQ(event.name(), "custom");
    EXPECT_EQ(payloadText(event),
              R"({"eventId":"<id>","custom_type":"Start Timer","custom_attributes":{"value":false}})");
    EXPECT_FALSE(event.triggersFlush());
    EXPECT_EQ(event.description(), "<TLYCustomEvent: Start Timer\n{\"value\":false}>");

    // Without a name the attributes stay and the type is left out.
    const TLYCustomEvent unnamed(std::nullopt, PropertyListDictionary{{"a", "b"}});
    EXPECT_EQ(payloadText(unnamed), R"({"eventId":"<id>","custom_attributes":{"a":"b"}})");
}

TEST(TLYEvent, AContentViewIsAPredefinedEvent)
{
    const auto event =
        TLYPredefinedEvent::contentViewEventWithName("About window", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(event->name(), "predefined");
    EXPECT_EQ(payloadText(*event), R"({"eventId":"<id>","predefined_type":"content_view","custom_attributes":{},)"
                                   R"("predefined_attributes":{"content_name":"About window"}})");
    EXPECT_EQ(event->description(), "<TLYPredefinedEvent: content_view\n{\"content_name\":\"About window\"}\n{}>");
}

TEST(TLYEvent, ACrashEventCarriesTheCrashTimeAndState)
{
    const auto crashed = foundation::dateFromSecondsSinceEpoch(1704103200); // 2024-01-01T10:00:00Z
    const TLYCrashEvent unknown(crashed, 0);
    EXPECT_EQ(unknown.name(), "app_crashed");
    EXPECT_EQ(unknown.timestamp(), crashed);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(unknown.timestamp().time_since_epoch()).count(),
              1704103200000);
    EXPECT_EQ(payloadText(unknown), R"({"eventId":"<id>","crash_state":"unknown"})");
    EXPECT_EQ(*TLYCrashEvent(crashed, 1).dictionaryRepresentation().get<std::string>("crash_state"), "foreground");
    EXPECT_EQ(*TLYCrashEvent(crashed, 2).dictionaryRepresentation().get<std::string>("crash_state"), "background");
    EXPECT_EQ(*TLYCrashEvent(crashed, 3).dictionaryRepresentation().get<std::string>("crash_state"), "unknown");
    EXPECT_FALSE(unknown.triggersFlush());
}

TEST(TLYEvent, LifecycleEventsNameTheirNotificationAndOnlyThreeFlush)
{
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"NSApplicationWillTerminateNotification", "app_terminated", false},
        {"NSApplicationWillResignActiveNotification", "app_became_inactive", true},
        {"NSApplicationDidBecomeActiveNotification", "app_became_active", true},
        {"SomethingElse", "unknown-notification", false},
    };
    for (const auto& [notification, name, flushes] : cases) {
        foundation::Notification posted;
        posted.name = notification;
        const auto event = TLYLifecycleEvent::eventWithNotification(posted);
        EXPECT_EQ(event->name(), name);
        EXPECT_EQ(event->triggersFlush(), flushes) << name;
        EXPECT_EQ(payloadText(*event), R"({"eventId":"<id>"})");
    }
    EXPECT_EQ(TLYLifecycleEvent::installEvent()->name(), "app_installed");
    EXPECT_TRUE(TLYLifecycleEvent::installEvent()->triggersFlush());
    EXPECT_EQ(TLYLifecycleEvent::appLaunchedEvent()->name(), "app_launched");
    EXPECT_FALSE(TLYLifecycleEvent::appLaunchedEvent()->triggersFlush());
}

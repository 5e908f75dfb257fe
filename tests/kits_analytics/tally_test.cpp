// The analytics kit's public class against a recording event controller: custom and content-view
// events keep their names and attribute kinds, nothing is handed on without a controller, threads lose
// nothing, and the recorder keeps only its most recent events.
#include "kits/analytics/tally.h"

#include "recording_controller.h"

#include <gtest/gtest.h>

#include <thread>

using kits::Attributes;
using kits::Tally;
using kits::TLYCustomEvent;
using kits::TLYPredefinedEvent;
using kits::TLYRecordingEventController;

TEST_F(TallyTest, CustomEventKeepsNameAndAttributeKinds)
{
    Tally::logCustomEvent(
        "Checkout",
        Attributes{{"text", std::string("a")}, {"flag", false}, {"count", std::int64_t{3}}, {"ratio", 0.5}});
    Tally::logCustomEvent("Plain", std::nullopt);

    auto events = recorder->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(
        std::get<TLYCustomEvent>(events[0]),
        (TLYCustomEvent{"Checkout",
                        {{"text", std::string("a")}, {"flag", false}, {"count", std::int64_t{3}}, {"ratio", 0.5}}}));
    EXPECT_TRUE(std::holds_alternative<bool>(std::get<TLYCustomEvent>(events[0]).customAttributes.at("flag")));
    EXPECT_EQ(std::get<TLYCustomEvent>(events[1]), (TLYCustomEvent{"Plain", {}}));
}

TEST_F(TallyTest, ContentViewIsThePredefinedEventWithOnlyTheGivenTexts)
{
    Tally::logContentView("Export", std::nullopt, std::nullopt, std::nullopt);
    Tally::logContentView("Item", "article", "42", Attributes{{"source", std::string("list")}});

    auto events = recorder->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<TLYPredefinedEvent>(events[0]),
              (TLYPredefinedEvent{"content_view", {}, {{"content_name", std::string("Export")}}}));
    EXPECT_EQ(std::get<TLYPredefinedEvent>(events[1]), (TLYPredefinedEvent{"content_view",
                                                                           {{"source", std::string("list")}},
                                                                           {{"content_name", std::string("Item")},
                                                                            {"content_type", std::string("article")},
                                                                            {"content_id", std::string("42")}}}));
}

TEST_F(TallyTest, EventsWithoutAControllerAreDropped)
{
    Tally::setEventControllerForTesting(nullptr);
    Tally::logCustomEvent("Lost", std::nullopt);
    Tally::setEventControllerForTesting(recorder);
    Tally::logCustomEvent("Kept", std::nullopt);
    EXPECT_EQ(onlyCustomEvent().customEventName, "Kept");
}

TEST_F(TallyTest, LoggingFromSeveralThreadsLosesNothing)
{
    std::vector<std::thread> loggers;
    for (int thread = 0; thread < 4; ++thread)
        loggers.emplace_back([] {
            for (int index = 0; index < 100; ++index)
                Tally::logCustomEvent("Tick", std::nullopt);
        });
    for (auto& logger : loggers)
        logger.join();
    EXPECT_EQ(recorder->events().size(), 400u);
}

TEST(TLYRecordingEventController, KeepsTheMostRecentEventsUpToItsCapacity)
{
    TLYRecordingEventController controller(2);
    for (const char* name : {"first", "second", "third"})
        controller.queueEvent(TLYCustomEvent{name, {}});
    auto events = controller.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<TLYCustomEvent>(events[0]).customEventName, "second");
    EXPECT_EQ(std::get<TLYCustomEvent>(events[1]).customEventName, "third");
}

// The analytics kit's public class against a recording event controller: custom events keep their
// names and attribute kinds, every predefined event adds its own keys in its order, crashes go the
// crash path, events carry the call's time, nothing is handed on without a controller, threads lose
// nothing, and the recorder keeps only its most recent events.
#include "kits/analytics/tally.h"

#include "recording_controller.h"

#include <gtest/gtest.h>

#include <thread>

using foundation::PropertyListDictionary;
using kits::Attributes;
using kits::Tally;
using kits::TLYRecordingEventController;

namespace {

// The predefined attributes' keys in the order they were added.
std::vector<std::string> keysOf(const kits::TLYEvent& event)
{
    std::vector<std::string> keys;
    for (const auto& entry :
         dynamic_cast<const kits::TLYPredefinedEvent&>(event).predefinedAttributes().rawDictionary())
        keys.push_back(entry.key);
    return keys;
}

// The value under `key`; null when absent.
foundation::PropertyListValue valueOf(const PropertyListDictionary& dictionary, std::string_view key)
{
    const auto* value = dictionary.find(key);
    return value ? *value : foundation::PropertyListValue();
}

} // namespace

TEST_F(TallyTest, CustomEventKeepsNameAndAttributeKinds)
{
    Tally::logCustomEvent(
        "Checkout",
        Attributes{{"text", std::string("a")}, {"flag", false}, {"count", std::int64_t{3}}, {"ratio", 0.5}});
    Tally::logCustomEvent("Plain", std::nullopt);

    auto events = recorded();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], customEvent("Checkout", {{"text", "a"}, {"flag", false}, {"count", 3}, {"ratio", 0.5}}));
    EXPECT_TRUE(valueOf(events[0].custom, "flag").holds<bool>());
    EXPECT_TRUE(valueOf(events[0].custom, "count").holds<std::int64_t>());
    EXPECT_EQ(events[1], customEvent("Plain"));
}

TEST_F(TallyTest, ContentViewIsThePredefinedEventWithOnlyTheGivenTexts)
{
    Tally::logContentView("Export", std::nullopt, std::nullopt, std::nullopt);
    Tally::logContentView("Item", "article", "42", Attributes{{"source", std::string("list")}});

    auto events = recorded();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], predefinedEvent("content_view", {}, {{"content_name", "Export"}}));
    EXPECT_EQ(events[1],
              predefinedEvent("content_view", {{"source", "list"}},
                              {{"content_name", "Item"}, {"content_type", "article"}, {"content_id", "42"}}));
}

TEST_F(TallyTest, EveryPredefinedEventAddsItsKeysInItsOrder)
{
    const auto price = foundation::Decimal::parse("9.99");
    Tally::logSignUp("mail", true, std::nullopt);
    Tally::logLogin("mail", false, std::nullopt);
    Tally::logShare("link", "n", "t", "i", std::nullopt);
    Tally::logInvite("sms", std::nullopt);
    Tally::logPurchase(price, "EUR", true, "n", "t", "i", std::nullopt);
    Tally::logLevelStart("one", std::nullopt);
    Tally::logLevelEnd("one", 120, false, std::nullopt);
    Tally::logAddToCart(price, "EUR", "n", "t", "i", std::nullopt);
    Tally::logStartCheckout(price, "EUR", 2, std::nullopt);
    Tally::logRating(4.5, "n", "t", "i", std::nullopt);
    Tally::logContentView("n", "t", "i", std::nullopt);
    Tally::logSearch("query text", Attributes{{"page", std::int64_t{2}}});

    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {"sign_up", {"method", "success"}},
        {"login", {"method", "success"}},
        {"share", {"method", "content_name", "content_type", "content_id"}},
        {"invite", {"method"}},
        {"purchase", {"item_price", "currency", "success", "item_name", "item_type", "item_id"}},
        {"level_start", {"level_name"}},
        {"level_end", {"level_name", "score", "success"}},
        {"add_to_cart", {"item_price", "currency", "item_name", "item_type", "item_id"}},
        {"start_checkout", {"total_price", "currency", "item_count"}},
        {"rating", {"rating", "content_name", "content_type", "content_id"}},
        {"content_view", {"content_name", "content_type", "content_id"}},
        {"search", {"query"}},
    };
    const auto events = recorder->events();
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(recordedEvent(*events[index]).type, expected[index].first);
        EXPECT_EQ(keysOf(*events[index]), expected[index].second) << expected[index].first;
    }
    EXPECT_EQ(recordedEvent(*events[0]).predefined, (PropertyListDictionary{{"method", "mail"}, {"success", "true"}}));
    EXPECT_EQ(valueOf(recordedEvent(*events[4]).predefined, "item_price"), foundation::PropertyListValue(9990000));
    EXPECT_EQ(valueOf(recordedEvent(*events[8]).predefined, "total_price"), foundation::PropertyListValue(9990000));
    EXPECT_EQ(valueOf(recordedEvent(*events[6]).predefined, "score"), foundation::PropertyListValue(120));
    EXPECT_EQ(valueOf(recordedEvent(*events[9]).predefined, "rating"), foundation::PropertyListValue(4.5));
    EXPECT_EQ(recordedEvent(*events[11]), predefinedEvent("search", {{"page", 2}}, {{"query", "query text"}}));
}

TEST_F(TallyTest, EventsCarryTheTimeOfTheCallAndANewIdentifier)
{
    const auto made = foundation::dateFromSecondsSinceEpoch(1704103200.25);
    foundation::ScopedClock clock(std::make_shared<foundation::FixedClock>(made));
    Tally::logCustomEvent("One", std::nullopt);
    Tally::logCustomEvent("Two", std::nullopt);
    const auto events = recorder->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->timestamp(), made);
    EXPECT_EQ(events[0]->identifier().size(), 36u);
    EXPECT_NE(events[0]->identifier(), events[1]->identifier());
}

TEST_F(TallyTest, APreviousSessionsCrashGoesTheCrashPathWithItsDate)
{
    Tally::logPreviousSessionCrashedOnDate(std::nullopt);
    EXPECT_TRUE(recorder->events().empty());

    const auto crashed = foundation::dateFromSecondsSinceEpoch(1704103200);
    Tally::logPreviousSessionCrashedOnDate(crashed);
    const auto events = recorder->events();
    ASSERT_EQ(events.size(), 1u);
    const auto* crash = dynamic_cast<const kits::TLYCrashEvent*>(events[0].get());
    ASSERT_NE(crash, nullptr);
    EXPECT_EQ(crash->timestamp(), crashed);
    EXPECT_EQ(valueOf(crash->dictionaryRepresentation(), "crash_state"), foundation::PropertyListValue("unknown"));
}

TEST_F(TallyTest, EventsWithoutAControllerAreDropped)
{
    Tally::setEventControllerForTesting(nullptr);
    Tally::logCustomEvent("Lost", std::nullopt);
    Tally::logPreviousSessionCrashedOnDate(foundation::now());
    Tally::setEventControllerForTesting(recorder);
    Tally::logCustomEvent("Kept", std::nullopt);
    EXPECT_EQ(onlyEvent(), customEvent("Kept"));
}

TEST_F(TallyTest, LoggingFromSeveralThreadsLosesNothing)
{
    std::vector<std::thread> loggers;
    for (int thread = 0; thread < 4; ++thread)
        loggers.emplace_back([] {
            for (int index = 0; index < 100; ++index)
                Tally::logCustomEvent("Tick", Attributes{{"index", std::int64_t{index}}});
        });
    for (auto& logger : loggers)
        logger.join();
    EXPECT_EQ(recorder->events().size(), 400u);
}

TEST(TLYRecordingEventController, KeepsTheMostRecentEventsUpToItsCapacity)
{
    TLYRecordingEventController controller(2);
    for (const char* name : {"first", "second", "third"})
        controller.logEvent(std::make_shared<kits::TLYCustomEvent>(name, std::nullopt));
    auto events = controller.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(recordedEvent(*events[0]), customEvent("second"));
    EXPECT_EQ(recordedEvent(*events[1]), customEvent("third"));
}

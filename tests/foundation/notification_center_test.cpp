#include "foundation/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using foundation::Notification;
using foundation::NotificationCenter;
using foundation::ObserverToken;

TEST(NotificationCenter, DeliversByNameAndSender)
{
    NotificationCenter center;
    int sender = 0, other = 0;
    std::vector<std::string> seen;
    auto any = center.addObserver("Tick", nullptr, [&](const Notification& n) { seen.push_back("any:" + n.name); });
    auto only = center.addObserver("Tick", &sender, [&](const Notification&) { seen.push_back("sender"); });
    auto unrelated = center.addObserver("Tock", nullptr, [&](const Notification&) { seen.push_back("tock"); });

    center.post("Tick", &other);
    center.post("Tick", &sender, {{"count", 3}});
    EXPECT_EQ(seen, (std::vector<std::string>{"any:Tick", "any:Tick", "sender"}));
}

TEST(NotificationCenter, TokenEndsSubscription)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto token = center.addObserver("Tick", nullptr, [&](const Notification&) { ++calls; });
        center.post("Tick");
    }
    center.post("Tick");
    EXPECT_EQ(calls, 1);

    auto token = center.addObserver("Tick", nullptr, [&](const Notification&) { ++calls; });
    ObserverToken moved = std::move(token);
    EXPECT_FALSE(token.active());
    EXPECT_TRUE(moved.active());
    center.post("Tick");
    moved.reset();
    center.post("Tick");
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, ObserverRemovedDuringPostIsNotCalled)
{
    NotificationCenter center;
    int secondCalls = 0;
    ObserverToken second;
    auto first = center.addObserver("Tick", nullptr, [&](const Notification&) { second.reset(); });
    second = center.addObserver("Tick", nullptr, [&](const Notification&) { ++secondCalls; });
    center.post("Tick");
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, ObserverAddedDuringPostWaitsForNextPost)
{
    NotificationCenter center;
    int lateCalls = 0;
    ObserverToken late;
    auto first = center.addObserver("Tick", nullptr, [&](const Notification&) {
        if (!late.active())
            late = center.addObserver("Tick", nullptr, [&](const Notification&) { ++lateCalls; });
    });
    center.post("Tick");
    EXPECT_EQ(lateCalls, 0);
    center.post("Tick");
    EXPECT_EQ(lateCalls, 1);
}

TEST(NotificationCenter, UserInfoIsTyped)
{
    Notification n{"X", nullptr, {{"count", 3}, {"name", std::string("a")}}};
    ASSERT_NE(n.info<int>("count"), nullptr);
    EXPECT_EQ(*n.info<int>("count"), 3);
    EXPECT_EQ(n.info<std::string>("count"), nullptr);
    EXPECT_EQ(n.info<int>("missing"), nullptr);
}

TEST(NotificationCenter, HandlerMayResetItsOwnToken)
{
    NotificationCenter center;
    int calls = 0;
    ObserverToken token;
    token = center.addObserver("Tick", nullptr, [&](const Notification&) {
        ++calls;
        token.reset(); // must not wait for its own delivery
    });
    center.post("Tick");
    center.post("Tick");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, NoObserverRunsAfterItsResetReturnedWhileOtherThreadsPost)
{
    NotificationCenter center;
    std::atomic<bool> stop{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
    std::vector<std::thread> posters;
    for (int poster = 0; poster < 8; ++poster)
        posters.emplace_back([&] {
            while (!stop.load())
                center.post("Tick");
        });
    std::vector<std::thread> subscribers;
    for (int subscriber = 0; subscriber < 4; ++subscriber)
        subscribers.emplace_back([&] {
            for (int round = 0; round < 300; ++round) {
                auto resetReturned = std::make_shared<std::atomic<bool>>(false);
                ObserverToken token = center.addObserver("Tick", nullptr, [&, resetReturned](const Notification&) {
                    ++calls;
                    std::this_thread::yield(); // widen the window in which a reset can arrive
                    if (resetReturned->load())
                        ++lateCalls;
                });
                std::this_thread::yield();
                token.reset();
                resetReturned->store(true);
            }
        });
    for (auto& subscriber : subscribers)
        subscriber.join();
    stop.store(true);
    for (auto& poster : posters)
        poster.join();
    EXPECT_GT(calls.load(), 0);
    EXPECT_EQ(lateCalls.load(), 0);
}

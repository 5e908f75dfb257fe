// Serial queues, the pool and the main-queue hand-over; the queue-thread table read from a signal
// handler and the threads' names; the virtual scheduler; the random source and the activity register.
#include "foundation/activity_register.h"
#include "foundation/dispatch_queue.h"
#include "foundation/random_source.h"
#include "foundation/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <future>
#include <pthread.h>
#include <set>
#include <thread>

using namespace foundation;
using namespace std::chrono_literals;

namespace {

// What the signal handler found for the thread it ran on.
char labelSeenInHandler[queueLabelCapacity];
volatile sig_atomic_t handlerFoundLabel = 0;

void readOwnLabel(int)
{
    handlerFoundLabel = queueLabelOfThread(currentThreadId(), labelSeenInHandler, sizeof labelSeenInHandler) ? 1 : 0;
}

} // namespace

TEST(SerialQueue, RunsWorkInOrderAndSyncOnTheCallersThread)
{
    SerialQueue queue("com.example.order");
    std::vector<int> order;
    for (int index = 0; index < 100; ++index)
        queue.async([&order, index] { order.push_back(index); });
    std::thread::id syncThread;
    bool currentInside = false;
    queue.sync([&] {
        syncThread = std::this_thread::get_id();
        currentInside = queue.isCurrent();
        order.push_back(100);
    });
    EXPECT_EQ(syncThread, std::this_thread::get_id());
    EXPECT_TRUE(currentInside);
    EXPECT_FALSE(queue.isCurrent());
    ASSERT_EQ(order.size(), 101u);
    for (int index = 0; index <= 100; ++index)
        EXPECT_EQ(order[index], index);
    EXPECT_EQ(queue.label(), "com.example.order");
}

TEST(SerialQueue, SignalHandlerReadsEachQueueThreadsLabelAndTheThreadCarriesItsName)
{
    struct sigaction action {};
    action.sa_handler = readOwnLabel;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    for (const auto& [label, name] : {std::pair{"com.example.kit.first", "first"},
                                      {"com.example.second", "second"},
                                      {"com.example.a-label-longer-than-a-name", "a-label-longer-"}}) {
        SerialQueue queue(label);
        char threadName[32] = {};
        queue.sync([] {}); // the thread has started and recorded itself
        queue.async([&threadName] {
            ::pthread_getname_np(::pthread_self(), threadName, sizeof threadName);
            ::pthread_kill(::pthread_self(), SIGUSR1);
        });
        queue.sync([&] {});
        EXPECT_EQ(handlerFoundLabel, 1) << label;
        EXPECT_STREQ(labelSeenInHandler, label);
        EXPECT_STREQ(threadName, name);
    }
    // A label without dots names its thread whole; a cut never splits a character (2 bytes each).
    EXPECT_EQ(threadNameOfLabel("plain"), "plain");
    EXPECT_EQ(threadNameOfLabel("trailing."), "trailing.");
    EXPECT_EQ(threadNameOfLabel("com.example.\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4"),
              "\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4");
    // A thread that is no queue thread has no label.
    char label[8];
    EXPECT_FALSE(queueLabelOfThread(currentThreadId(), label, sizeof label));
    ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(WorkerPool, GlobalPoolAndMainQueueRunWork)
{
    std::promise<bool> ran;
    WorkerPool::global().async([&] { ran.set_value(true); });
    EXPECT_TRUE(ran.get_future().get());

    std::promise<std::thread::id> fallback;
    MainQueue::setExecutor(nullptr);
    MainQueue::async([&] { fallback.set_value(std::this_thread::get_id()); });
    EXPECT_NE(fallback.get_future().get(), std::this_thread::get_id()); // a kit thread

    std::vector<Work> handed;
    MainQueue::setExecutor([&](Work work) { handed.push_back(std::move(work)); });
    bool mainRan = false;
    MainQueue::async([&] { mainRan = true; });
    ASSERT_EQ(handed.size(), 1u);
    handed.front()();
    EXPECT_TRUE(mainRan);
    MainQueue::setExecutor(nullptr);
}

// The application replaces its executor before its event loop goes: a kit thread inside the old
// executor at that moment must be done with it when the replacement returns. (The slow executor makes
// a replacement that does not wait all but certain to return first.)
TEST(WorkerPool, ReplacingTheMainExecutorWaitsForItsCallsUnderWay)
{
    std::promise<void> entered;
    std::atomic<bool> done = false;
    MainQueue::setExecutor([&](Work) {
        entered.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        done = true;
    });
    std::thread kit([] { MainQueue::async([] {}); });
    entered.get_future().wait();
    MainQueue::setExecutor([](Work) {}); // drops work from now on
    EXPECT_TRUE(done);
    kit.join();
    // An executor may hand work over itself, and may replace itself while doing so.
    bool replaced = false;
    MainQueue::setExecutor([&](Work work) {
        MainQueue::setExecutor(nullptr);
        replaced = true;
        work();
    });
    bool ran = false;
    MainQueue::async([&] { ran = true; });
    EXPECT_TRUE(replaced && ran);
}

TEST(Scheduler, VirtualClockRunsWorkWhenItsDelayHasPassed)
{
    VirtualScheduler scheduler;
    std::vector<std::string> ran;
    scheduler.after(2.0s, [&] { ran.push_back("delay"); });
    auto repeating = scheduler.every(1.0s, [&] { ran.push_back("tick"); });
    auto cancelled = scheduler.after(0.5s, [&] { ran.push_back("cancelled"); });
    cancelled.cancel();
    scheduler.advance(1.9s);
    EXPECT_EQ(ran, (std::vector<std::string>{"tick"}));
    scheduler.advance(0.1s);
    EXPECT_EQ(ran, (std::vector<std::string>{"tick", "delay", "tick"})); // a tie runs in asking order
    repeating.cancel();
    scheduler.advance(10s);
    EXPECT_EQ(ran.size(), 3u);
    EXPECT_EQ(scheduler.requestedDelays(), (std::vector<SchedulerDuration>{2.0s, 1.0s, 0.5s}));
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(Scheduler, TimerThreadRunsDelayedWork)
{
    auto installed = std::make_shared<VirtualScheduler>();
    setScheduler(installed);
    EXPECT_EQ(scheduler(), installed);
    setScheduler(nullptr);
    std::promise<void> ran;
    scheduler()->after(0.01s, [&] { ran.set_value(); });
    EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
}

TEST(Scheduler, TimersAddedWhileTheThreadWaitsForALaterOneAllRun)
{
    setScheduler(nullptr);
    // The thread sleeps until this far timer is due while the list of timers grows (and moves) under it.
    auto far = scheduler()->after(60s, [] {});
    std::this_thread::sleep_for(20ms);
    std::atomic<int> ran = 0;
    std::promise<void> all;
    constexpr int count = 100;
    for (int index = 0; index < count; ++index)
        scheduler()->after(std::chrono::duration<double>(0.0005 * index), [&] {
            if (++ran == count)
                all.set_value();
        });
    EXPECT_EQ(all.get_future().wait_for(10s), std::future_status::ready);
    far.cancel();
}

TEST(RandomSource, DrawsDifferFromThreadToThread)
{
    std::set<std::uint64_t> draws;
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread)
        threads.emplace_back([&] {
            const std::uint64_t value = randomUInt64();
            std::lock_guard lock(mutex);
            draws.insert(value);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(draws.size(), 8u);
    for (int draw = 0; draw < 1000; ++draw) {
        const double unit = randomUnit();
        EXPECT_GE(unit, 0.0);
        EXPECT_LT(unit, 1.0);
        const auto between = randomBetween(-3, 3);
        EXPECT_GE(between, -3);
        EXPECT_LE(between, 3);
    }
    EXPECT_EQ(randomBetween(5, 1), 5);
}

TEST(ActivityRegister, CountsActivitiesUntilTheyEnd)
{
    const std::size_t before = ActivityRegister::activeCount();
    auto upload = ActivityRegister::begin("upload");
    {
        auto write = ActivityRegister::begin("write");
        EXPECT_EQ(ActivityRegister::activeCount(), before + 2);
    }
    EXPECT_EQ(ActivityRegister::activeCount(), before + 1);
    EXPECT_FALSE(ActivityRegister::waitUntilIdle(10ms));
    std::thread ender([activity = std::move(upload)]() mutable {
        std::this_thread::sleep_for(20ms);
        activity.end();
    });
    EXPECT_TRUE(ActivityRegister::waitUntilIdle(10s));
    ender.join();
}

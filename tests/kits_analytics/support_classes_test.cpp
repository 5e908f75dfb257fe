// The analytics kit's support classes: the timer on the virtual scheduler (tolerance, first firing
// one interval out, the block run on its queue, stopped when destroyed), activities counted once in
// the activity register, the logger's prefixes and silence outside debug mode, and the host
// application's extension facts with their mal-formed messages.
#include "kits/analytics/tly_activity.h"
#include "kits/analytics/tly_application.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_timer.h"

#include "foundation/activity_register.h"
#include "foundation/main_bundle.h"
#include "kits/platform/kit_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using foundation::PropertyListDictionary;
using kits::TLYActivity;
using kits::TLYActivityOperation;
using kits::TLYApplication;
using kits::TLYLogger;
using kits::TLYTimer;

namespace {

// Captures the kits' console lines for one test.
class LogCapture {
public:
    LogCapture()
    {
        kits::setKitLogSink([this](std::string_view line) { lines_.emplace_back(line); });
    }
    ~LogCapture() { kits::setKitLogSink({}); }
    std::vector<std::string> lines() const { return lines_; }

private:
    std::vector<std::string> lines_; // the sink is called under the log's lock
};

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = foundation::scheduler();
        foundation::setScheduler(clock);
    }
    void TearDown() override { foundation::setScheduler(previous); }

    std::shared_ptr<foundation::VirtualScheduler> clock = std::make_shared<foundation::VirtualScheduler>();
    std::shared_ptr<foundation::Scheduler> previous;
};

} // namespace

TEST_F(TimerTest, RunsItsBlockOnItsQueueEveryIntervalUntilDestroyed)
{
    auto queue = std::make_shared<foundation::OperationQueue>(1);
    std::atomic<int> runs{0};
    std::mutex threadMutex;
    std::thread::id blockThread;
    auto timer = TLYTimer::initWithTimeInterval(300, queue, "flush", [&] {
        std::lock_guard lock(threadMutex);
        blockThread = std::this_thread::get_id();
        ++runs;
    });
    EXPECT_DOUBLE_EQ(timer->tolerance(), 30.0);
    EXPECT_EQ(timer->intervalNanoseconds(), 300'000'000'000u);
    EXPECT_EQ(timer->leewayNanoseconds(), 30'000'000'000u);
    ASSERT_EQ(clock->requestedDelays().size(), 1u);
    EXPECT_DOUBLE_EQ(clock->requestedDelays()[0].count(), 300.0);

    clock->advance(foundation::SchedulerDuration(299.9));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 0);
    clock->advance(foundation::SchedulerDuration(0.1));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 1);
    {
        std::lock_guard lock(threadMutex);
        EXPECT_NE(blockThread, std::this_thread::get_id()); // on the queue, not the scheduler's thread
    }
    clock->advance(foundation::SchedulerDuration(600));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 3);

    timer.reset();
    clock->advance(foundation::SchedulerDuration(900));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 3);
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST_F(TimerTest, RescheduleReplacesTheSourceAndABadIntervalSchedulesNothing)
{
    auto queue = std::make_shared<foundation::OperationQueue>(1);
    std::atomic<int> runs{0};
    auto timer = TLYTimer::initWithTimeInterval(10, queue, "flush", [&] { ++runs; });
    timer->scheduleTimer();
    clock->advance(foundation::SchedulerDuration(10));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs.load(), 1); // one source, not two
    EXPECT_EQ(clock->pendingCount(), 1u);

    LogCapture log;
    for (double interval : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
        auto bad = TLYTimer::initWithTimeInterval(interval, queue, "bad", [&] { ++runs; });
        EXPECT_FALSE(bad->isScheduled());
    }
    EXPECT_EQ(clock->pendingCount(), 1u);
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_EQ(log.lines()[0], "[Tally] Timer bad not scheduled: its interval must be a positive number of seconds");
}

TEST(ActivityTest, AnActivityCountsOnceInTheRegisterUntilItEnds)
{
    const std::size_t before = foundation::ActivityRegister::activeCount();
    auto first = TLYActivity::beginActivity("write event", 0xC0FF);
    auto second = TLYActivity::beginActivity("rotate logs", 0xC000);
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 2);
    EXPECT_EQ(first->options(), 49407u);
    EXPECT_EQ(first->reason(), "write event");
    EXPECT_EQ(first->backgroundTaskIdentifier(), 0u);
    EXPECT_FALSE(TLYActivity::supportsBackgroundTasks());

    first->end();
    first->end();
    EXPECT_FALSE(first->isActive());
    EXPECT_TRUE(second->isActive());
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 1);
    first.reset(); // destroying an ended activity ends nothing more
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 1);
    second.reset(); // destroying a running one ends it
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before);

    std::size_t during = 0;
    TLYActivity::performActivity("perform", 0x4000, [&] { during = foundation::ActivityRegister::activeCount(); });
    EXPECT_EQ(during, before + 1);
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before);
}

TEST(ActivityTest, OperationHoldsItsActivityUntilItRuns)
{
    const std::size_t before = foundation::ActivityRegister::activeCount();
    foundation::OperationQueue queue(1);
    auto gate = std::make_shared<foundation::BlockOperation>([] {});
    auto operation = TLYActivityOperation::operationByStartingActivityName("rotate", 0xC000);
    ASSERT_NE(operation->activity(), nullptr);
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 1);
    operation->addDependency(gate);
    queue.addOperation(operation);
    queue.addOperationWithBlock([] {}); // runs past the held-back operation
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(operation->isFinished()); // waits for its dependency
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before + 1);
    queue.addOperation(gate);
    operation->waitUntilFinished();
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), before);
}

TEST(LoggerTest, PrintsWithItsPrefixesOnlyInDebugMode)
{
    LogCapture log;
    auto& logger = TLYLogger::sharedLogger();
    EXPECT_EQ(&logger, &TLYLogger::sharedLogger());
    logger.setDebugMode(false);
    logger.log("quiet");
    logger.logWithLabel("Upload", "quiet");
    EXPECT_TRUE(log.lines().empty());

    logger.setDebugMode(true);
    logger.log("Events written");
    logger.logWithLabel("Upload", "3 files");
    logger.setDebugMode(false);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"[Tally] Events written", "[Tally:Upload] 3 files"}));
}

TEST(ApplicationTest, ExtensionFactsAndMalformedEntries)
{
    LogCapture log;
    const PropertyListDictionary facts{{"CFBundleIdentifier", "com.example.kittest"},
                                       {"CFBundleVersion", "42"},
                                       {"CFBundleShortVersionString", "1.2"}};

    PropertyListDictionary malformed = facts;
    malformed.set("NSExtension", "widget");
    TLYApplication stringExtension(std::make_shared<PropertyListDictionary>(malformed));
    EXPECT_FALSE(stringExtension.isExtension());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Error: NSExtension Info.plist entry is mal-formed widget"});
    EXPECT_EQ(stringExtension.bundleIdentifier(), "com.example.kittest");
    EXPECT_EQ(stringExtension.bundleVersion(), "42");
    EXPECT_EQ(stringExtension.shortVersionString(), "1.2");

    PropertyListDictionary badPoint = facts;
    badPoint.set("NSExtension", PropertyListDictionary{{"NSExtensionPointIdentifier", 7}});
    EXPECT_FALSE(TLYApplication(std::make_shared<PropertyListDictionary>(badPoint)).isExtension());
    EXPECT_EQ(log.lines().back(), "Error: NSExtensionPointIdentifier Info.plist entry is mal-formed");

    PropertyListDictionary extension = facts;
    extension.set("NSExtension", PropertyListDictionary{{"NSExtensionPointIdentifier", "com.example.share"}});
    TLYApplication realExtension(std::make_shared<PropertyListDictionary>(extension));
    EXPECT_TRUE(realExtension.isExtension());
    EXPECT_EQ(realExtension.extensionPointIdentifier(), "com.example.share");

    const std::size_t printed = log.lines().size();
    EXPECT_FALSE(TLYApplication(std::make_shared<PropertyListDictionary>(facts)).isExtension());
    EXPECT_FALSE(TLYApplication(nullptr).isExtension());
    EXPECT_FALSE(TLYApplication(nullptr).bundleIdentifier());
    EXPECT_EQ(log.lines().size(), printed); // an application without the entries prints nothing

    foundation::MainBundle::setInfoDictionary(std::make_shared<PropertyListDictionary>(extension));
    EXPECT_TRUE(TLYApplication::hostApplication().isExtension());
    foundation::MainBundle::setInfoDictionary(nullptr);
}

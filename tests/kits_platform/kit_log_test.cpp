// The kits' log: failures always reach the sink, informational lines only in debug mode, and lines
// from many threads arrive whole.
#include "kits/platform/kit_log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class KitLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    void TearDown() override
    {
        kits::setKitLogSink({});
        kits::setKitDebugLogging(false);
    }
    std::vector<std::string> lines; // written under the log's own lock
};

} // namespace

TEST_F(KitLogTest, InformationOnlyInDebugModeFailuresAlways)
{
    kits::kitDebugLog("[Keystone] info while quiet");
    kits::kitLog("[Keystone] failure while quiet");
    kits::setKitDebugLogging(true);
    EXPECT_TRUE(kits::isKitDebugLogging());
    kits::kitDebugLog("[Keystone] info in debug");
    EXPECT_EQ(lines, (std::vector<std::string>{"[Keystone] failure while quiet", "[Keystone] info in debug"}));
}

TEST_F(KitLogTest, LinesFromManyThreadsArriveWhole)
{
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 8; ++writer)
        writers.emplace_back([writer] {
            for (int line = 0; line < 200; ++line)
                kits::kitLog("writer " + std::to_string(writer) + " line " + std::to_string(line));
        });
    for (auto& writer : writers)
        writer.join();
    ASSERT_EQ(lines.size(), 1600u);
    for (const auto& line : lines)
        EXPECT_EQ(line.rfind("writer ", 0), 0u) << line;
}

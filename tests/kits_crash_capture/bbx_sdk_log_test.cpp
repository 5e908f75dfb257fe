// sdk.log: the conversions of its formatter, the level and context gates, and the byte budget once a
// capture has begun.
#include "kits/crash/capture/bbx_sdk_log.h"

#include "sdk_log_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using crashtest::contentsOf;

// Each test sets the log's context itself: the gates are what it checks.
class SDKLogTest : public crashtest::SDKLogFolderTest {
protected:
    SDKLogTest() : SDKLogFolderTest("bbx-sdk-log", LogContext::setByTheTest) {}
};

std::string formatted(const char* format, auto... arguments)
{
    char out[256];
    BBXSDKLogFormat(out, sizeof out, format, arguments...);
    return out;
}

} // namespace

TEST_F(SDKLogTest, WritesTheMessageAtOrAboveTheMinimumLevel)
{
    BBXSDKLogSetContext(logPath().c_str(), 1);
    BBXSDKFileLog(3, "WARN  [%s:%d] Signal: %d\n", "BBXSignalHandler", 12, 11);
    BBXSDKFileLog(1, "DEBUG [%s:%d] x\n", "f", 1);
    EXPECT_EQ(contentsOf(logPath()), "WARN  [BBXSignalHandler:12] Signal: 11\nDEBUG [f:1] x\n");

    BBXSDKLogSetContext(logPath().c_str(), 3);
    BBXSDKFileLog(2, "INFO  [%s:%d] below the minimum\n", "f", 2);
    BBXSDKFileLog(4, "ERROR [%s:%d] kept\n", "f", 3);
    EXPECT_EQ(contentsOf(logPath()), "WARN  [BBXSignalHandler:12] Signal: 11\nDEBUG [f:1] x\nERROR [f:3] kept\n");

    BBXSDKLogSetContext(nullptr, 1);
    BBXSDKFileLog(4, "ERROR [%s:%d] no context\n", "f", 4);
    EXPECT_EQ(contentsOf(logPath()).find("no context"), std::string::npos);
}

TEST(SDKLogFormat, Conversions)
{
    EXPECT_EQ(formatted("%p", static_cast<void*>(nullptr)), "0x0");
    EXPECT_EQ(formatted("%p", reinterpret_cast<void*>(0xdeadbeef00ULL)), "0xdeadbeef00");
    EXPECT_EQ(formatted("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(formatted("%x", 255u), "ff");
    EXPECT_EQ(formatted("%d %d %u", -2147483647 - 1, 0, 4294967295u), "-2147483648 0 4294967295");
    EXPECT_EQ(formatted("%zd %zu", static_cast<ssize_t>(-5), static_cast<std::size_t>(18446744073709551615ULL)),
              "-5 18446744073709551615");
    // Unknown conversions stand as they are and take no argument.
    EXPECT_EQ(formatted("%q %s", "next"), "%q next");
    EXPECT_EQ(formatted("100%"), "100%");
    char small[8];
    EXPECT_EQ(BBXSDKLogFormat(small, sizeof small, "%s", "abcdefghij"), 7u);
    EXPECT_STREQ(small, "abcdefg");
}

TEST_F(SDKLogTest, AfterACaptureBeganTheLogStopsAtItsBudget)
{
    BBXSDKLogSetContext(logPath().c_str(), 1);
    BBXSDKLogCaptureBegan();
    const std::string line(999, 'w');
    for (int index = 0; index < 1100; ++index)
        BBXSDKFileLog(3, "%s\n", line.c_str());
    const std::string log = contentsOf(logPath());
    EXPECT_LE(log.size(), BBXSDKLogCaptureBudget + 100);
    EXPECT_GE(log.size(), BBXSDKLogCaptureBudget - 1000);
    const std::string last = "WARN  [BBXSDKFileLog] Log truncated\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
}

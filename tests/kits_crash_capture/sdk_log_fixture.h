// The crash capture tests' shared fixture: each test gets a fresh folder whose sdk.log is the kit's
// log (from SetUp, unless the test sets the context itself), reset when the test ends.
#pragma once

#include "kits/crash/capture/bbx_sdk_log.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace crashtest {

inline std::string contentsOf(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

class SDKLogFolderTest : public ::testing::Test {
protected:
    enum class LogContext { fromSetUp, setByTheTest };

    explicit SDKLogFolderTest(const std::string& prefix, LogContext context = LogContext::fromSetUp)
        : folder(prefix), context_(context)
    {}
    void SetUp() override
    {
        if (context_ == LogContext::fromSetUp)
            BBXSDKLogSetContext(logPath().c_str(), 1);
    }
    void TearDown() override { BBXSDKLogSetContext(nullptr, 1); }
    std::filesystem::path logPath() const { return folder.path() / "sdk.log"; }

    testsupport::TempFolder folder;

private:
    LogContext context_;
};

} // namespace crashtest

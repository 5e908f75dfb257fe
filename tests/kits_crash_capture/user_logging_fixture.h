// The user-logging tests' shared set-up: the process's crash context with its log files in one folder
// (paths are copied into the context once), emptied and configured afresh for each test, and marked
// initialized only while a test runs.
#pragma once

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_user_logging.h"

#include "capture_context.h"
#include "foundation/dispatch_queue.h"
#include "kits/platform/kit_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace testsupport {

inline const std::filesystem::path& userLoggingFolder()
{
    static const TempFolder folder("bbx-user-logging");
    return folder.path();
}

class UserLoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        context = captureContext();
        ASSERT_NE(context, nullptr);
        static const bool pathsSet = [] {
            BBXContextInitData data;
            data.reportDirectory = userLoggingFolder().c_str();
            return BBXContextInitializeLogFiles(&data);
        }();
        ASSERT_TRUE(pathsSet);
        drainLoggingQueue();
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(userLoggingFolder(), ignored))
            std::filesystem::remove_all(entry.path(), ignored);
        configure([](BBXContextInitData&) {});
        wasInitialized = std::atomic_ref<std::uint8_t>(context->initialized).exchange(1);
        kits::setKitLogSink([this](std::string_view line) { console += std::string(line) + "\n"; });
    }
    void TearDown() override
    {
        drainLoggingQueue();
        kits::setKitLogSink({});
        if (context)
            std::atomic_ref<std::uint8_t>(context->initialized).store(wasInitialized);
    }

    // The kit's defaults (reporting on, 65536-byte logs, limits 16), changed by `change`.
    template <typename Change>
    void configure(Change change)
    {
        drainLoggingQueue();
        BBXContextInitData data;
        data.reportDirectory = userLoggingFolder().c_str();
        data.errorReportingEnabled = 1;
        data.customExceptionsEnabled = 1;
        data.maximumCustomExceptions = 16;
        data.logBufferSize = 65536;
        data.maximumCustomKeys = 16;
        change(data);
        BBXUserLoggingConfigure(files(), state(), data);
    }
    static void drainLoggingQueue()
    {
        BBXContextLoggingQueue()->sync([] {});
    }
    BBXUserLoggingFiles* files() const { return BBXUserLoggingContextFiles(); }
    BBXUserLoggingState* state() const { return BBXUserLoggingContextState(); }
    static std::filesystem::path file(const std::string& name) { return userLoggingFolder() / name; }

    BBXContext* context = nullptr;
    std::uint8_t wasInitialized = 0;
    std::string console;
};

} // namespace testsupport

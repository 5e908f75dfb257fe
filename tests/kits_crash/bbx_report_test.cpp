// The report handed to the host: values read on first use or prefetched, its own key-value stores,
// a crashed child's directory read back, and damaged directories that never crash the reader.
#include "kits/crash/bbx_report.h"

#include "kits/crash/capture/bbx_context.h"
#include "kits/crash/capture/bbx_user_logging.h"
#include "kits/platform/host_functions.h"
#include "kits/platform/kit_log.h"

#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/hex.h"
#include "support/mutator.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>

#ifndef HORAVINE_SANITIZED
#include "kits_crash_capture/crash_child_run.h"
#endif

namespace fs = std::filesystem;
using foundation::PropertyListValue;
using kits::BBXInternalReport;
using kits::BBXReport;

using testsupport::hex;
using testsupport::writeFile;

namespace {

const std::string metadata = R"({"identity":{"api_key":"k","started_at":1700000000,"session_id":"S1"}}
{"host":{"os_build_version":"6.1.0-18-amd64","os_display_version":"6.1.0"}}
{"application":{"build_version":"42","display_version":"1.2"}}
)";

// Report tests read directories without a capture context. Recording needs one, with its logging
// queue's thread: those run in a forked child (see recordingChild), so this process stays
// single-threaded for the other tests that fork.
class BBXReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([](std::string_view) {});
    }
    void TearDown() override { kits::setKitLogSink({}); }
    std::shared_ptr<BBXInternalReport> internalReport()
    {
        writeFile(folder.path() / "metadata.bbxrecord", metadata);
        return BBXInternalReport::reportWithPath(folder.path().string());
    }

    testsupport::TempFolder folder{"bbx-report"};
};

// Runs `scenario` in a child whose capture context exists, with its key-value limits set (16 user
// keys) and marked initialized; hands back what the scenario reports.
testsupport::ChildOutcome recordingChild(const std::function<std::string()>& scenario)
{
    return testsupport::runInChild([&scenario] {
        if (!BBXContextCreate())
            return std::string("no context");
        BBXContextInitData data;
        data.maximumCustomKeys = 16;
        BBXUserLoggingConfigure(BBXUserLoggingContextFiles(), BBXUserLoggingContextState(), data);
        std::atomic_ref<std::uint8_t>(BBXContextGet()->initialized).store(1);
        kits::setKitLogSink([](std::string_view) {});
        return scenario();
    });
}

std::string text(const std::optional<std::string>& value)
{
    return value ? *value : "none";
}

} // namespace

TEST_F(BBXReportTest, ValuesComeFromTheInternalReport)
{
    writeFile(folder.path() / "signal.bbxrecord", R"({"signal":{"time":1700000500}})");
    BBXReport report(internalReport());
    EXPECT_EQ(report.identifier(), "S1");
    EXPECT_EQ(report.bundleVersion(), "42");
    EXPECT_EQ(report.bundleShortVersionString(), "1.2");
    EXPECT_EQ(report.OSVersion(), "6.1.0");
    EXPECT_EQ(report.OSBuildVersion(), "6.1.0-18-amd64");
    EXPECT_EQ(report.dateCreated(), BBXReport::Date(std::chrono::seconds(1700000000)));
    EXPECT_EQ(report.crashedOnDate(), BBXReport::Date(std::chrono::seconds(1700000500)));
    EXPECT_EQ(report.isCrash(), true);
    EXPECT_FALSE(report.readOnly());
    EXPECT_FALSE(report.canRecordNewValues()) << "no capture context in this process";

    const auto storage = report.userKVStorage();
    EXPECT_EQ(std::string(storage.incrementalPath), (folder.path() / "user_incremental_kv.bbxrecord").string());
    EXPECT_EQ(std::string(storage.compactedPath), (folder.path() / "user_compacted_kv.bbxrecord").string());
    EXPECT_EQ(storage.maxIncrementalCount, 64u) << "the kit's defaults without a running store";
    EXPECT_EQ(storage.maxCount, 16u);
    EXPECT_EQ(report.internalKVStorage().maxCount, 32u);
    EXPECT_EQ(std::string(report.internalKVStorage().incrementalPath),
              (folder.path() / "internal_incremental_kv.bbxrecord").string());
}

TEST_F(BBXReportTest, IdentitySettersRecordButGettersGiveNothing)
{
    if (testsupport::processHasOtherThreads())
        GTEST_SKIP() << "the recording child starts queue threads, which needs a parent without others";
    auto internal = internalReport();
    const auto outcome = recordingChild([&] {
        BBXReport report(internal);
        std::string seen = report.canRecordNewValues() ? "can record;" : "cannot record;";
        report.setUserIdentifier("user-7");
        report.setUserName("Ada");
        report.setUserEmail(std::nullopt);
        seen += " getters " + text(report.userIdentifier()) + "/" + text(report.userName()) + ";";
        const auto storage = report.internalKVStorage();
        const auto stored = BBXUserLoggingGetCompactedKVEntries(&storage, true);
        for (const auto& entry : stored ? stored->entries() : std::vector<foundation::PropertyListEntry>{})
            seen += " " + entry.key + "=" + *entry.value.get<std::string>();
        const PropertyListValue score(std::int64_t{12});
        report.setObjectValueForKey(&score, "score");
        const auto again = BBXReport(BBXInternalReport::reportWithPath(internal->path())).customKeys();
        for (const auto& entry : again ? again->entries() : std::vector<foundation::PropertyListEntry>{})
            seen += "; custom " + entry.key + "=" + *entry.value.get<std::string>();
        return seen;
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.errors;
    EXPECT_EQ(outcome.report, "can record; getters none/none; com.faultmere.user-id=user-7 "
                              "com.faultmere.user-name=Ada; custom score=12");
    std::ifstream lines(folder.path() / "internal_incremental_kv.bbxrecord");
    std::string last;
    for (std::string line; std::getline(lines, line);)
        last = line;
    EXPECT_EQ(last, R"({"kv":{"key":")" + hex("com.faultmere.user-email") + R"(","value":null}})");
}

TEST_F(BBXReportTest, APrefetchedReportIsReadOnlyAndCopiedAtOnce)
{
    if (testsupport::processHasOtherThreads())
        GTEST_SKIP() << "the recording child starts queue threads, which needs a parent without others";
    writeFile(folder.path() / "user_incremental_kv.bbxrecord",
              R"({"kv":{"key":")" + hex("plan") + R"(","value":")" + hex("pro") + "\"}}\n");
    const std::string path = folder.path().string();
    const auto outcome = recordingChild([&] {
        BBXReport prefetched(BBXInternalReport::reportWithPath(path, "S2"), true);
        BBXReport lazy(BBXInternalReport::reportWithPath(path, "S3"));
        writeFile(fs::path(path) / "metadata.bbxrecord", metadata); // after both were made
        std::string seen =
            text(prefetched.identifier()) + " " + text(prefetched.bundleVersion()) + " " + text(lazy.bundleVersion());
        const auto keys = prefetched.customKeys();
        seen += keys && keys->get<std::string>("plan") ? " plan=" + *keys->get<std::string>("plan") : " no plan";
        seen += prefetched.isCrash() == false ? " no crash" : " crash?";
        seen += prefetched.readOnly() ? " read-only" : " writable";
        seen += prefetched.canRecordNewValues() ? " records" : " records nothing";
        prefetched.setUserIdentifier("nobody");
        const PropertyListValue value("x");
        prefetched.setObjectValueForKey(&value, "k");
        std::atomic_ref<std::uint8_t>(BBXContextGet()->initialized).store(0);
        seen += lazy.canRecordNewValues() ? "; uninitialized records" : "; uninitialized records nothing";
        lazy.setUserIdentifier("late");
        return seen;
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.errors;
    EXPECT_EQ(outcome.report, "S2 none 42 plan=pro no crash read-only records nothing; uninitialized records nothing");
    EXPECT_FALSE(fs::exists(folder.path() / "internal_incremental_kv.bbxrecord"));
    std::ifstream user(folder.path() / "user_incremental_kv.bbxrecord");
    EXPECT_EQ(std::distance(std::istreambuf_iterator<char>(user), {}), 43) << "the one pair written above";
}

#ifndef HORAVINE_SANITIZED
// The sanitizers install fault handlers of their own: only the plain build crashes children.
TEST_F(BBXReportTest, ACrashedChildsDirectoryReadsBack)
{
    const auto run = testsupport::runCrashChild("segv");
    ASSERT_TRUE(run.diedBy(SIGSEGV)) << run.errors;
    fs::remove(run.file(".stdout"));
    fs::remove(run.file(".stderr"));
    auto internal = BBXInternalReport::reportWithPath(run.folder->path().string());
    ASSERT_TRUE(internal);
    BBXReport report(internal, true);
    EXPECT_EQ(report.identifier(), "crash-child-session");
    EXPECT_EQ(report.isCrash(), true);
    EXPECT_TRUE(internal->needsToBeSubmitted());
    const auto signal = run.lines("signal.bbxrecord");
    ASSERT_FALSE(signal.empty());
    EXPECT_EQ(report.crashedOnDate(),
              BBXReport::Date(std::chrono::seconds(signal[0]["signal"]["time"].get<std::int64_t>())));
    EXPECT_EQ(report.OSVersion(), kits::KSTHostOSDisplayVersion());
    EXPECT_EQ(report.OSBuildVersion(), kits::KSTHostOSBuildVersion());
    const auto metadataLines = run.lines("metadata.bbxrecord");
    ASSERT_GE(metadataLines.size(), 3u);
    const auto& application = metadataLines[2]["application"];
    EXPECT_EQ(report.bundleVersion().has_value(), application["build_version"].is_string());
    EXPECT_EQ(report.bundleShortVersionString().has_value(), application["display_version"].is_string());
    EXPECT_EQ(report.dateCreated(),
              BBXReport::Date(std::chrono::seconds(metadataLines[0]["identity"]["started_at"].get<std::int64_t>())));
}
#endif

TEST_F(BBXReportTest, DamagedDirectoriesGiveAReportOrNone)
{
    // 100,000 rounds of file writes and reads: in memory when the system has a tmpfs for it.
    std::unique_ptr<testsupport::TempFolder> memoryFolder;
    if (fs::is_directory("/dev/shm")) {
        testsupport::ScopedEnvironment inMemory{{"TMPDIR", "/dev/shm"}};
        memoryFolder = std::make_unique<testsupport::TempFolder>("bbx-report-fuzz");
    }
    const fs::path directory = memoryFolder ? memoryFolder->path() : folder.path();
    const std::vector<std::pair<std::string, std::string>> files{
        {"metadata.bbxrecord", metadata},
        {"user_compacted_kv.bbxrecord", R"({"kv":{"key":")" + hex("a") + R"(","value":")" + hex("1") + "\"}}\n"},
        {"user_incremental_kv.bbxrecord", R"({"kv":{"key":")" + hex("b")
                                              + R"(","value":null}})"
                                                "\n"},
        {"log_a.bbxrecord", R"({"log":{"msg":"6869","time":1700000000000}})"
                            "\n"},
        {"errors_a.bbxrecord", R"({"error":{"domain":"44","code":-1,"time":1700000000,"stacktrace":[1,2]}})"
                               "\n"},
        {"signal.bbxrecord", R"({"signal":{"number":11,"time":1700000100}})"
                             "\n"},
    };
    for (const auto& [name, text] : files)
        writeFile(directory / name, text);
    std::vector<std::string> samples;
    for (const auto& file : files)
        samples.push_back(file.second);
    std::size_t round = 0;
    std::size_t reports = 0;
    const auto failure = testsupport::runParserCheck(
        samples, testsupport::fuzzSeed(3602), testsupport::fuzzMutationCount(), [&](std::string_view input) {
            // Each round damages one file in turn; the others keep their last damage.
            const auto& name = files[round++ % files.size()].first;
            writeFile(directory / name, std::string(input));
            auto internal = BBXInternalReport::reportWithPath(directory.string());
            if (!internal)
                return true;
            ++reports;
            BBXReport report(internal, true);
            (void)internal->APIKey();
            (void)internal->needsToBeSubmitted();
            return report.identifier().has_value() && report.customKeys().has_value();
        });
    EXPECT_FALSE(failure) << failure->where;
    EXPECT_GT(reports, 0u);
}

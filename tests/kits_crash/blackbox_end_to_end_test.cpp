// A crash reaches the reports service: the crash child, launched as an application that starts the
// kits through the kit platform, crashes in each way a process dies; its next launch sends the report
// to an HTTPS loopback server (its root pinned in the child) once, with launch 1's files and their
// symbolicated forms, and leaves only its own directory behind. Also the urgent road after an early
// death, a refused upload sent by a later launch, an accepted answer with a charset sent once over
// three launches, disabled reporting, a declining delegate, a clean previous launch and the crash
// date the delegate sees.
#ifndef HORAVINE_SANITIZED
// The sanitizers' own fault handlers stand in the capture's way: the plain build runs these.
#include "kits_crash_capture/crash_child_run.h"
#include "support/file_contents.h"
#include "support/gunzip.h"
#include "support/loopback_server.h"
#include "support/multipart_reader.h"
#include "support/suite_certificates.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::realTimeNanoseconds;
using testsupport::writeFile;

namespace {

const char* reportsPath = "/sdk-api/v1/platforms/mac/apps/org.example.crashchild/reports";

struct Launch {
    int status = -1; // as waitpid gives it; -1 when it could not be forked or had to be killed
    std::string output;
    std::string errors;
    std::string execution;
    long withReturned = 0;

    bool diedBy(int signal) const { return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal; }
    bool endedCleanly() const { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

struct Upload {
    long arrivedAt = 0;
    testsupport::RecordedRequest request;
};

class BlackboxEndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certificates.make("bbx-end-to-end-certs");
        writeFile(certificates.folder() / "pinned-root.der",
                  std::string(certificates->rootA.der.begin(), certificates->rootA.der.end()));
    }
    static void TearDownTestSuite() { certificates.drop(); }
    void SetUp() override
    {
        server.setHandler([this](const testsupport::RecordedRequest& request) {
            std::lock_guard lock(mutex);
            if (request.method == "POST" && request.path() == reportsPath)
                uploads.push_back({realTimeNanoseconds(), request});
            return testsupport::ScriptedAnswer{answerStatus, {}, {{"Content-Type", answerType}}, "{}"};
        });
    }

    // `crash_child kit <mode> [option] [seconds]` with this test's folders and endpoint; waits at
    // most 30 s.
    Launch launch(const std::string& mode, const std::string& option = "-", const std::string& seconds = "3")
    {
        const std::string out = (folder.path() / "out.txt").string();
        const std::string err = (folder.path() / "err.txt").string();
        std::vector<std::string> arguments = {HORAVINE_CRASH_CHILD, "kit", mode, option, seconds};
        std::vector<std::string> environment = {
            "XDG_CACHE_HOME=" + (folder.path() / "cache").string(),
            "XDG_DATA_HOME=" + (folder.path() / "data").string(),
            "XDG_CONFIG_HOME=" + (folder.path() / "config").string(),
            "BlackboxReportsEndpoint=" + server.url(""),
            "HORAVINE_PINNED_ROOT=" + (certificates.folder() / "pinned-root.der").string(),
        };
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            if (!text.starts_with("XDG_") && !text.starts_with("Blackbox") && !text.starts_with("Keystone")
                && !text.starts_with("HORAVINE_PINNED_ROOT="))
                environment.push_back(text);
        }
        Launch result;
        result.status =
            testsupport::runProgram(std::move(arguments), out, err, std::chrono::seconds(30), std::move(environment));
        result.output = readFile(out);
        result.errors = readFile(err);
        std::istringstream lines(result.output);
        for (std::string word; lines >> word;) {
            if (word == "execution")
                lines >> result.execution;
            else if (word == "with_returned")
                lines >> result.withReturned;
        }
        return result;
    }

    fs::path root() const
    {
        return folder.path() / "cache" / "crashchild" / "com.faultmere.data" / "org.example.crashchild" / "v3";
    }
    std::vector<std::string> entries(const std::string& state) const
    {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(root() / state, ignored))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<Upload> received()
    {
        std::lock_guard lock(mutex);
        return uploads;
    }
    // The analytics kit's event logs, packaged ones unpacked.
    std::string analyticsEvents() const
    {
        std::string text;
        const fs::path analytics = root().parent_path() / "analytics";
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(analytics, ignored)) {
            if (!entry.is_regular_file())
                continue;
            const std::string bytes = readFile(entry.path());
            if (!bytes.starts_with("MIME-Version")) {
                text += bytes;
                continue;
            }
            const auto form = testsupport::readMultipartBody(bytes, entry.path().stem().string());
            for (const auto& part : form.parts.value_or(std::vector<testsupport::MultipartPart>{}))
                text += testsupport::gunzip(part.body).bytes.value_or("");
        }
        return text;
    }
    // Launch 1's directory copied aside, as it was left.
    fs::path copyAside(const std::string& execution)
    {
        const fs::path copy = folder.path() / ("left-by-" + execution);
        fs::copy(root() / "active" / execution, copy, fs::copy_options::recursive);
        return copy;
    }

    static inline testsupport::SuiteCertificates certificates;
    testsupport::TempFolder folder{"bbx-end-to-end"};
    testsupport::LoopbackServer server{{&certificates->leafA, {}, std::chrono::seconds(300)}};
    std::mutex mutex;
    int answerStatus = 200;
    std::string answerType = "application/json";
    std::vector<Upload> uploads;
};

// The parts of an upload by name: form values as sent, files gunzipped.
std::map<std::string, std::string> partsOf(const testsupport::RecordedRequest& request)
{
    std::map<std::string, std::string> parts;
    const auto form = testsupport::readMultipartBody(
        request.body, testsupport::boundaryOf(request.header("Content-Type").value_or("")));
    EXPECT_TRUE(form.parts) << form.error;
    if (!form.parts)
        return parts;
    for (const auto& part : *form.parts) {
        const auto name = part.formName();
        if (!name)
            continue;
        if (part.header("Content-Type").value_or("") == "application/x-gzip") {
            const auto unpacked = testsupport::gunzip(part.body);
            EXPECT_TRUE(unpacked.bytes) << *name << ": " << unpacked.error;
            parts[*name] = unpacked.bytes.value_or("");
        } else {
            parts[*name] = part.body;
        }
    }
    return parts;
}

struct CrashCase {
    const char* mode;
    int signal;
    const char* namedFunction;
};

class BlackboxCrashMatrixTest : public BlackboxEndToEndTest, public ::testing::WithParamInterface<CrashCase> {};

} // namespace

TEST_P(BlackboxCrashMatrixTest, TheNextLaunchSendsTheCrashOnceAndKeepsOnlyItsOwnDirectory)
{
    const CrashCase crash = GetParam();
    const Launch first = launch(crash.mode);
    ASSERT_TRUE(first.diedBy(crash.signal)) << first.status << "\n" << first.output << first.errors;
    ASSERT_FALSE(first.execution.empty());
    const fs::path left = copyAside(first.execution);

    const Launch second = launch("clean");
    ASSERT_TRUE(second.endedCleanly()) << second.status << "\n" << second.errors;
    const auto sent = received();
    ASSERT_EQ(sent.size(), 1u) << second.errors;
    auto parts = partsOf(sent[0].request);
    EXPECT_EQ(parts["report_id"], first.execution);
    EXPECT_EQ(parts["api_key"], "crash-child-key");
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(left)) {
        const std::string name = entry.path().filename().string();
        const std::string bytes = readFile(entry.path());
        if (bytes.empty())
            continue; // empty files are not sent
        ++files;
        ASSERT_TRUE(parts.count(name)) << name;
        EXPECT_EQ(parts[name], bytes) << name;
    }
    EXPECT_GE(files, 4u); // metadata, binary images, sdk.log, the crash record at least
    std::size_t symbolicated = 0;
    for (const auto& [name, bytes] : parts)
        symbolicated += name.ends_with(".symbolicated") ? 1 : 0;
    EXPECT_GE(symbolicated, 1u);
    EXPECT_EQ(parts.size(), 2 + files + symbolicated) << "only the report's values, its files and their forms";
    const std::string crashFile = parts.count("signal.bbxrecord.symbolicated") ? "signal.bbxrecord.symbolicated"
                                                                               : "exception.bbxrecord.symbolicated";
    EXPECT_NE(parts[crashFile].find("\"" + std::string(crash.namedFunction) + "\""), std::string::npos)
        << crashFile << ": " << parts[crashFile].substr(0, 2000);

    EXPECT_TRUE(entries("processing").empty());
    EXPECT_TRUE(entries("prepared").empty());
    EXPECT_EQ(entries("active"), std::vector<std::string>{second.execution});
}

INSTANTIATE_TEST_SUITE_P(
    EachWayToDie, BlackboxCrashMatrixTest,
    ::testing::Values(CrashCase{"segv", SIGSEGV, "crash_here()"}, CrashCase{"abort", SIGABRT, "crash_here()"},
                      CrashCase{"bus", SIGBUS, "crash_here()"}, CrashCase{"fpe", SIGFPE, "crash_here()"},
                      CrashCase{"trap", SIGILL, "crash_here()"}, CrashCase{"int3", SIGTRAP, "crash_here()"},
                      CrashCase{"overflow", SIGSEGV, "crash_here()"}, CrashCase{"exception", SIGABRT, "throw_here()"}),
    [](const auto& test) { return std::string(test.param.mode); });

TEST_F(BlackboxEndToEndTest, AfterAnEarlyDeathTheReportIsSentBeforeTheStartReturns)
{
    const Launch first = launch("early-segv");
    ASSERT_TRUE(first.diedBy(SIGSEGV)) << first.errors;
    EXPECT_TRUE(fs::exists(root() / "launchmarker")); // died before its first main-queue turn

    const Launch second = launch("clean", "-", "1");
    ASSERT_TRUE(second.endedCleanly()) << second.errors;
    const auto sent = received();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(partsOf(sent[0].request)["report_id"], first.execution);
    EXPECT_LT(sent[0].arrivedAt, second.withReturned);
    EXPECT_FALSE(fs::exists(root() / "launchmarker"));
}

TEST_F(BlackboxEndToEndTest, ARefusedUploadStaysForTheNextLaunch)
{
    const Launch first = launch("segv");
    ASSERT_TRUE(first.diedBy(SIGSEGV)) << first.errors;
    answerStatus = 400;
    const Launch second = launch("clean");
    ASSERT_TRUE(second.endedCleanly()) << second.errors;
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(entries("prepared").size(), 1u);
    EXPECT_NE(readFile(root() / "active" / second.execution / "sdk.log").find("Error: failed to submit report"),
              std::string::npos);

    answerStatus = 200;
    const Launch third = launch("clean");
    ASSERT_TRUE(third.endedCleanly()) << third.errors;
    const auto sent = received();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(partsOf(sent[1].request)["report_id"], first.execution);
    EXPECT_EQ(sent[1].request.body, sent[0].request.body); // the kept package itself
    EXPECT_TRUE(entries("prepared").empty());
    EXPECT_EQ(entries("active"), std::vector<std::string>{third.execution});
}

TEST_F(BlackboxEndToEndTest, AReportAcceptedWithACharsetIsSentOnceOverThreeLaunches)
{
    answerType = "application/json;charset=utf-8";
    const Launch first = launch("segv");
    ASSERT_TRUE(first.diedBy(SIGSEGV)) << first.errors;
    for (int later = 0; later < 2; ++later) {
        const Launch next = launch("clean", "-", "1");
        ASSERT_TRUE(next.endedCleanly()) << next.errors;
        EXPECT_TRUE(entries("prepared").empty()) << later;
    }
    const auto sent = received();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(partsOf(sent[0].request)["report_id"], first.execution);
}

TEST_F(BlackboxEndToEndTest, DisabledReportingEmptiesEveryStateAndSendsNothing)
{
    const Launch first = launch("segv");
    ASSERT_TRUE(first.diedBy(SIGSEGV)) << first.errors;
    fs::create_directories(root() / "pending" / "old");
    const fs::path settings = folder.path() / "cache" / "crashchild" / "io.tessmark.sdk.mac.data"
                              / "org.example.crashchild" / "settings.json";
    fs::create_directories(settings.parent_path());
    writeFile(settings, R"({"features":{"collect_reports":false}})");

    const Launch second = launch("clean", "-", "1");
    ASSERT_TRUE(second.endedCleanly()) << second.errors;
    EXPECT_NE(second.errors.find("[Blackbox:Crash] Reporting is disabled"), std::string::npos) << second.errors;
    for (const char* state : {"active", "pending", "processing", "prepared"})
        EXPECT_TRUE(entries(state).empty()) << state;
    EXPECT_TRUE(received().empty());
}

TEST_F(BlackboxEndToEndTest, ADecliningDelegateOrACleanLaunchLeavesNothingToSend)
{
    const Launch crashed = launch("segv");
    ASSERT_TRUE(crashed.diedBy(SIGSEGV)) << crashed.errors;
    const Launch declining = launch("clean", "decline", "1");
    ASSERT_TRUE(declining.endedCleanly()) << declining.errors;
    EXPECT_EQ(entries("active"), std::vector<std::string>{declining.execution});

    // The declining launch ended cleanly: the next start removes its directory unsent.
    const Launch next = launch("clean", "-", "1");
    ASSERT_TRUE(next.endedCleanly()) << next.errors;
    EXPECT_EQ(entries("active"), std::vector<std::string>{next.execution});
    EXPECT_TRUE(entries("processing").empty());
    EXPECT_TRUE(entries("prepared").empty());
    EXPECT_TRUE(received().empty());
}

TEST_F(BlackboxEndToEndTest, TheDelegateSeesTheCrashDateOfTheLastLaunch)
{
    const Launch first = launch("segv");
    ASSERT_TRUE(first.diedBy(SIGSEGV)) << first.errors;
    const std::string record = readFile(root() / "active" / first.execution / "signal.bbxrecord");
    const auto at = record.find("\"time\":");
    ASSERT_NE(at, std::string::npos) << record;
    const long long signalTime = std::stoll(record.substr(at + 7));
    const std::string metadata = readFile(root() / "active" / first.execution / "metadata.bbxrecord");
    const auto startedAt = metadata.find("\"started_at\":");
    ASSERT_NE(startedAt, std::string::npos) << metadata;
    const long long started = std::stoll(metadata.substr(startedAt + 13));

    const Launch second = launch("clean", "detect", "1");
    ASSERT_TRUE(second.endedCleanly()) << second.errors;
    EXPECT_NE(second.output.find("crashed_on " + std::to_string(signalTime) + "\n"), std::string::npos)
        << second.output << " signal time " << signalTime;
    EXPECT_EQ(received().size(), 1u);
    // The analytics kit heard of the crashed launch, dated by that launch's start.
    EXPECT_NE(analyticsEvents().find(std::to_string(started) + "000\tapp_crashed\t"), std::string::npos);
}

TEST_F(BlackboxEndToEndTest, TheLaunchRecordsItsTimesAndActivationInItsInternalKeys)
{
    const Launch only = launch("clean", "activate", "1");
    ASSERT_TRUE(only.endedCleanly()) << only.errors;
    // Every pair as written, keys and values decoded from their hex text.
    std::vector<std::pair<std::string, std::string>> pairs;
    const auto decode = [](const std::string& hex) {
        std::string text;
        for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
            text += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
        return text;
    };
    std::istringstream lines(readFile(root() / "active" / only.execution / "internal_incremental_kv.bbxrecord"));
    for (std::string line; std::getline(lines, line);) {
        const auto key = line.find("\"key\":\"");
        const auto value = line.find("\"value\":\"");
        if (key == std::string::npos || value == std::string::npos)
            continue;
        pairs.emplace_back(decode(line.substr(key + 7, line.find('"', key + 7) - key - 7)),
                           decode(line.substr(value + 9, line.find('"', value + 9) - value - 9)));
    }
    std::vector<std::string> background;
    bool startTime = false;
    bool firstTurn = false;
    for (const auto& [key, value] : pairs) {
        if (key == "com.faultmere.in-background")
            background.push_back(value);
        startTime = startTime || (key == "com.faultmere.kit-start-time" && std::stod(value) > 0);
        firstTurn = firstTurn || (key == "com.faultmere.first-run-loop-time" && std::stod(value) > 0);
    }
    EXPECT_EQ(background, (std::vector<std::string>{"0", "0", "1"}));
    EXPECT_TRUE(startTime);
    EXPECT_TRUE(firstTurn);
}

#endif

// Processes that really crash: the crash child installs the capture and dies by every cause it must
// survive to record (bad access, abort, illegal and trap instructions, arithmetic, bus errors, a sent
// signal, stack overflow, uncaught C++ exceptions), and the records it leaves are read back. Only in
// the plain build: the sanitizers install fault handlers and allocators of their own.
#ifndef HORAVINE_SANITIZED

#include "crash_child_run.h"

#include "kits/crash/capture/bbx_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using testsupport::CrashRun;
using testsupport::runCrashChild;

constexpr std::string_view segvPrefix =
    R"({"signal":{"number":11,"code":1,"address":0,"name":"SIGSEGV","code_name":null,"errno":)";
const std::vector<std::string> snapshotSections = {"threads",      "runtime",       "dispatch_queue_names",
                                                   "thread_names", "process_stats", "storage"};

std::vector<std::string> sectionNames(const std::vector<nlohmann::json>& lines)
{
    std::vector<std::string> names;
    for (const auto& line : lines)
        names.push_back(line.begin().key());
    return names;
}

std::size_t completeSignalLines(const CrashRun& run)
{
    std::size_t count = 0;
    for (const auto& line : run.lines("signal.bbxrecord"))
        count += line.contains("signal") ? 1 : 0;
    return count;
}

const nlohmann::json& crashedThread(const std::vector<nlohmann::json>& lines)
{
    static const nlohmann::json none;
    for (const auto& line : lines) {
        if (!line.contains("threads"))
            continue;
        for (const auto& thread : line["threads"]) {
            if (thread.contains("crashed"))
                return thread;
        }
    }
    return none;
}

// The signal line and the six snapshot lines, and no allocation by the capturing thread.
void expectSignalRecord(const CrashRun& run, int number, const char* name)
{
    const auto lines = run.lines("signal.bbxrecord");
    ASSERT_EQ(lines.size(), 7u) << run.text("signal.bbxrecord").substr(0, 400);
    EXPECT_EQ(lines[0]["signal"]["number"], number);
    EXPECT_EQ(lines[0]["signal"]["name"], name);
    const auto names = sectionNames(lines);
    EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.end()), snapshotSections);
    EXPECT_FALSE(crashedThread(lines).is_null());
    EXPECT_FALSE(run.has("heap-during-capture")) << "the capturing thread allocated";
}

} // namespace

TEST(BBXCrashCapture, BadAccessIsRecordedBeforeTheProcessDies)
{
    const auto run = runCrashChild("segv");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status << run.errors;
    EXPECT_EQ(run.text("signal.bbxrecord").substr(0, segvPrefix.size()), segvPrefix);
    expectSignalRecord(run, SIGSEGV, "SIGSEGV");
    const auto lines = run.lines("signal.bbxrecord");
    const auto& thread = crashedThread(lines);
    ASSERT_FALSE(thread.is_null());
    EXPECT_TRUE(run.inFunction("crash_here", thread["stacktrace"][0].get<std::uint64_t>()));
    EXPECT_EQ(thread["registers"]["rip"], thread["stacktrace"][0]);
    const auto names = run.functionNames(thread["stacktrace"]);
    EXPECT_NE(std::find(names.begin(), names.end(), "main"), names.end()) << testing::PrintToString(names);
    // The kit's threads carry their names (the queues' labels shortened), and the record shows them.
    const auto& queues = lines.at(3)["dispatch_queue_names"];
    const auto& threadNames = lines.at(4)["thread_names"];
    ASSERT_EQ(queues.size(), threadNames.size());
    std::map<std::string, std::string> nameOfQueue;
    for (std::size_t index = 0; index < queues.size(); ++index)
        nameOfQueue[queues[index].get<std::string>()] = threadNames[index].get<std::string>();
    EXPECT_EQ(nameOfQueue["com.mirrowick.blackbox.mac.binary-images"], "binary-images");
    EXPECT_EQ(nameOfQueue["com.mirrowick.blackbox.mac.logging"], "logging");
    EXPECT_EQ(nameOfQueue["com.mirrowick.blackbox.mac.exception"], "exception");
    EXPECT_NE(std::find(threadNames.begin(), threadNames.end(), "scheduler"), threadNames.end()) << threadNames;
    // Set-up left its other files.
    EXPECT_EQ(run.lines("metadata.bbxrecord").size(), 4u);
    EXPECT_FALSE(run.lines("binary_images.bbxrecord").empty());
    EXPECT_NE(run.text("sdk.log").find("Signal: 11"), std::string::npos);
}

TEST(BBXCrashCapture, EveryFatalSignalIsRecorded)
{
    struct Case {
        const char* mode;
        int signal;
        const char* name;
    };
    for (const Case& entry :
         {Case{"abort", SIGABRT, "SIGABRT"}, Case{"trap-instruction", SIGILL, "SIGILL"}, Case{"fpe", SIGFPE, "SIGFPE"},
          Case{"bus", SIGBUS, "SIGBUS"}, Case{"int3", SIGTRAP, "SIGTRAP"}, Case{"kill", SIGSEGV, "SIGSEGV"}}) {
        SCOPED_TRACE(entry.mode);
        const auto run = runCrashChild(entry.mode);
        EXPECT_TRUE(run.diedBy(entry.signal)) << run.status << run.errors;
        expectSignalRecord(run, entry.signal, entry.name);
        const auto signal = run.lines("signal.bbxrecord").at(0)["signal"];
        if (entry.signal == SIGABRT) {
            EXPECT_EQ(signal["code_name"], "ABORT");
        } else {
            EXPECT_TRUE(signal["code_name"].is_null());
        }
        if (entry.signal == SIGBUS) {
            EXPECT_EQ(signal["number"], 7);
        }
        if (std::string(entry.mode) == "kill") {
            EXPECT_EQ(signal["address"], 0) << "a sent signal carries its sender, not an address";
            EXPECT_EQ(signal["code"], 0);
        }
        if (std::string(entry.mode) == "fpe") {
            EXPECT_TRUE(run.inFunction("crash_here", signal["address"].get<std::uint64_t>()));
        }
    }
}

TEST(BBXCrashCapture, StackOverflowOnTheMainThreadIsRecorded)
{
    const auto run = runCrashChild("recursion");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status << run.errors;
    expectSignalRecord(run, SIGSEGV, "SIGSEGV");
    const auto lines = run.lines("signal.bbxrecord");
    const auto& thread = crashedThread(lines);
    ASSERT_TRUE(thread.contains("repeated_pc"));
    EXPECT_GT(thread["repeat_count"].get<std::uint64_t>(), 1000u);
    const auto names = run.functionNames(thread["stacktrace"]);
    EXPECT_NE(std::find(names.begin(), names.end(), "recurse_forever"), names.end());
    EXPECT_LT(std::filesystem::file_size(run.file("sdk.log")), 2u << 20);
}

TEST(BBXCrashCapture, UncaughtExceptionIsRecordedThenAborts)
{
    const auto run = runCrashChild("throw-runtime");
    EXPECT_TRUE(run.diedBy(SIGABRT)) << run.status;
    EXPECT_NE(run.errors.find("terminate called after throwing an instance of 'std::runtime_error'"), std::string::npos)
        << run.errors;
    const std::string prefix =
        R"({"exception":{"type":"c++","name":"7374643a3a72756e74696d655f6572726f72","reason":"626f6f6d","time":)";
    EXPECT_EQ(run.text("exception.bbxrecord").substr(0, prefix.size()), prefix);
    const auto lines = run.lines("exception.bbxrecord");
    ASSERT_EQ(lines.size(), 7u);
    const auto& thread = crashedThread(lines);
    ASSERT_FALSE(thread.is_null());
    // The stack starts where the exception was thrown, not in the kit's recording code or the
    // runtime's throw; the throw may sit in the function's cold part ("throw_here.cold").
    const auto names = run.functionNames(thread["stacktrace"]);
    ASSERT_GE(names.size(), 2u);
    EXPECT_TRUE(names[0].starts_with("throw_here")) << testing::PrintToString(names);
    EXPECT_EQ(names[1], "main") << testing::PrintToString(names);
    EXPECT_EQ(thread["registers"]["rip"], thread["stacktrace"][0]);
    expectSignalRecord(run, SIGABRT, "SIGABRT");
}

TEST(BBXCrashCapture, ExceptionNamesAndReasons)
{
    struct Case {
        const char* mode;
        const char* name;
        const char* reason;
    };
    for (const Case& entry :
         {Case{"throw-int", "int", ""}, Case{"throw-text", "const char *", "text"},
          Case{"throw-test", "BlackboxTestException", "This is an Objective-C exception using for testing."}}) {
        SCOPED_TRACE(entry.mode);
        const auto run = runCrashChild(entry.mode);
        EXPECT_TRUE(run.diedBy(SIGABRT)) << run.status;
        const auto lines = run.lines("exception.bbxrecord");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(BBXHexDecode(lines[0]["exception"]["name"].get<std::string>()), entry.name);
        EXPECT_EQ(BBXHexDecode(lines[0]["exception"]["reason"].get<std::string>()), entry.reason);
    }
}

TEST(BBXCrashCapture, PreviousHandlerRunsAfterTheCapture)
{
    const auto run = runCrashChild("prior-handler");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status;
    expectSignalRecord(run, SIGSEGV, "SIGSEGV");
    EXPECT_TRUE(run.has("prior-handler-ran"));
}

TEST(BBXCrashCapture, FaultInsideTheCrashCallbackEndsTheProcess)
{
    const auto run = runCrashChild("callback-fault");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status;
    EXPECT_EQ(completeSignalLines(run), 1u);
    EXPECT_FALSE(run.has("heap-during-capture"));
    EXPECT_NE(run.text("sdk.log").find("Error: aborting signal handler because crash has already occurred"),
              std::string::npos);
}

TEST(BBXCrashCapture, EightThreadsFaultingAtOnceLeaveOneRecord)
{
    const auto run = runCrashChild("eight-threads");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status;
    EXPECT_EQ(completeSignalLines(run), 1u);
    expectSignalRecord(run, SIGSEGV, "SIGSEGV");
}

TEST(BBXCrashCapture, ContextIsReadOnlyOnceInstalled)
{
    const auto run = runCrashChild("write-protected");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status;
    EXPECT_EQ(run.marks.at("initialized"), 1);
    const auto lines = run.lines("signal.bbxrecord");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0]["signal"]["address"], static_cast<std::uint64_t>(run.marks.at("page_size_at")));
    EXPECT_EQ(lines[0]["signal"]["code"], SEGV_ACCERR);
}

TEST(BBXCrashCapture, SignalWithoutItsInformationKeepsErrnoAndTime)
{
    const auto run = runCrashChild("null-info");
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status;
    const auto lines = run.lines("signal.bbxrecord");
    ASSERT_EQ(lines.size(), 7u);
    std::vector<std::string> keys;
    for (const auto& [key, value] : lines[0]["signal"].items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"errno", "time"}));
}

TEST(BBXCrashCapture, HandlerChecksNameForeignHandlers)
{
    const auto run = runCrashChild("check-handlers");
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << run.errors;
    const std::string signalLine = "[Blackbox] The signal SIGTRAP has a non-Blackbox handler (";
    const auto at = run.errors.find(signalLine);
    ASSERT_NE(at, std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(").  This will interfere with reporting.\n", at), std::string::npos) << run.errors;
    EXPECT_EQ(run.errors.find("The signal SIGSEGV"), std::string::npos) << "the kit's own handlers pass";
    EXPECT_NE(run.errors.find("[Blackbox:Crash] Warning: std::get_terminate is '"), std::string::npos) << run.errors;
}

TEST(BBXCrashCapture, UnderADebuggerNoHandlersAreInstalled)
{
    if (std::system("strace -V > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    const auto run = runCrashChild("segv", true);
    EXPECT_TRUE(run.diedBy(SIGSEGV)) << run.status << run.errors;
    EXPECT_NE(run.text("sdk.log").find("Debugger present - not installing handlers"), std::string::npos);
    EXPECT_FALSE(run.has("signal.bbxrecord"));
    EXPECT_EQ(run.lines("metadata.bbxrecord").size(), 4u);
}

#endif

// User logs, key-value pairs, logged errors and custom exceptions in the launch's record files.
#include "kits/crash/capture/bbx_user_logging.h"

#include "kits/crash/capture/bbx_exception.h"
#include "kits/crash/capture/bbx_stack_frame.h"

#include "support/child_process.h"
#include "support/hex.h"
#include "support/mutator.h"
#include "user_logging_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using testsupport::hex;
using testsupport::recordSections;
using testsupport::UserLoggingTest;

namespace {

std::vector<std::string> linesOf(const fs::path& path)
{
    std::vector<std::string> lines;
    std::ifstream stream(path);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::string contentsOf(const fs::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

class KeyValueTest : public UserLoggingTest {
protected:
    void setUser(const std::string& key, const PropertyListValue& value)
    {
        BBXUserLoggingRecordUserKeyValue(&key, &value);
    }
    void removeUser(const std::string& key) { BBXUserLoggingRecordUserKeyValue(&key, nullptr); }
    PropertyListDictionary userEntries(bool decode)
    {
        drainLoggingQueue();
        return BBXUserLoggingGetCompactedKVEntries(&files()->userKVStorage, decode).value_or(PropertyListDictionary{});
    }
    std::vector<std::string> keysOf(const PropertyListDictionary& dictionary)
    {
        std::vector<std::string> keys;
        for (const auto& entry : dictionary.entries())
            keys.push_back(entry.key);
        return keys;
    }
};

} // namespace

TEST_F(KeyValueTest, The64thWriteCompactsAndThe63rdDoesNot)
{
    for (int index = 0; index < 63; ++index)
        setUser("k" + std::to_string(index % 10), PropertyListValue(std::int64_t{index}));
    drainLoggingQueue();
    EXPECT_EQ(linesOf(file("user_incremental_kv.bbxrecord")).size(), 63u);
    EXPECT_FALSE(fs::exists(file("user_compacted_kv.bbxrecord")));
    EXPECT_EQ(state()->userKVCount, 63u);

    setUser("k3", PropertyListValue(std::int64_t{63}));
    drainLoggingQueue();
    EXPECT_FALSE(fs::exists(file("user_incremental_kv.bbxrecord")));
    EXPECT_EQ(state()->userKVCount, 0u);
    const auto compacted = linesOf(file("user_compacted_kv.bbxrecord"));
    ASSERT_EQ(compacted.size(), 10u);
    EXPECT_EQ(compacted[0], R"({"kv":{"key":")" + hex("k0") + R"(","value":")" + hex("60") + R"("}})");
    EXPECT_EQ(compacted[3], R"({"kv":{"key":")" + hex("k3") + R"(","value":")" + hex("63") + R"("}})");

    const auto entries = userEntries(true);
    EXPECT_EQ(keysOf(entries), (std::vector<std::string>{"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"}));
    EXPECT_EQ(*entries.get<std::string>("k9"), "59");
    EXPECT_EQ(state()->internalKVCount, 0u) << "the stores count apart";
}

TEST_F(KeyValueTest, ARemovalIsWrittenAsNullAndGoneAfterCompaction)
{
    setUser("gone", PropertyListValue("soon"));
    setUser("kept", PropertyListValue("here"));
    removeUser("gone");
    drainLoggingQueue();
    const auto lines = linesOf(file("user_incremental_kv.bbxrecord"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], R"({"kv":{"key":")" + hex("gone") + R"(","value":null}})");
    EXPECT_EQ(keysOf(userEntries(true)), std::vector<std::string>{"kept"});

    for (int index = 0; index < 61; ++index)
        setUser("kept", PropertyListValue("here"));
    drainLoggingQueue();
    ASSERT_TRUE(fs::exists(file("user_compacted_kv.bbxrecord")));
    const auto compacted = linesOf(file("user_compacted_kv.bbxrecord"));
    EXPECT_EQ(compacted,
              std::vector<std::string>{R"({"kv":{"key":")" + hex("kept") + R"(","value":")" + hex("here") + R"("}})"});
}

TEST_F(KeyValueTest, CompactionKeepsTheKeysSetFirst)
{
    configure([](BBXContextInitData& data) { data.maximumCustomKeys = 2; });
    setUser("a", PropertyListValue("1"));
    setUser("b", PropertyListValue("2"));
    setUser("c", PropertyListValue("3"));
    for (int index = 0; index < 60; ++index)
        setUser("c", PropertyListValue("again"));
    drainLoggingQueue();
    EXPECT_FALSE(fs::exists(file("user_compacted_kv.bbxrecord"))) << "63 writes";
    EXPECT_EQ(keysOf(userEntries(true)), (std::vector<std::string>{"a", "b", "c"})) << "reads are not truncated";
    setUser("a", PropertyListValue("changed"));
    const auto entries = userEntries(true);
    EXPECT_EQ(keysOf(entries), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(*entries.get<std::string>("a"), "changed");
    EXPECT_NE(testsupport::sdkLogText().find("Truncating KV set, which is above max 2"), std::string::npos);
}

TEST_F(KeyValueTest, ValuesAreStoredAsTheirDescriptionsAndDecodeBack)
{
    setUser("flag", PropertyListValue(true));
    setUser("off", PropertyListValue(false));
    setUser("count", PropertyListValue(std::int64_t{-42}));
    setUser("ratio", PropertyListValue(2.5));
    setUser("name", PropertyListValue("Zoë \"quoted\""));
    setUser(std::string("nul\0key", 7), PropertyListValue(std::string("a\0b", 3)));

    const auto raw = userEntries(false);
    EXPECT_EQ(*raw.get<std::string>(hex("flag")), "31");
    EXPECT_EQ(*raw.get<std::string>(hex("off")), "30");
    const auto decoded = userEntries(true);
    EXPECT_EQ(*decoded.get<std::string>("flag"), "1");
    EXPECT_EQ(*decoded.get<std::string>("count"), "-42");
    EXPECT_EQ(*decoded.get<std::string>("ratio"), "2.5");
    EXPECT_EQ(*decoded.get<std::string>("name"), "Zoë \"quoted\"");
    EXPECT_EQ(*decoded.get<std::string>(std::string("nul\0key", 7)), std::string("a\0b", 3));

    const std::string internalKey = "com.faultmere.in-background";
    BBXUserLoggingWriteInternalKeyValue(internalKey, "1");
    const PropertyListValue number(std::int64_t{7});
    const std::string other = "other";
    BBXUserLoggingRecordInternalKeyValue(&other, &number);
    const auto internal = BBXUserLoggingGetCompactedKVEntries(&files()->internalKVStorage, true);
    ASSERT_TRUE(internal);
    EXPECT_EQ(*internal->get<std::string>(internalKey), "1");
    EXPECT_EQ(*internal->get<std::string>("other"), "7");
    EXPECT_FALSE(internal->contains("flag"));
}

TEST_F(KeyValueTest, BadPointersAndAnUninitializedContextRecordNothing)
{
    const PropertyListValue value("v");
    BBXUserLoggingRecordUserKeyValue(nullptr, &value);
    BBXUserLoggingRecordUserKeyValue(reinterpret_cast<const std::string*>(16), &value);
    drainLoggingQueue();
    EXPECT_FALSE(fs::exists(file("user_incremental_kv.bbxrecord")));
    EXPECT_NE(testsupport::sdkLogText().find("User provided bad key"), std::string::npos);

    const std::string key = "clamped";
    BBXUserLoggingRecordUserKeyValue(&key, reinterpret_cast<const PropertyListValue*>(8));
    EXPECT_EQ(linesOf(file("user_incremental_kv.bbxrecord")),
              std::vector<std::string>{R"({"kv":{"key":")" + hex("clamped") + R"(","value":null}})"});
    EXPECT_NE(testsupport::sdkLogText().find("Bad value pointer being clamped to nil"), std::string::npos);
    EXPECT_FALSE(BBXUserLoggingGetCompactedKVEntries(reinterpret_cast<const BBXUserLoggingKVStorage*>(64), true));

    std::atomic_ref<std::uint8_t>(context->initialized).store(0);
    BBXUserLoggingRecordUserKeyValue(&key, &value);
    EXPECT_EQ(linesOf(file("user_incremental_kv.bbxrecord")).size(), 1u);
    const auto before = BBXUserLoggingGetCompactedKVEntries(&files()->userKVStorage, true);
    ASSERT_TRUE(before);
    EXPECT_TRUE(before->empty()) << "nothing is read before the context is initialized";
}

TEST_F(KeyValueTest, MutatedFilesCompactToWellFormedPairsOnly)
{
    // Samples of both files as the writer leaves them.
    setUser("alpha", PropertyListValue("one"));
    setUser("beta", PropertyListValue(std::int64_t{2}));
    removeUser("alpha");
    drainLoggingQueue();
    std::ifstream written(file("user_incremental_kv.bbxrecord"), std::ios::binary);
    const std::string incremental{std::istreambuf_iterator<char>(written), {}};
    const std::string compacted = R"({"kv":{"key":")" + hex("gamma") + R"(","value":")" + hex("three") + "\"}}\n"
                                  + R"({"kv":{"key":")" + hex("delta") + R"(","value":")" + hex("") + "\"}}\n";
    const std::regex pair(R"(\{"kv":\{"key":"([0-9a-fA-F]{2})*","value":"([0-9a-fA-F]{2})*"\}\})");
    std::uint32_t counter = 0;
    const auto failure = testsupport::runParserCheck(
        {incremental, compacted}, testsupport::fuzzSeed(3601), testsupport::fuzzMutationCount() / 100,
        [&](std::string_view input) {
            // Each input as both files.
            std::ofstream(file("user_compacted_kv.bbxrecord"), std::ios::binary | std::ios::trunc) << input;
            std::ofstream(file("user_incremental_kv.bbxrecord"), std::ios::binary | std::ios::trunc) << input;
            BBXUserLoggingCompactKVEntries(&files()->userKVStorage, &counter);
            for (const auto& line : linesOf(file("user_compacted_kv.bbxrecord"))) {
                if (!std::regex_match(line, pair))
                    return false;
            }
            return !fs::exists(file("user_incremental_kv.bbxrecord"));
        });
    EXPECT_FALSE(failure) << failure->where << ": " << failure->input << "\ngave:\n"
                          << contentsOf(file("user_compacted_kv.bbxrecord"));
}

namespace {

class LogTest : public UserLoggingTest {};

const std::regex logLine("\\{\"log\":\\{\"msg\":\"([0-9a-f]{2})+\",\"time\":[0-9]{13}\\}\\}");

} // namespace

TEST_F(LogTest, ALineHoldsTheHexMessageAndMilliseconds)
{
    const auto before =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    BBXLog("%s has %d timers", "Project \"X\"", 3);
    const auto lines = linesOf(file("log_a.bbxrecord"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], logLine)) << lines[0];
    const auto sections = recordSections(file("log_a.bbxrecord"));
    EXPECT_EQ(*BBXHexDecode(sections[0]["log"]["msg"].get<std::string>()), "Project \"X\" has 3 timers");
    EXPECT_GE(sections[0]["log"]["time"].get<std::int64_t>(), before);
    EXPECT_EQ(console, "");

    BBXLogWithSystemLog("also %s", "shown");
    EXPECT_EQ(console, "also shown\n");
    EXPECT_EQ(linesOf(file("log_a.bbxrecord")).size(), 2u);
    BBXLog("%s", "");
    BBXLog(nullptr);
    EXPECT_EQ(linesOf(file("log_a.bbxrecord")).size(), 2u) << "an empty message records nothing";
}

TEST_F(LogTest, FilesSwitchWhenTheBufferSizeIsPassed)
{
    configure([](BBXContextInitData& data) { data.logBufferSize = 100; });
    const auto log = [](const char* text) {
        BBXLog("%s", text);
        testsupport::UserLoggingTest::drainLoggingQueue();
    };
    std::ofstream(file("log_b.bbxrecord")) << "stale\n";
    log("first"); // about 55 bytes
    EXPECT_EQ(state()->logStoragePath, files()->logStorage.aPath);
    EXPECT_TRUE(fs::exists(file("log_b.bbxrecord")));
    log("second"); // log_a passes 100 bytes
    EXPECT_EQ(state()->logStoragePath, files()->logStorage.bPath);
    EXPECT_FALSE(fs::exists(file("log_b.bbxrecord"))) << "the old b is deleted";
    EXPECT_EQ(linesOf(file("log_a.bbxrecord")).size(), 2u);
    log("third");
    EXPECT_EQ(linesOf(file("log_b.bbxrecord")).size(), 1u);
    log("fourth");
    EXPECT_EQ(state()->logStoragePath, files()->logStorage.aPath);
    EXPECT_FALSE(fs::exists(file("log_a.bbxrecord"))) << "switching back deletes the older file";
    EXPECT_EQ(linesOf(file("log_b.bbxrecord")).size(), 2u);
    log("fifth");
    EXPECT_EQ(linesOf(file("log_a.bbxrecord")).size(), 1u);
}

TEST_F(LogTest, ManyThreadsLeaveOnlyWholeLines)
{
    constexpr int threads = 8;
    constexpr int messages = 1000;
    std::vector<std::thread> writers;
    for (int thread = 0; thread < threads; ++thread) {
        writers.emplace_back([thread] {
            for (int index = 0; index < messages; ++index)
                BBXLog("thread %d message %d with some text to make the line longer", thread, index);
        });
    }
    for (auto& writer : writers)
        writer.join();
    // The newest line survives the swaps (which thread wrote last is up to the scheduler).
    BBXLog("the last message, written after every thread's");
    drainLoggingQueue();
    std::size_t total = 0;
    std::set<std::string> seen;
    for (const char* name : {"log_a.bbxrecord", "log_b.bbxrecord"}) {
        for (const auto& line : linesOf(file(name))) {
            ASSERT_TRUE(std::regex_match(line, logLine)) << line;
            const auto message = BBXHexDecode(nlohmann::json::parse(line)["log"]["msg"].get<std::string>());
            ASSERT_TRUE(message);
            EXPECT_TRUE(seen.insert(*message).second) << "written once: " << *message;
            ++total;
        }
    }
    // 65536-byte files of ~150-byte lines: the current file and the previous full one.
    EXPECT_GT(total, 400u);
    EXPECT_LE(total, static_cast<std::size_t>(threads * messages) + 1);
    EXPECT_TRUE(seen.count("the last message, written after every thread's"));
}

TEST_F(LogTest, BeforeInitializationOnlyTheConsoleHearsOfIt)
{
    std::atomic_ref<std::uint8_t>(context->initialized).store(0);
    BBXLog("early %d", 1);
    EXPECT_EQ(console, "[Blackbox:Crash] WARNING: BBXLog has been used before (or concurrently with) Blackbox "
                       "initialization and cannot be recorded. The message was: \nearly 1\n");
    EXPECT_FALSE(fs::exists(file("log_a.bbxrecord")));
}

namespace {

class ErrorTest : public UserLoggingTest {};

} // namespace

TEST_F(ErrorTest, ALoggedErrorHasDomainCodeTimeStackAndInformation)
{
    foundation::Error error;
    error.domain = "KSTNetworkError";
    error.code = -1009;
    BBXUserLoggingRecordError(&error, nullptr);
    error.userInfo.set("reason", "offline");
    error.userInfo.set("attempts", std::int64_t{3});
    error.userInfo.set("nothing", foundation::PropertyListNull{});
    const PropertyListDictionary extra{{"screen", "projects"}, {"retry", true}};
    BBXUserLoggingRecordError(&error, &extra);

    const auto sections = recordSections(file("errors_a.bbxrecord"));
    ASSERT_EQ(sections.size(), 2u);
    const auto& plain = sections[0]["error"];
    EXPECT_EQ(plain["domain"], hex("KSTNetworkError"));
    EXPECT_EQ(plain["code"], -1009);
    EXPECT_NEAR(plain["time"].get<double>(), static_cast<double>(std::time(nullptr)), 5);
    ASSERT_TRUE(plain["stacktrace"].is_array());
    EXPECT_GE(plain["stacktrace"].size(), 3u);
    EXPECT_TRUE(plain["stacktrace"][0].is_number_unsigned());
    EXPECT_FALSE(plain.contains("info"));
    EXPECT_FALSE(plain.contains("extra_info"));

    const auto& full = sections[1]["error"];
    EXPECT_EQ(full["info"], nlohmann::json::parse("[[\"" + hex("reason") + "\",\"" + hex("offline") + "\"],[\""
                                                  + hex("attempts") + "\",\"" + hex("3") + "\"]]"));
    EXPECT_EQ(full["extra_info"], nlohmann::json::parse("[[\"" + hex("screen") + "\",\"" + hex("projects") + "\"],[\""
                                                        + hex("retry") + "\",\"" + hex("1") + "\"]]"));
    EXPECT_EQ(state()->errorsCount, 2u);
}

TEST_F(ErrorTest, DisabledErrorsWriteNothing)
{
    configure([](BBXContextInitData& data) { data.errorReportingEnabled = 0; });
    const foundation::Error error{"D", 1, "", {}, "", {}};
    BBXUserLoggingRecordError(&error, nullptr);
    drainLoggingQueue();
    EXPECT_FALSE(fs::exists(file("errors_a.bbxrecord")));
    EXPECT_FALSE(fs::exists(file("errors_b.bbxrecord")));
}

TEST_F(ErrorTest, CustomExceptionsSwitchFilesAfterTheLimit)
{
    std::vector<BBXStackFrame> frames{BBXStackFrame::stackFrameWithAddress(0x1000),
                                      BBXStackFrame::stackFrameWithSymbol("main")};
    frames[1].address = 0x2000;
    frames[1].library = "horavine";
    frames[1].fileName = "main.cpp";
    frames[1].lineNumber = 12;
    frames[1].offset = 4;
    const auto records = BBXExceptionFramesFromStackFrames(frames);
    const auto record = [&](std::uint32_t type, int index) {
        const std::string reason = "reason " + std::to_string(index);
        BBXExceptionRecord(type, "Custom", reason.c_str(), records.data(), records.size(), false);
        testsupport::UserLoggingTest::drainLoggingQueue();
    };
    for (int index = 0; index < 16; ++index)
        record(BBXExceptionTypeCustom, index);
    EXPECT_EQ(linesOf(file("custom_exception_a.bbxrecord")).size(), 16u);
    EXPECT_EQ(state()->customExceptionStoragePath, files()->customExceptionStorage.bPath);
    EXPECT_EQ(state()->customExceptionCount, 0u);
    const auto first = testsupport::orderedSections(file("custom_exception_a.bbxrecord"))[0]["exception"];
    EXPECT_EQ(first["type"], "custom");
    EXPECT_EQ(first["name"], hex("Custom"));
    EXPECT_EQ(first["reason"], hex("reason 0"));
    EXPECT_EQ(first["frames"].dump(), R"([{"pc":4096,"offset":0,"line":0},{"pc":8192,"symbol":")" + hex("main")
                                          + R"(","offset":4,"library":")" + hex("horavine") + R"(","file":")"
                                          + hex("main.cpp") + R"(","line":12}])");

    record(BBXExceptionTypeJavaScript, 16);
    record(99, 17);
    const auto second = recordSections(file("custom_exception_b.bbxrecord"));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0]["exception"]["type"], "javascript");
    EXPECT_EQ(second[1]["exception"]["type"], "unknown");
    EXPECT_FALSE(fs::exists(file("exception.bbxrecord"))) << "non-fatal exceptions stay out of the crash file";
    EXPECT_EQ(linesOf(file("custom_exception_a.bbxrecord")).size(), 16u);

    configure([](BBXContextInitData& data) { data.customExceptionsEnabled = 0; });
    fs::remove(file("custom_exception_a.bbxrecord"));
    record(BBXExceptionTypeCustom, 18);
    EXPECT_FALSE(fs::exists(file("custom_exception_a.bbxrecord")));
}

TEST_F(ErrorTest, AnEntryCountedSetWithoutItsCounterNeverSwitches)
{
    BBXUserLoggingABFiles set = files()->errorStorage;
    set.entryCount = nullptr;
    const char* current = set.aPath;
    BBXUserLoggingCheckAndSwapABFiles(&set, &current, 0);
    EXPECT_EQ(current, set.aPath);
    EXPECT_NE(testsupport::sdkLogText().find("storage has invalid pointer, but is restricted by entry count"),
              std::string::npos);
}

TEST(UserLoggingInstallation, TheContextSetUpPreparesTheLogFiles)
{
    // The set-up runs its parts on the worker pool, whose threads a forked child only has when the
    // parent had started none yet (ctest runs each test in a process of its own).
    std::error_code ignored;
    const auto threads = std::distance(fs::directory_iterator("/proc/self/task", ignored), fs::directory_iterator());
    if (threads > 1)
        GTEST_SKIP() << "this process runs other threads already";
    testsupport::TempFolder folder("bbx-user-logging-install");
    const auto outcome = testsupport::runInChild([&folder] {
        BBXContextInitData data;
        const std::string directory = folder.path().string();
        data.reportDirectory = directory.c_str();
        data.reportIdentifier = "E1";
        data.logBufferSize = 65536;
        data.maximumCustomKeys = 16;
        if (!BBXContextInitialize(&data) || !BBXContextIsInitialized())
            return std::string("not initialized");
        BBXLog("installed %d", 1);
        const std::string key = "k";
        const PropertyListValue value("v");
        BBXUserLoggingRecordUserKeyValue(&key, &value);
        const foundation::Error error{"D", 1, "", {}, "", {}};
        BBXUserLoggingRecordError(&error, nullptr); // errors are off
        const auto entries = BBXUserLoggingGetCompactedKVEntries(&BBXUserLoggingContextFiles()->userKVStorage, true);
        return std::string(entries && entries->get<std::string>("k") ? *entries->get<std::string>("k") : "none");
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.errors;
    EXPECT_EQ(outcome.report, "v");
    EXPECT_EQ(recordSections(folder.path() / "log_a.bbxrecord").size(), 1u);
    EXPECT_TRUE(fs::exists(folder.path() / "user_incremental_kv.bbxrecord"));
    EXPECT_FALSE(fs::exists(folder.path() / "errors_a.bbxrecord"));
}

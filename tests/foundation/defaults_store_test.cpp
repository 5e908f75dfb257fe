// The defaults store against real files in a fresh temporary folder per test: read order, type
// fidelity across reloads, bad files kept aside, atomic writes and write failures.
#include "foundation/defaults_store.h"

#include "foundation/clock.h"
#include "foundation/notification_center.h"
#include "support/dates.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using foundation::DefaultsArray;
using foundation::DefaultsDictionary;
using foundation::DefaultsStore;
using foundation::DefaultsValue;
using foundation::Notification;
using foundation::NotificationCenter;
using foundation::Status;
using foundation::StatusCode;
namespace fs = std::filesystem;

namespace {

class DefaultsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "horavine-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        file = folder / "defaults.json";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    static std::string contents(const fs::path& path)
    {
        std::ifstream input(path, std::ios::binary);
        std::ostringstream text;
        text << input.rdbuf();
        return text.str();
    }
    static void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::vector<std::string> folderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    NotificationCenter center;
    fs::path folder;
    fs::path file;
};

} // namespace

TEST_F(DefaultsStoreTest, StoredBeatsRegisteredBeatsFallback)
{
    DefaultsStore store(file, center);
    store.registerDefaults({{"rate", 10}, {"showSeconds", true}, {"currency", "EUR"}});

    EXPECT_EQ(store.integerValue("rate", 1), 10);
    EXPECT_EQ(store.integerValue("missing", 7), 7);
    EXPECT_FALSE(store.object("missing"));
    EXPECT_FALSE(store.stringValue("missing"));

    EXPECT_TRUE(store.set("rate", 20).isOk());
    EXPECT_EQ(store.integerValue("rate", 1), 20);
    EXPECT_EQ(store.object("rate"), DefaultsValue(20));
    EXPECT_TRUE(store.set("showSeconds", false).isOk());
    EXPECT_FALSE(store.boolValue("showSeconds", true));

    // A stored value of the wrong type does not hide the built-in one of the asked-for type.
    EXPECT_TRUE(store.set("currency", 5).isOk());
    EXPECT_EQ(store.stringValue("currency"), "EUR");
    EXPECT_EQ(store.object("currency"), DefaultsValue(5));

    EXPECT_TRUE(store.remove("rate").isOk());
    EXPECT_EQ(store.integerValue("rate", 1), 10);

    // Only stored values reach the file.
    const auto written = nlohmann::json::parse(contents(file));
    EXPECT_EQ(written, nlohmann::json::parse(R"({"currency": 5, "showSeconds": false})"));
}

TEST_F(DefaultsStoreTest, KeepsTypesAcrossReload)
{
    const std::map<std::string, DefaultsValue> values = {
        {"flag", true},
        {"count", 3},
        {"largest", std::numeric_limits<std::int64_t>::max()},
        {"negative", -42},
        {"wholeDouble", 3.0},
        {"ratio", 0.1},
        {"name", "Zoë"},
        {"columns", DefaultsArray{"project", "duration"}},
        {"noColumns", DefaultsArray{}},
        {"mixed", DefaultsArray{"a", 1, false}},
        {"window", DefaultsDictionary{{"width", 640}, {"visible", false}, {"tags", DefaultsArray{"x"}}}},
    };
    {
        DefaultsStore store(file, center);
        for (const auto& [key, value] : values)
            ASSERT_TRUE(store.set(key, value).isOk()) << key;
    }
    DefaultsStore reloaded(file, center);
    EXPECT_FALSE(reloaded.loadProblem());
    for (const auto& [key, value] : values)
        EXPECT_EQ(reloaded.object(key), value) << key;

    EXPECT_TRUE(reloaded.boolValue("flag", false));
    EXPECT_EQ(reloaded.integerValue("flag", -1), -1); // a Boolean is not an integer
    EXPECT_FALSE(reloaded.numberValue("flag"));
    EXPECT_FALSE(reloaded.boolValue("count", false));
    EXPECT_EQ(reloaded.numberValue("count"), 3.0);
    EXPECT_EQ(reloaded.integerValue("wholeDouble", -1), -1); // a double is not an integer
    EXPECT_EQ(reloaded.numberValue("ratio"), 0.1);
    EXPECT_EQ(reloaded.integerValue("largest", 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(reloaded.stringArray("columns"), (std::vector<std::string>{"project", "duration"}));
    EXPECT_EQ(reloaded.stringArray("noColumns"), std::vector<std::string>{});
    EXPECT_FALSE(reloaded.stringArray("mixed"));
    EXPECT_FALSE(reloaded.stringArray("name"));
    EXPECT_FALSE(reloaded.stringValue("columns"));
}

TEST_F(DefaultsStoreTest, GarbageFileIsKeptAsideAndNotOverwrittenUntilASet)
{
    const std::string garbage = "{\"rate\": 12, oops";
    write(file, garbage);
    foundation::ScopedClock pinned(std::make_shared<foundation::FixedClock>(testsupport::utc(2024, 1, 2, 3)));

    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    const std::string printed = testing::internal::GetCapturedStderr();
    store.registerDefaults({{"rate", 10}});

    ASSERT_TRUE(store.loadProblem());
    EXPECT_NE(store.loadProblem()->find(file.string()), std::string::npos);
    EXPECT_NE(printed.find(file.string()), std::string::npos);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
    EXPECT_EQ(store.integerValue("rate", 0), 10);

    const fs::path copy = folder / "defaults.json.corrupt-20240102T030000Z";
    EXPECT_EQ(contents(copy), garbage);
    EXPECT_EQ(contents(file), garbage); // reading did not replace it

    ASSERT_TRUE(store.set("rate", 15).isOk());
    EXPECT_EQ(nlohmann::json::parse(contents(file)), nlohmann::json::parse(R"({"rate": 15})"));
    EXPECT_EQ(contents(copy), garbage);

    // A second bad file at the same second gets its own copy; the first one stays.
    write(file, "second garbage");
    testing::internal::CaptureStderr();
    DefaultsStore again(file, center);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(contents(copy), garbage);
    EXPECT_EQ(contents(folder / "defaults.json.corrupt-20240102T030000Z-2"), "second garbage");
}

TEST_F(DefaultsStoreTest, ABadFileIsDescribedInPlainWordsAndItsCopyIsTheUsersOwn)
{
    const std::string bad = "{\n  \"rate\": 12,\n  \"name\": oops\n}\n";
    write(file, bad);
    fs::permissions(file, fs::perms(0644)); // hand-made, readable by all
    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    const std::string printed = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(store.loadProblem());
    const std::string& problem = *store.loadProblem();
    EXPECT_NE(problem.find("The settings file " + file.string() + " is not valid JSON at line 3, column 11."),
              std::string::npos)
        << problem;
    for (const char* internal : {"parse_error", "[json.exception", "syntax error", "while parsing"})
        EXPECT_EQ(problem.find(internal), std::string::npos) << problem;
    EXPECT_NE(printed.find("line 3, column 11"), std::string::npos);

    std::vector<std::string> copies;
    for (const std::string& entry : folderEntries())
        if (entry.starts_with("defaults.json.corrupt-"))
            copies.push_back(entry);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(contents(folder / copies[0]), bad);
    EXPECT_EQ(fs::status(folder / copies[0]).permissions() & fs::perms::all, fs::perms(0600));

    // Truncated text points at its end; a whole value that is no group says so.
    write(file, "{\"rate\": [1, 2");
    testing::internal::CaptureStderr();
    DefaultsStore truncated(file, center);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(truncated.loadProblem());
    EXPECT_NE(truncated.loadProblem()->find("is not valid JSON at line 1, column 15"), std::string::npos)
        << *truncated.loadProblem();
    write(file, "[1, 2]");
    testing::internal::CaptureStderr();
    DefaultsStore list(file, center);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(list.loadProblem());
    EXPECT_NE(list.loadProblem()->find("not a group of named values"), std::string::npos);
}

TEST_F(DefaultsStoreTest, ValuesAReaderCannotUseAreGatheredInOneReport)
{
    write(file, R"({"a": null, "rate": 12})");
    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    store.reportUnusableValues({"\"flag\" holds a text where true or false belongs"});
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(store.loadProblem());
    EXPECT_NE(store.loadProblem()->find("\"a\" holds no value (null)"), std::string::npos) << *store.loadProblem();
    EXPECT_NE(store.loadProblem()->find("\"flag\" holds a text where true or false belongs"), std::string::npos);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;

    // A reader may pass over a stored value for the registered one.
    store.registerDefaults({{"rate", 10}});
    const auto small = [](const foundation::DefaultsValue& value) {
        const auto* number = value.get<std::int64_t>();
        return number && *number < 11;
    };
    EXPECT_EQ(store.object("rate", small), foundation::DefaultsValue(std::int64_t(10)));
    EXPECT_EQ(store.object("rate"), foundation::DefaultsValue(std::int64_t(12)));
}

TEST_F(DefaultsStoreTest, MalformedFilesAreReportedNotTrusted)
{
    const std::string cases[] = {
        "[]",
        "null",
        "\"text\"",
        "{\"a\": 1e999}",
        "{\"a\": 1} trailing",
        "{\"a\": [1, 2",
        "{\"a\": \"\xff\xfe\"}",
        std::string("{\"a\": 1\0}", 9),
    };
    for (const auto& text : cases) {
        write(file, text);
        testing::internal::CaptureStderr();
        DefaultsStore store(file, center);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(store.loadProblem()) << text.substr(0, 40);
        EXPECT_FALSE(store.object("a")) << text.substr(0, 40);
        EXPECT_EQ(contents(file), text);
    }
}

TEST_F(DefaultsStoreTest, UnusableValuesCostOnlyTheirKeysAndAreWrittenBack)
{
    const std::string deepNesting = std::string(70, '[') + std::string(70, ']');
    const std::string cases[] = {
        "null",
        "[1, null]",
        "18446744073709551615",
        deepNesting,
    };
    for (const auto& unusable : cases) {
        const std::string text = R"({"a": )" + unusable + R"(, "rate": 12, "name": "x"})";
        write(file, text);
        testing::internal::CaptureStderr();
        DefaultsStore store(file, center);
        const std::string printed = testing::internal::GetCapturedStderr();

        ASSERT_TRUE(store.loadProblem()) << unusable;
        EXPECT_NE(store.loadProblem()->find("\"a\""), std::string::npos) << *store.loadProblem();
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
        EXPECT_FALSE(store.object("a")) << unusable;
        EXPECT_EQ(store.integerValue("rate", 0), 12) << unusable;
        EXPECT_EQ(store.stringValue("name"), "x") << unusable;
        EXPECT_EQ(contents(file), text); // reading changes nothing
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"defaults.json"}) << "nothing to copy aside";

        // A later write keeps every key of the file, the unusable one as it was.
        ASSERT_TRUE(store.set("currency", "€").isOk());
        const auto written = nlohmann::json::parse(contents(file));
        EXPECT_EQ(written,
                  nlohmann::json::parse(R"({"rate": 12, "name": "x", "currency": "€", "a": )" + unusable + "}"))
            << unusable;
    }
}

TEST_F(DefaultsStoreTest, ChangingAnUnusableKeyReplacesIt)
{
    write(file, R"({"a": null, "b": null, "rate": 1})");
    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << "both keys in one report: " << printed;

    ASSERT_TRUE(store.set("a", 5).isOk());
    ASSERT_TRUE(store.remove("b").isOk());
    EXPECT_EQ(nlohmann::json::parse(contents(file)), nlohmann::json::parse(R"({"a": 5, "rate": 1})"));
}

TEST_F(DefaultsStoreTest, EmptyFileIsAnEmptyStore)
{
    write(file, "");
    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(store.loadProblem());
    ASSERT_TRUE(store.set("rate", 2).isOk());
    EXPECT_EQ(nlohmann::json::parse(contents(file)), nlohmann::json::parse(R"({"rate": 2})"));
}

TEST_F(DefaultsStoreTest, WritesAtomicallyIntoAFolderItCreates)
{
    const fs::path nested = folder / "config" / "horavine" / "defaults.json";
    DefaultsStore store(nested, center);
    EXPECT_FALSE(store.loadProblem());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(store.set("count", i).isOk());
    ASSERT_TRUE(store.set("name", "x").isOk());

    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(nested.parent_path()))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"defaults.json"});
    EXPECT_EQ(nlohmann::json::parse(contents(nested)), nlohmann::json::parse(R"({"count": 4, "name": "x"})"));
}

TEST_F(DefaultsStoreTest, FailedWriteKeepsValueInMemoryAndRetriesWithTheNextChange)
{
    // A file where the folder should be: the folder cannot be created, even by root.
    const fs::path blocked = folder / "blocker" / "defaults.json";
    write(folder / "blocker", "not a folder");
    DefaultsStore store(blocked, center);

    testing::internal::CaptureStderr();
    const Status status = store.set("rate", 30);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status.code(), StatusCode::ioError);
    EXPECT_FALSE(status.message().empty());
    EXPECT_EQ(store.file(), blocked);
    EXPECT_EQ(store.integerValue("rate", 0), 30);

    fs::remove(folder / "blocker");
    ASSERT_TRUE(store.set("rate", 30).isOk()); // same value, but not yet on disk
    EXPECT_EQ(nlohmann::json::parse(contents(blocked)), nlohmann::json::parse(R"({"rate": 30})"));
}

TEST_F(DefaultsStoreTest, ReadOnlyFolderReportsFailure)
{
    ASSERT_TRUE(DefaultsStore(file, center).set("rate", 1).isOk());
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);

    // Root ignores folder permissions, so the store runs in a child that gives up root's rights.
    const uid_t nobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(file.c_str(), nobody, nobody), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            ::_exit(10);
        std::freopen("/dev/null", "w", stderr);
        DefaultsStore store(file, center);
        if (store.loadProblem())
            ::_exit(11);
        if (store.set("rate", 2).isOk())
            ::_exit(12); // reported success
        ::_exit(store.integerValue("rate", 0) == 2 ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no privileges to drop, 11: load failed, 12: failure unreported, "
                                         "13: value not kept";
    EXPECT_EQ(nlohmann::json::parse(contents(file)), nlohmann::json::parse(R"({"rate": 1})"));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"defaults.json"});
}

TEST_F(DefaultsStoreTest, UnreadableFileIsNeverReplaced)
{
    fs::create_directory(file); // exists, cannot be read as a file, cannot be copied
    testing::internal::CaptureStderr();
    DefaultsStore store(file, center);
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(store.loadProblem());

    EXPECT_EQ(store.set("rate", 3).code(), StatusCode::unavailable);
    EXPECT_EQ(store.integerValue("rate", 0), 3);
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(DefaultsStoreTest, RefusesValuesJsonCannotHold)
{
    DefaultsStore store(file, center);
    EXPECT_EQ(store.set("ratio", std::nan("")).code(), StatusCode::invalidArgument);
    EXPECT_EQ(store.set("list", DefaultsArray{1.0, std::numeric_limits<double>::infinity()}).code(),
              StatusCode::invalidArgument);
    EXPECT_EQ(store.set("name", std::string("\xff\xfe")).code(), StatusCode::invalidArgument);
    EXPECT_FALSE(store.object("ratio"));
    EXPECT_FALSE(store.object("list"));
    EXPECT_FALSE(store.object("name"));
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(DefaultsStoreTest, PostsOneNotificationPerChange)
{
    DefaultsStore store(file, center);
    std::vector<std::string> changed;
    auto token = center.addObserver(DefaultsStore::didChangeNotification, &store, [&](const Notification& n) {
        const auto* key = n.info<std::string>("key");
        changed.push_back(key ? *key : "?");
    });
    store.registerDefaults({{"rate", 1}});
    EXPECT_TRUE(store.set("rate", 2).isOk());
    EXPECT_TRUE(store.set("rate", 2).isOk()); // unchanged
    EXPECT_TRUE(store.remove("name").isOk()); // nothing to remove
    EXPECT_TRUE(store.remove("rate").isOk());
    EXPECT_EQ(changed, (std::vector<std::string>{"rate", "rate"}));
}

TEST(DefaultsStorePath, FollowsXdgConfigHome)
{
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::optional<std::string> config = savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
    const std::optional<std::string> home = savedHome ? std::optional<std::string>(savedHome) : std::nullopt;

    ::setenv("HOME", "/home/ana", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/cfg", 1);
    EXPECT_EQ(DefaultsStore::defaultPath(), fs::path("/srv/cfg/horavine/defaults.json"));
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    EXPECT_EQ(DefaultsStore::defaultPath(), fs::path("/home/ana/.config/horavine/defaults.json"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultsStore::defaultPath(), fs::path("/home/ana/.config/horavine/defaults.json"));

    config ? ::setenv("XDG_CONFIG_HOME", config->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
}

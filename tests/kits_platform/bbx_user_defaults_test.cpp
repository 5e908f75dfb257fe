// The kits' defaults store against real files: values read back by another process, typed reads,
// unreadable files and directories in the file's place, migration from the host's defaults, and
// synchronisation from many threads.
#include "kits/platform/bbx_user_defaults.h"

#include "foundation/main_bundle.h"
#include "foundation/property_list_file.h"
#include "kits/platform/kit_log.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <unistd.h>

using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::BBXUserDefaults;
namespace fs = std::filesystem;

namespace {

class FakeSystemDefaults final : public kits::BBXMigrationSource {
public:
    std::optional<PropertyListValue> objectForKey(const std::string& key) override
    {
        auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void removeObjectForKey(const std::string& key) override { values.erase(key); }
    void synchronize() override { ++synchronizations; }

    std::map<std::string, PropertyListValue> values;
    int synchronizations = 0;
};

class BBXUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { logged += std::string(line) + "\n"; });
    }
    void TearDown() override { kits::setKitLogSink({}); }

    fs::path storeFile() const { return folder.path() / "org.example_App" / "com.faultmere" / "BBXUserDefaults.plist"; }

    std::optional<PropertyListDictionary> fileContents() const
    {
        std::ifstream input(storeFile(), std::ios::binary);
        std::ostringstream bytes;
        bytes << input.rdbuf();
        auto read = foundation::propertyListFromBytes(bytes.str());
        if (!read || !read.value->holds<PropertyListDictionary>())
            return std::nullopt;
        return *read.value->get<PropertyListDictionary>();
    }

    testsupport::TempFolder folder;
    std::string logged;
};

} // namespace

TEST_F(BBXUserDefaultsTest, ValuesSynchronizedAreReadByAnotherProcess)
{
    BBXUserDefaults store(folder.path(), "org.example/App");
    EXPECT_EQ(store.fileURL(), storeFile());
    EXPECT_TRUE(store.dictionaryRepresentation().empty());
    EXPECT_EQ(store.objectForKey("com.faultmere.iuuid"), std::nullopt);
    store.setString("ABC-123", "com.faultmere.iuuid");
    store.setBool(true, "flag");
    EXPECT_FALSE(fs::exists(storeFile())); // nothing is written before synchronize
    store.synchronize();

    std::ifstream input(storeFile());
    std::string firstLine;
    std::getline(input, firstLine);
    EXPECT_EQ(firstLine.rfind("<?xml", 0), 0u) << firstLine;

    const fs::path base = folder.path();
    auto outcome = testsupport::runInChild([base] {
        foundation::MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example/App"}});
        foundation::MainBundle::setApplicationSupportDirectory(base);
        auto& standard = BBXUserDefaults::standardUserDefaults();
        return standard.stringForKey("com.faultmere.iuuid").value_or("none") + " "
               + (standard.boolForKey("flag") ? "true" : "false");
    });
    EXPECT_TRUE(outcome.exitedCleanly());
    EXPECT_EQ(outcome.report, "ABC-123 true");
    EXPECT_EQ(logged, "");
}

TEST_F(BBXUserDefaultsTest, TypedReadsAndRemoval)
{
    BBXUserDefaults store(folder.path(), "org.example/App");
    store.setObject(PropertyListValue("YES"), "text");
    store.setObject(PropertyListValue(1), "number");
    EXPECT_FALSE(store.boolForKey("text")); // a string is no number
    EXPECT_TRUE(store.boolForKey("number"));
    EXPECT_EQ(store.stringForKey("number"), std::nullopt);
    EXPECT_EQ(store.stringForKey("text"), "YES");
    store.setObject(std::nullopt, "text");
    EXPECT_EQ(store.objectForKey("text"), std::nullopt);
    store.setString(std::nullopt, "number");
    EXPECT_TRUE(store.dictionaryRepresentation().empty());
    store.setBool(false, "a");
    store.removeAllObjects();
    EXPECT_TRUE(store.dictionaryRepresentation().empty());
    EXPECT_EQ(BBXUserDefaults::generateDirectoryURLForBaseURL("/base", std::nullopt), fs::path("/base/com.faultmere"));
}

TEST_F(BBXUserDefaultsTest, UnreadableFileStartsEmptyAndIsReplacedAtTheNextSynchronize)
{
    fs::create_directories(storeFile().parent_path());
    std::ofstream(storeFile()) << "garbage";
    BBXUserDefaults store(folder.path(), "org.example/App");
    EXPECT_EQ(logged, "[Keystone:UserDefaults] failed to read existing UserDefaults file\n");
    EXPECT_TRUE(store.dictionaryRepresentation().empty());
    store.setObject(PropertyListValue(5), "kept");
    store.synchronize();
    EXPECT_EQ(fileContents(), (PropertyListDictionary{{"kept", 5}}));

    // A property list that is no dictionary is as unusable.
    std::ofstream(storeFile(), std::ios::trunc) << *foundation::xmlPropertyList(PropertyListValue(3)).value;
    logged.clear();
    BBXUserDefaults again(folder.path(), "org.example/App");
    EXPECT_EQ(logged, "[Keystone:UserDefaults] failed to read existing UserDefaults file\n");
}

TEST_F(BBXUserDefaultsTest, DirectoryInTheFilesPlaceIsRemoved)
{
    fs::create_directories(storeFile() / "inside");
    std::ofstream(storeFile() / "inside" / "file") << "x";
    BBXUserDefaults store(folder.path(), "org.example/App");
    EXPECT_EQ(logged, "[Keystone:UserDefaults] found directory where file expected. Removing conflicting directory\n");
    EXPECT_FALSE(fs::exists(storeFile()));
    EXPECT_TRUE(store.dictionaryRepresentation().empty());
}

TEST_F(BBXUserDefaultsTest, FailedWriteIsLoggedAndKeepsTheOldFile)
{
    BBXUserDefaults store(folder.path(), "org.example/App");
    store.setObject(PropertyListValue(1), "old");
    store.synchronize();
    // A directory where the temporary file goes: the write fails even for root.
    fs::path temporary = storeFile();
    temporary += ".tmp-" + std::to_string(::getpid());
    fs::create_directory(temporary);
    store.setObject(PropertyListValue(2), "new");
    store.synchronize();
    EXPECT_EQ(logged, "[Keystone:UserDefaults] Unable to open file for writing at path " + storeFile().string() + "\n");
    EXPECT_EQ(fileContents(), (PropertyListDictionary{{"old", 1}}));
    fs::remove(temporary);
    store.synchronize();
    EXPECT_EQ(fileContents(), (PropertyListDictionary{{"old", 1}, {"new", 2}}));
    EXPECT_TRUE(fileContents());
}

TEST_F(BBXUserDefaultsTest, MigratesValuesFromTheHostsDefaults)
{
    auto source = std::make_shared<FakeSystemDefaults>();
    source->values = {{"com.faultmere.iuuid", PropertyListValue("OLD-UUID")}, {"other", PropertyListValue(1)}};
    BBXUserDefaults store(folder.path(), "org.example/App", source);
    EXPECT_EQ(store.objectForKeyByMigratingFromNSUserDefaults("com.faultmere.iuuid"), PropertyListValue("OLD-UUID"));
    EXPECT_EQ(fileContents(), (PropertyListDictionary{{"com.faultmere.iuuid", "OLD-UUID"}}));
    EXPECT_FALSE(source->values.contains("com.faultmere.iuuid"));
    EXPECT_EQ(source->synchronizations, 1);
    // Present here: the source is not asked again.
    EXPECT_EQ(store.objectForKeyByMigratingFromNSUserDefaults("com.faultmere.iuuid"), PropertyListValue("OLD-UUID"));
    EXPECT_EQ(store.objectForKeyByMigratingFromNSUserDefaults("missing"), std::nullopt);
    EXPECT_EQ(source->synchronizations, 1);

    store.migrateFromNSUserDefaults({"nothing", "either"});
    EXPECT_EQ(source->synchronizations, 1); // none copied: nothing else happens
    store.migrateFromNSUserDefaults({"other", "nothing"});
    EXPECT_EQ(store.objectForKey("other"), PropertyListValue(1));
    EXPECT_TRUE(source->values.empty());
    EXPECT_EQ(fileContents()->size(), 2u);

    BBXUserDefaults withoutSource(folder.path() / "elsewhere", "org.example/App");
    EXPECT_EQ(withoutSource.objectForKeyByMigratingFromNSUserDefaults("com.faultmere.iuuid"), std::nullopt);
}

TEST_F(BBXUserDefaultsTest, ThreadsSettingAndSynchronizingLeaveAWholeFile)
{
    BBXUserDefaults store(folder.path(), "org.example/App");
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread)
        threads.emplace_back([&store, thread] {
            for (int round = 0; round < 10; ++round) {
                store.setObject(PropertyListValue(round), "thread " + std::to_string(thread));
                store.synchronize();
            }
        });
    for (auto& thread : threads)
        thread.join();
    const auto contents = fileContents();
    ASSERT_TRUE(contents);
    // The newest snapshot is the one on disk: every thread's last value is there.
    EXPECT_EQ(*contents, store.dictionaryRepresentation());
    EXPECT_EQ(contents->size(), 8u);
    EXPECT_EQ(logged, "");
}

// The report directory tree: where it lives, what listings skip, how moves and removals fail.
#include "kits/crash/bbx_file_manager.h"

#include "kits/crash/bbx_internal_report.h"
#include "kits/platform/kit_log.h"

#include "foundation/main_bundle.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using foundation::MainBundle;
using foundation::PropertyListDictionary;
using kits::BBXFileManager;

namespace {

void writeFile(const fs::path& path, const std::string& text = "x")
{
    std::ofstream(path, std::ios::binary) << text;
}

// An entry `name` in `directory` that cannot be removed: a folder holding a file the caller may not
// unlink (an immutable file for root, a read-only folder otherwise). Undone by the destructor.
class Unremovable {
public:
    Unremovable(const fs::path& directory, const std::string& name)
        : folder_(directory / name), inner_(folder_ / "inner")
    {
        fs::create_directory(folder_);
        writeFile(inner_);
        if (::geteuid() == 0)
            works_ = std::system(("chattr +i '" + inner_.string() + "' 2>/dev/null").c_str()) == 0;
        else
            works_ = ::chmod(folder_.c_str(), 0555) == 0;
    }
    ~Unremovable()
    {
        if (::geteuid() == 0)
            (void)std::system(("chattr -i '" + inner_.string() + "' 2>/dev/null").c_str());
        else
            ::chmod(folder_.c_str(), 0755);
    }
    bool works() const { return works_; }

private:
    fs::path folder_;
    fs::path inner_;
    bool works_ = false;
};

class BBXFileManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MainBundle::setCachesDirectory(folder.path());
        MainBundle::setInfoDictionary(PropertyListDictionary{{"CFBundleIdentifier", "org.example/Tracker"}});
        kits::setKitLogSink([this](std::string_view line) { logged += std::string(line) + "\n"; });
    }
    void TearDown() override
    {
        kits::setKitLogSink({});
        MainBundle::setCachesDirectory(std::nullopt);
        MainBundle::setInfoDictionary(nullptr);
    }

    testsupport::TempFolder folder{"bbx-file-manager"};
    std::string logged;
};

} // namespace

TEST_F(BBXFileManagerTest, TreeLivesUnderTheCachesFolderAndTheEscapedIdentifier)
{
    BBXFileManager manager;
    const fs::path root = folder.path() / "com.faultmere.data" / "org.example_Tracker";
    EXPECT_EQ(manager.pathNamespace(), "org.example_Tracker");
    EXPECT_EQ(manager.rootPath(), root.string());
    EXPECT_EQ(manager.activePath(), (root / "v3" / "active").string());
    EXPECT_EQ(manager.pendingPath(), (root / "v3" / "pending").string());
    EXPECT_EQ(manager.processingPath(), (root / "v3" / "processing").string());
    EXPECT_EQ(manager.preparedPath(), (root / "v3" / "prepared").string());
    EXPECT_FALSE(fs::exists(root)) << "construction creates nothing";

    ::umask(077);
    ASSERT_TRUE(manager.prepareForNewLaunch());
    ::umask(022);
    for (const auto& path :
         {manager.activePath(), manager.processingPath(), manager.preparedPath(), manager.rootPath()}) {
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.st_mode & 0777, 0755u) << path;
    }
    EXPECT_FALSE(fs::exists(manager.pendingPath()));
    EXPECT_TRUE(manager.movePendingToProcessing()) << "a missing pending folder lists nothing";

    const auto launch = manager.setupNewPathForExecutionIdentifier("ABC-123");
    ASSERT_TRUE(launch);
    EXPECT_EQ(*launch, manager.activePath() + "/ABC-123");
    EXPECT_TRUE(fs::is_directory(*launch));
    EXPECT_EQ(manager.activePathContents(), std::vector<std::string>{*launch});
    EXPECT_EQ(logged, "");
}

TEST_F(BBXFileManagerTest, FailedCreationsAreLoggedAndStopTheLaunchSetUp)
{
    BBXFileManager manager;
    ASSERT_TRUE(manager.createDirectoryAtPath(manager.structurePath()));
    writeFile(manager.activePath()); // a file where a folder should be
    EXPECT_FALSE(manager.prepareForNewLaunch());
    EXPECT_FALSE(fs::exists(manager.processingPath())) << "stops at the first failure";
    EXPECT_NE(logged.find("[FileManager] Unable to create directory '" + manager.activePath() + "'"), std::string::npos)
        << logged;
    EXPECT_FALSE(manager.setupNewPathForExecutionIdentifier("X"));
    EXPECT_TRUE(manager.createDirectoryAtPath(manager.structurePath())) << "an existing folder is fine";
}

TEST_F(BBXFileManagerTest, ListingsSkipHiddenNamesAndGiveExtensions)
{
    BBXFileManager manager;
    const fs::path dir = folder.path() / "list";
    fs::create_directory(dir);
    writeFile(dir / ".hidden");
    writeFile(dir / "b.multipartmime");
    writeFile(dir / "a");
    fs::create_directory(dir / ".git");
    fs::create_directory(dir / "c.d");

    std::vector<std::string> seen;
    manager.enumerateFilesInDirectory(dir.string(), [&](const std::string& path, const std::string& extension) {
        seen.push_back(fs::path(path).filename().string() + "|" + extension);
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"a|", "b.multipartmime|multipartmime", "c.d|d"}));
    EXPECT_TRUE(manager.contentsOfDirectory((folder.path() / "missing").string()).empty());
    EXPECT_EQ(logged, "") << "a listing error has no message";

    EXPECT_TRUE(manager.removeContentsOfDirectoryAtPath(dir.string()));
    EXPECT_TRUE(fs::exists(dir / ".hidden"));
    EXPECT_TRUE(fs::exists(dir / ".git"));
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_FALSE(fs::exists(dir / "c.d"));

    const fs::path target = folder.path() / "target";
    fs::create_directory(target);
    writeFile(dir / "e");
    EXPECT_TRUE(manager.moveItemsFromDirectoryToDirectory(dir.string(), target.string()));
    EXPECT_TRUE(fs::exists(dir / ".hidden")) << "hidden entries are never moved";
    EXPECT_FALSE(fs::exists(target / ".hidden"));
    EXPECT_TRUE(fs::exists(target / "e"));
}

TEST_F(BBXFileManagerTest, MovesStopAtTheFirstFailureAndNeverReplace)
{
    BBXFileManager manager;
    const fs::path source = folder.path() / "source";
    const fs::path destination = folder.path() / "destination";
    fs::create_directories(source);
    fs::create_directories(destination);
    EXPECT_TRUE(manager.moveItemsFromDirectoryToDirectory(source.string(), destination.string())) << "empty source";

    writeFile(source / "1", "one");
    writeFile(source / "2", "two");
    writeFile(source / "3", "three");
    writeFile(destination / "2", "older"); // the second move meets an existing entry
    EXPECT_FALSE(manager.moveItemsFromDirectoryToDirectory(source.string(), destination.string()));
    EXPECT_TRUE(fs::exists(destination / "1"));
    EXPECT_EQ(fs::file_size(destination / "2"), 5u) << "not replaced";
    EXPECT_TRUE(fs::exists(source / "2"));
    EXPECT_TRUE(fs::exists(source / "3")) << "no move after the failed one";
    EXPECT_NE(logged.find("[FileManager] Failed to move file: "), std::string::npos) << logged;

    logged.clear();
    EXPECT_FALSE(manager.moveItemAtPathToDirectory("", destination.string()));
    EXPECT_EQ(logged, "[FileManager] Failed to move file, inputs invalid\n");
    EXPECT_TRUE(manager.moveItemAtPathToDirectory((source / "3").string(), destination.string()));
    EXPECT_TRUE(fs::exists(destination / "3"));
}

TEST_F(BBXFileManagerTest, RemovalsTryEveryEntry)
{
    BBXFileManager manager;
    const fs::path dir = folder.path() / "remove";
    fs::create_directory(dir);
    writeFile(dir / "a");
    Unremovable stuck(dir, "b");
    if (!stuck.works())
        GTEST_SKIP() << "no way to make an entry unremovable here";
    writeFile(dir / "c");

    EXPECT_FALSE(manager.removeContentsOfDirectoryAtPath(dir.string()));
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "b"));
    EXPECT_FALSE(fs::exists(dir / "c")) << "removal goes on after a failure";
    EXPECT_NE(logged.find("[FileManager] Failed to remove file '" + (dir / "b").string() + "' : "), std::string::npos)
        << logged;

    EXPECT_FALSE(manager.removeItemAtPath((dir / "missing").string()));
    EXPECT_FALSE(manager.removeItemAtPath(""));
    EXPECT_TRUE(manager.removeContentsOfDirectoryAtPath((folder.path() / "nothing").string()));
}

TEST_F(BBXFileManagerTest, RemovingAllPathsEmptiesEveryStateFolder)
{
    BBXFileManager manager;
    ASSERT_TRUE(manager.prepareForNewLaunch());
    ASSERT_TRUE(manager.createDirectoryAtPath(manager.pendingPath()));
    for (const auto& path :
         {manager.activePath(), manager.pendingPath(), manager.processingPath(), manager.preparedPath()}) {
        writeFile(fs::path(path) / "report");
        writeFile(fs::path(path) / ".keep");
    }
    Unremovable stuck(manager.processingPath(), "stuck");
    const bool failureMade = stuck.works();
    EXPECT_EQ(manager.removeContentsOfAllPaths(), !failureMade);
    for (const auto& path :
         {manager.activePath(), manager.pendingPath(), manager.processingPath(), manager.preparedPath()}) {
        EXPECT_FALSE(fs::exists(fs::path(path) / "report")) << path << ": every folder is tried";
        EXPECT_TRUE(fs::exists(fs::path(path) / ".keep")) << path;
    }
}

TEST_F(BBXFileManagerTest, SendableMarkerRemovesTheWholeRoot)
{
    BBXFileManager manager;
    ASSERT_TRUE(manager.prepareForNewLaunch());
    manager.removeLegacyDirectories();
    EXPECT_TRUE(fs::exists(manager.activePath())) << "no marker, nothing removed";
    EXPECT_EQ(logged, "");

    writeFile(fs::path(manager.rootPath()) / "sendable");
    manager.removeLegacyDirectories();
    EXPECT_FALSE(fs::exists(manager.rootPath()));
    EXPECT_TRUE(fs::exists(folder.path() / "com.faultmere.data"));
    EXPECT_EQ(logged, "[Blackbox:FileManager] Removed legacy structure at " + manager.rootPath() + "\n");
}

TEST_F(BBXFileManagerTest, FileSizesAndProcessingReports)
{
    BBXFileManager manager;
    ASSERT_TRUE(manager.prepareForNewLaunch());
    const fs::path file = fs::path(manager.preparedPath()) / "package.multipartmime";
    writeFile(file, "12345");
    EXPECT_EQ(manager.fileSizeAtPath(file.string()), 5u);
    EXPECT_FALSE(manager.fileSizeAtPath((folder.path() / "none").string()));
    EXPECT_NE(logged.find("[Client] Unable to read file size: "), std::string::npos);

    const fs::path good = fs::path(manager.processingPath()) / "good";
    const fs::path bad = fs::path(manager.processingPath()) / "bad";
    fs::create_directory(good);
    fs::create_directory(bad);
    writeFile(good / "metadata.bbxrecord", "{\"identity\":{\"session_id\":\"S1\"}}\n");
    std::vector<std::string> seen;
    manager.enumerateReportsInProcessingDirectory(
        [&](std::shared_ptr<kits::BBXInternalReport> report, const std::string& path) {
            seen.push_back(fs::path(path).filename().string() + "=" + (report ? report->identifier() : "none"));
        });
    EXPECT_EQ(seen, (std::vector<std::string>{"bad=none", "good=S1"}));

    EXPECT_TRUE(manager.moveProcessingContentsToPrepared());
    EXPECT_TRUE(fs::is_directory(fs::path(manager.preparedPath()) / "good"));
}

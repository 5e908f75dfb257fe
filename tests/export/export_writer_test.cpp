// Exporter::write: the bytes land whole, new files get a plain write's permissions and existing ones
// keep theirs, and a write that fails part way leaves the destination as it was and no stray file.
#include "export/exporter.h"

#include "support/scoped_file_limits.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using exports::Exporter;
using testsupport::ScopedFileSizeLimit;
using testsupport::ScopedUmask;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

unsigned mode(const fs::path& path)
{
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ExportWriterTest, WritesTheTextAsItsUtf8BytesWithAPlainWritesPermissions)
{
    testsupport::TempFolder folder;
    const fs::path file = folder.path() / "report.csv";
    const std::string text = "Name;Date\nCafe\u0301 \u2615;\n\n";
    ScopedUmask mask(022);
    EXPECT_TRUE(Exporter::write(text, file).isOk());
    EXPECT_EQ(contents(file), text);
    EXPECT_EQ(mode(file), 0644u);
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"report.csv"});

    ScopedUmask stricter(077);
    const fs::path other = folder.path() / "private.txt";
    EXPECT_TRUE(Exporter::write("x", other).isOk());
    EXPECT_EQ(mode(other), 0600u);
}

TEST(ExportWriterTest, AReplacedFileKeepsItsPermissionsAndALinkStaysALink)
{
    testsupport::TempFolder folder;
    const fs::path file = folder.path() / "report.txt";
    std::ofstream(file) << "a much longer old document than the new one";
    ::chmod(file.c_str(), 0640);
    EXPECT_TRUE(Exporter::write("new", file).isOk());
    EXPECT_EQ(contents(file), "new");
    EXPECT_EQ(mode(file), 0640u);

    const fs::path link = folder.path() / "latest.txt";
    fs::create_symlink(file, link);
    EXPECT_TRUE(Exporter::write("through the link", link).isOk());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(file), "through the link");
    EXPECT_EQ(entries(folder.path()), (std::vector<std::string>{"latest.txt", "report.txt"}));
}

TEST(ExportWriterTest, AWriteFailingPartWayLeavesTheOldFileAndNoTemporaryFile)
{
    testsupport::TempFolder folder;
    const fs::path file = folder.path() / "report.txt";
    const std::string old = "the previous export\n";
    std::ofstream(file) << old;

    testing::internal::CaptureStderr();
    foundation::Status status;
    {
        ScopedFileSizeLimit limit(4096);
        status = Exporter::write(std::string(64 * 1024, 'x'), file);
    }
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, foundation::Status::failure(foundation::StatusCode::ioError, "File too large"));
    EXPECT_EQ(console, "horavine: ERROR: could not export\n");
    EXPECT_EQ(contents(file), old);
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"report.txt"});
}

TEST(ExportWriterTest, ADestinationThatCannotBeAFileIsRefusedWithItsReason)
{
    testsupport::TempFolder folder;
    testing::internal::CaptureStderr();
    const auto missingFolder = Exporter::write("x", folder.path() / "missing" / "report.txt");
    const auto folderItself = Exporter::write("x", folder.path());
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(missingFolder, foundation::Status::failure(foundation::StatusCode::ioError, "No such file or directory"));
    EXPECT_EQ(folderItself, foundation::Status::failure(foundation::StatusCode::ioError, "Is a directory"));
    EXPECT_EQ(console, "horavine: ERROR: could not export\nhoravine: ERROR: could not export\n");
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

} // namespace

// Exporter::write: the bytes land whole, new files get a plain write's permissions and existing ones
// keep theirs, and a write that fails part way leaves the destination as it was and no stray file;
// in a folder that takes no new files a writable file is rewritten in place, and a failure is told.
#include "export/exporter.h"

#include "support/child_process.h"
#include "support/scoped_file_limits.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

// Runs `scenario` where file permissions bind: here, or, for root (whom they do not bind), in a child
// that has become the user nobody. Its report and everything it wrote to stderr.
testsupport::ChildOutcome whereFilePermissionsBind(const std::function<std::string()>& scenario)
{
    if (::geteuid() != 0) {
        testing::internal::CaptureStderr();
        std::string report = scenario();
        return {0, std::move(report), testing::internal::GetCapturedStderr()};
    }
    return testsupport::runInChild([&scenario] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return std::string("could not become nobody");
        return scenario();
    });
}

std::string said(const foundation::Status& status)
{
    return status.isOk() ? "written" : status.message();
}

TEST(ExportWriterTest, AFolderThatTakesNoNewFilesHasItsWritableFileRewrittenInPlace)
{
    testsupport::TempFolder folder;
    const fs::path locked = folder.path() / "shared";
    fs::create_directory(locked);
    const fs::path file = locked / "report.csv";
    const fs::path readOnly = locked / "frozen.csv";
    std::ofstream(file) << "a much longer document than the one that replaces it\n";
    std::ofstream(readOnly) << "frozen\n";
    ::chmod(file.c_str(), 0666);
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(locked.c_str(), 0555);

    const testsupport::ChildOutcome outcome = whereFilePermissionsBind([&] {
        std::string report;
        {
            ScopedFileSizeLimit limit(4096);
            report += said(Exporter::write(std::string(64 * 1024, 'x'), file)) + "|";
        }
        report += said(Exporter::write("Name;Date\n", file)) + "|";
        report += said(Exporter::write("lost", readOnly)) + "|";
        report += said(Exporter::write("new", locked / "new.csv"));
        return report;
    });
    ::chmod(locked.c_str(), 0755);

    // A failed write is never a success; the one after it lands whole, in place.
    EXPECT_EQ(outcome.report, "File too large|written|Permission denied|Permission denied");
    std::size_t told = 0;
    for (auto at = outcome.errors.find("ERROR: could not export"); at != std::string::npos;
         at = outcome.errors.find("ERROR: could not export", at + 1))
        ++told;
    EXPECT_EQ(told, 3u) << outcome.errors;
    EXPECT_EQ(contents(file), "Name;Date\n");
    EXPECT_EQ(mode(file), 0666u);
    EXPECT_EQ(contents(readOnly), "frozen\n");
    EXPECT_EQ(entries(locked), (std::vector<std::string>{"frozen.csv", "report.csv"}));
}

} // namespace

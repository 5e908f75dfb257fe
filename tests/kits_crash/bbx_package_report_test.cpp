// Packaging a report directory: the package's name and multipart form, each part a gzip copy of its
// file (read back with zlib and with the gunzip program), the files left out, and a cancelled run.
#include "kits/crash/bbx_file_manager.h"
#include "kits/crash/bbx_internal_report.h"
#include "kits/crash/bbx_package_report_operation.h"
#include "kits/platform/kit_log.h"

#include "foundation/main_bundle.h"
#include "support/file_contents.h"
#include "support/multipart_reader.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <zlib.h>

namespace fs = std::filesystem;
using foundation::MainBundle;
using kits::BBXPackageReportOperation;

using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string gzipRead(const fs::path& file)
{
    gzFile stream = ::gzopen(file.c_str(), "r");
    if (!stream)
        return "<unopenable>";
    std::string bytes;
    char buffer[4096];
    int count = 0;
    while ((count = ::gzread(stream, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(count));
    ::gzclose(stream);
    return count < 0 ? "<error>" : bytes;
}

std::string gunzipProgram(const fs::path& file)
{
    FILE* pipe = ::popen(("gunzip -c < '" + file.string() + "' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return "<no gunzip>";
    std::string bytes;
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        bytes.append(buffer, count);
    return ::pclose(pipe) == 0 ? bytes : "<gunzip failed>";
}

class BBXPackageReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MainBundle::setCachesDirectory(folder.path());
        MainBundle::setInfoDictionary(foundation::PropertyListDictionary{{"CFBundleIdentifier", "org.example"}});
        kits::setKitLogSink([](std::string_view) {});
        manager = std::make_shared<kits::BBXFileManager>();
        ASSERT_TRUE(manager->prepareForNewLaunch());
        directory = fs::path(manager->processingPath()) / "E1";
        fs::create_directories(directory);
        files = {
            {"metadata.bbxrecord", R"({"identity":{"api_key":"k3y","session_id":"S-1"}})"
                                   "\n"},
            {"sdk.log", std::string(70000, 'l')},
            {"signal.bbxrecord", R"({"signal":{"number":11}})"
                                 "\n"},
            {"signal.bbxrecord.symbolicated", R"({"threads":[[]]})"
                                              "\n"},
        };
        for (const auto& [name, text] : files)
            writeFile(directory / name, text);
        writeFile(directory / "errors_a.bbxrecord", "");
        writeFile(directory / "signal.bbxrecord.gz", "stale, not even gzip");
        writeFile(directory / ".hidden", "never packaged");
        report = kits::BBXInternalReport::reportWithPath(directory.string());
        ASSERT_TRUE(report);
    }
    void TearDown() override
    {
        kits::setKitLogSink({});
        MainBundle::setCachesDirectory(std::nullopt);
        MainBundle::setInfoDictionary(nullptr);
    }

    std::vector<std::string> preparedNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(manager->preparedPath()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    testsupport::TempFolder folder{"bbx-package"};
    std::shared_ptr<kits::BBXFileManager> manager;
    fs::path directory;
    std::shared_ptr<kits::BBXInternalReport> report;
    std::map<std::string, std::string> files;
};

TEST_F(BBXPackageReportTest, PackagesEveryNonEmptyFileAsAGzipPart)
{
    auto operation = std::make_shared<BBXPackageReportOperation>(report, manager);
    operation->start();
    ASSERT_TRUE(operation->finalPath());
    const fs::path package = *operation->finalPath();
    EXPECT_EQ(preparedNames(), std::vector<std::string>{package.filename().string()}); // nothing hidden is left
    EXPECT_EQ(package.parent_path(), fs::path(manager->preparedPath()));
    EXPECT_EQ(package.extension(), ".multipartmime");
    const std::string boundary = package.stem().string();
    EXPECT_TRUE(std::regex_match(boundary, std::regex("[0-9A-F-]{36}"))) << boundary;

    // The reader insists on the preamble, CRLFs and "--B--" CRLF as the last bytes.
    const auto form = testsupport::readMultipartBody(readFile(package), boundary);
    ASSERT_TRUE(form.parts) << form.error;
    const auto& parts = *form.parts;
    ASSERT_EQ(parts.size(), 2 + files.size());
    EXPECT_EQ(parts[0].header("Content-Disposition"), "form-data; name=\"api_key\"");
    EXPECT_EQ(parts[0].body, "k3y");
    EXPECT_EQ(parts[1].header("Content-Disposition"), "form-data; name=\"report_id\"");
    EXPECT_EQ(parts[1].body, "S-1");
    std::size_t index = 2;
    for (const auto& [name, text] : files) { // listing order: by name
        const auto& part = parts[index++];
        EXPECT_EQ(part.header("Content-Disposition"), "form-data; name=\"" + name + "\"; filename=\"" + name + ".gz\"");
        EXPECT_EQ(part.header("Content-Type"), "application/x-gzip");
        const fs::path copy = folder.path() / (name + ".copy.gz");
        writeFile(copy, part.body);
        EXPECT_EQ(gzipRead(copy), text) << name;
        EXPECT_EQ(gunzipProgram(copy), text) << name;
    }
}

TEST_F(BBXPackageReportTest, ACancelledRunLeavesNoPackage)
{
    auto cancelledFirst = std::make_shared<BBXPackageReportOperation>(report, manager);
    cancelledFirst->cancel();
    cancelledFirst->start();
    EXPECT_FALSE(cancelledFirst->finalPath());

    // Cancelled while encoding: the files are skipped and the partial package removed.
    auto cancelledDuring = std::make_shared<BBXPackageReportOperation>(report, manager);
    cancelledDuring->cancel();
    cancelledDuring->main();
    EXPECT_FALSE(cancelledDuring->finalPath());
    EXPECT_TRUE(preparedNames().empty());
}

TEST_F(BBXPackageReportTest, WithoutAPreparedDirectoryThereIsNoPackage)
{
    fs::remove_all(manager->preparedPath());
    auto operation = std::make_shared<BBXPackageReportOperation>(report, manager);
    operation->start();
    EXPECT_FALSE(operation->finalPath());
}

TEST(BBXPackageCompressionTest, EmptyDataOrAnUnwritablePathFails)
{
    testsupport::TempFolder folder("bbx-gzip");
    const std::vector<std::uint8_t> data(100000, 7);
    EXPECT_TRUE(BBXPackageReportOperation::compressDataToPath(data, (folder.path() / "a.gz").string()));
    EXPECT_EQ(gzipRead(folder.path() / "a.gz"), std::string(100000, '\7'));
    EXPECT_FALSE(BBXPackageReportOperation::compressDataToPath({}, (folder.path() / "b.gz").string()));
    EXPECT_FALSE(BBXPackageReportOperation::compressDataToPath(data, (folder.path() / "no" / "c.gz").string()));
}

} // namespace

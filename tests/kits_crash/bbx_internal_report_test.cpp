// One report directory read back: identity, versions and dates from the metadata, the crash test and
// the crash date from the crash files.
#include "kits/crash/bbx_internal_report.h"

#include "kits/platform/kit_log.h"

#include "support/file_contents.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using kits::BBXInternalReport;

using testsupport::writeFile;

namespace {

// The four metadata lines a launch writes (abridged to the keys read back, plus one that is not).
const std::string metadata =
    R"({"identity":{"generator":"Blackbox Mac SDK/3.8.4","api_key":"k3y","started_at":1700000000,"session_id":"E1"}}
{"host":{"model":"m","os_build_version":"6.1.0-18-amd64","os_display_version":"6.1.0","platform":"mac"}}
{"application":{"bundle_id":"org.example","build_version":"42","display_version":"1.2"}}
{"executable":{"architecture":"x86_64"}}
)";

class BBXInternalReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { logged += std::string(line) + "\n"; });
    }
    void TearDown() override { kits::setKitLogSink({}); }

    std::shared_ptr<BBXInternalReport> reportWith(const std::vector<std::pair<std::string, std::string>>& files)
    {
        for (const auto& [name, text] : files)
            writeFile(folder.path() / name, text);
        return BBXInternalReport::reportWithPath(folder.path().string());
    }

    testsupport::TempFolder folder{"bbx-internal-report"};
    std::string logged;
};

BBXInternalReport::Date at(std::int64_t seconds)
{
    return BBXInternalReport::Date(std::chrono::seconds(seconds));
}

} // namespace

TEST_F(BBXInternalReportTest, MetadataGivesIdentityVersionsAndCreationDate)
{
    auto report = reportWith({{"metadata.bbxrecord", metadata}});
    ASSERT_TRUE(report);
    EXPECT_EQ(report->identifier(), "E1");
    EXPECT_EQ(report->path(), folder.path().string());
    EXPECT_EQ(report->directoryName(), folder.path().filename().string());
    EXPECT_EQ(report->metadataPath(), (folder.path() / "metadata.bbxrecord").string());
    EXPECT_EQ(report->binaryImagePath(), (folder.path() / "binary_images.bbxrecord").string());
    EXPECT_EQ(report->APIKey(), "k3y");
    EXPECT_EQ(report->OSVersion(), "6.1.0");
    EXPECT_EQ(report->OSBuildVersion(), "6.1.0-18-amd64");
    EXPECT_EQ(report->bundleVersion(), "42");
    EXPECT_EQ(report->bundleShortVersionString(), "1.2");
    EXPECT_EQ(report->dateCreated(), at(1700000000));
    EXPECT_FALSE(report->customKeys());
    EXPECT_EQ(report->metadataSections().size(), 4u);
    EXPECT_FALSE(report->isCrash());
    EXPECT_FALSE(report->needsToBeSubmitted());
    EXPECT_FALSE(report->crashedOnDate());
    EXPECT_EQ(logged, "");
}

TEST_F(BBXInternalReportTest, MissingOrWrongValuesAreNone)
{
    auto report = reportWith({{"metadata.bbxrecord", R"({"identity":{"session_id":"E2","started_at":-5,"api_key":7}}
{"application":{"build_version":"9"}}
)"}});
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->dateCreated()) << "a negative count is no date";
    EXPECT_FALSE(report->APIKey()) << "a number is no key";
    EXPECT_FALSE(report->OSVersion()) << "line 1 is no host line";
    EXPECT_FALSE(report->bundleVersion()) << "line 2 is missing";
}

TEST_F(BBXInternalReportTest, DirectoryWithoutIdentifierGivesNoReport)
{
    EXPECT_FALSE(BBXInternalReport::reportWithPath(folder.path().string()));
    EXPECT_EQ(logged, "[Blackbox:Crash] Unable to read identifier at path " + folder.path().string() + "\n");
    logged.clear();
    EXPECT_FALSE(reportWith({{"metadata.bbxrecord", R"({"host":{"session_id":"E3"}})"}}));
    EXPECT_FALSE(logged.empty());

    auto given = BBXInternalReport::reportWithPath(folder.path().string(), "E4");
    ASSERT_TRUE(given);
    EXPECT_EQ(given->identifier(), "E4");
    EXPECT_FALSE(BBXInternalReport::reportWithPath(folder.path().string(), ""));
    EXPECT_FALSE(BBXInternalReport::reportWithPath("", "E4"));
}

TEST_F(BBXInternalReportTest, ExceptionFileAloneIsACrashWithoutDate)
{
    auto report = reportWith({{"metadata.bbxrecord", metadata},
                              {"exception.bbxrecord", R"({"exception":{"type":"c++","time":1700000100}})"
                                                      "\n"}});
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isCrash());
    EXPECT_TRUE(report->needsToBeSubmitted());
    EXPECT_FALSE(report->crashedOnDate());
}

TEST_F(BBXInternalReportTest, LoggedErrorsNeedSubmissionButAreNoCrash)
{
    auto report = reportWith({{"metadata.bbxrecord", metadata}, {"errors_a.bbxrecord", "{\"error\":{}}\n"}});
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->isCrash());
    EXPECT_TRUE(report->needsToBeSubmitted());
    EXPECT_FALSE(report->crashedOnDate());
    for (const char* name : {"custom_exception_b.bbxrecord", "errors_b.bbxrecord", "custom_exception_a.bbxrecord"}) {
        auto other = BBXInternalReport::reportWithPath(folder.path().string(), "E");
        fs::remove(folder.path() / "errors_a.bbxrecord");
        writeFile(folder.path() / name, "");
        EXPECT_TRUE(other->needsToBeSubmitted()) << name;
        fs::remove(folder.path() / name);
    }
}

TEST_F(BBXInternalReportTest, CrashDateComesFromTheMachExceptionElseTheSignal)
{
    auto report = reportWith(
        {{"metadata.bbxrecord", metadata}, {"signal.bbxrecord", R"({"signal":{"number":11,"errno":0,"time":1700000200}}
{"runtime":{}}
)"}});
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isCrash());
    EXPECT_EQ(report->crashedOnDate(), at(1700000200));

    writeFile(folder.path() / "mach_exception.bbxrecord", R"({"mach_exception":{"exception":1,"time":1700000300}})");
    EXPECT_EQ(report->crashedOnDate(), at(1700000300));
    writeFile(folder.path() / "mach_exception.bbxrecord", R"({"mach_exception":{"exception":1}})");
    EXPECT_EQ(report->crashedOnDate(), at(1700000200)) << "no time there: the signal's";
    EXPECT_EQ(report->timeFromCrashContentFile("signal.bbxrecord", "mach_exception"), std::nullopt);

    std::vector<std::string> symbolicatable;
    report->enumerateSymbolicatableFilesInContent(
        [&](const std::string& path) { symbolicatable.push_back(fs::path(path).filename().string()); });
    EXPECT_EQ(symbolicatable, BBXInternalReport::crashFilenames());
    EXPECT_EQ(symbolicatable,
              (std::vector<std::string>{"exception.bbxrecord", "mach_exception.bbxrecord", "signal.bbxrecord"}));
}

TEST_F(BBXInternalReportTest, EmptyOrMissingRecordFileReadsAsNone)
{
    writeFile(folder.path() / "empty.bbxrecord", "");
    writeFile(folder.path() / "broken.bbxrecord", "{\"a\":\n[1,\n");
    EXPECT_FALSE(BBXInternalReport::readBBXFileAtPath((folder.path() / "empty.bbxrecord").string()));
    EXPECT_FALSE(BBXInternalReport::readBBXFileAtPath((folder.path() / "broken.bbxrecord").string()));
    EXPECT_FALSE(BBXInternalReport::readBBXFileAtPath((folder.path() / "missing.bbxrecord").string()));
    writeFile(folder.path() / "two.bbxrecord", "{\"a\":1}\n{\"b\":2}\n");
    const auto lines = BBXInternalReport::readBBXFileAtPath((folder.path() / "two.bbxrecord").string());
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->size(), 2u);
}

// The event log pipeline on real files: the log line format and the metadata line of a new log,
// crash events against unreadable metadata, compression and packaging read back with zlib, the gunzip
// program and the strict multipart reader, no partial file under a file-size limit, the clean-up's
// rules, and the crash metadata rotation.
#include "kits/analytics/tly_cleanup_files_operation.h"
#include "kits/analytics/tly_compress_log_operation.h"
#include "kits/analytics/tly_file_utils.h"
#include "kits/analytics/tly_logger.h"
#include "kits/analytics/tly_package_log_operation.h"
#include "kits/analytics/tly_rotate_crash_metadata_operation.h"
#include "kits/analytics/tly_write_event_operation.h"
#include "kits/platform/kit_log.h"

#include "child_process.h"
#include "event_log_reader.h"
#include "gunzip.h"
#include "multipart_reader.h"
#include "scoped_file_limits.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <zlib.h>

using foundation::PropertyListDictionary;
using kits::TLYCleanupFilesOperation;
using kits::TLYCompressLogOperation;
using kits::TLYPackageLogOperation;
using kits::TLYWriteEventOperation;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::shared_ptr<const kits::TLYMetadata> metadata()
{
    kits::TLYMetadata::Fields fields;
    fields.APIKey = "key";
    fields.locale = "en_US";
    return std::make_shared<kits::TLYMetadata>(fields);
}

bool write(const std::shared_ptr<const kits::TLYEvent>& event, const fs::path& log,
           std::shared_ptr<const kits::TLYMetadataSerializable> with = metadata())
{
    auto operation = std::make_shared<TLYWriteEventOperation>(event, std::move(with), log);
    operation->start();
    return operation->success();
}

std::shared_ptr<kits::TLYCustomEvent> eventAt(double seconds, PropertyListDictionary attributes = {})
{
    foundation::ScopedClock clock(
        std::make_shared<foundation::FixedClock>(foundation::dateFromSecondsSinceEpoch(seconds)));
    return std::make_shared<kits::TLYCustomEvent>("Start Timer", attributes);
}

class TLYEventLogPipelineTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder;
    fs::path log = folder.path() / "0F0E0D0C-0000-4000-8000-000000000001.log";
};

} // namespace

TEST_F(TLYEventLogPipelineTest, ANewLogOpensWithItsMetadataLineThenOneLinePerEvent)
{
    ASSERT_TRUE(write(eventAt(1704103200.789), log));
    ASSERT_TRUE(write(eventAt(1704103201.5, {{"name", "é"}}), log));
    const std::string text = readFile(log);
    const auto read = testsupport::readEventLog(text);
    ASSERT_TRUE(read.lines) << read.error;
    const auto& lines = *read.lines;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].name, "metadata");
    EXPECT_EQ(lines[0].timestampMilliseconds, 1704103200789u);
    EXPECT_NE(lines[0].payload.find(R"("started_at":1704103200,)"), std::string::npos) << lines[0].payload;
    EXPECT_EQ(lines[1].name, "custom");
    EXPECT_EQ(lines[1].timestampMilliseconds, 1704103200789u);
    EXPECT_EQ(lines[2].timestampMilliseconds, 1704103201500u);
    // Field 3 counts bytes: "é" is two.
    EXPECT_NE(text.find("\t" + std::to_string(lines[2].payload.size()) + "\t"), std::string::npos);
    EXPECT_NE(lines[2].payload.find(R"("custom_attributes":{"name":"é"})"), std::string::npos);
    struct stat status {};
    ASSERT_EQ(::stat(log.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0022, 0u);
}

TEST_F(TLYEventLogPipelineTest, ADirectoryAtTheLogPathGetsNothing)
{
    fs::create_directory(log);
    EXPECT_FALSE(write(eventAt(1), log));
    EXPECT_TRUE(fs::is_empty(log));
}

TEST_F(TLYEventLogPipelineTest, ACrashEventIsWrittenAgainstThePreviousRunsMetadataOrNotAtAll)
{
    const auto crash = std::make_shared<kits::TLYCrashEvent>(foundation::dateFromSecondsSinceEpoch(1704103200), 0);
    PropertyListDictionary previous{{"started_at", 5}, {"session_id", "old"}};
    ASSERT_TRUE(write(crash, log, std::make_shared<kits::TLYCrashMetadata>(previous)));
    const auto lines = *testsupport::readEventLog(readFile(log)).lines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].payload, R"({"started_at":5,"session_id":"old"})");
    EXPECT_EQ(lines[1].name, "app_crashed");
    EXPECT_EQ(lines[1].timestampMilliseconds, 1704103200000u);

    // A garbage file gave no metadata: no line can be formed, nothing is written.
    const fs::path other = folder.path() / "other.log";
    writeFile(folder.path() / "crash_metadata", "{garbage");
    auto unreadable = std::make_shared<kits::TLYCrashMetadata>(
        kits::TLYCrashMetadata::readSerializedDictionaryFromURL(folder.path() / "crash_metadata"));
    EXPECT_FALSE(write(crash, other, unreadable));
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(TLYEventLogPipelineTest, AFailedWriteLeavesNoPartialLine)
{
    ASSERT_TRUE(write(eventAt(1), log));
    const std::string before = readFile(log);
    const auto outcome = testsupport::runInChild([&] {
        bool appended = false, created = false;
        {
            testsupport::ScopedFileSizeLimit limit(before.size() + 10);
            appended = write(eventAt(2), log);
        }
        {
            // Room for part of the metadata line only.
            testsupport::ScopedFileSizeLimit limit(50);
            created = write(eventAt(3), folder.path() / "new.log");
        }
        return std::string(appended ? "appended" : "refused") + (created ? " created" : " refused");
    });
    EXPECT_EQ(outcome.report, "refused refused");
    EXPECT_EQ(readFile(log), before);
    EXPECT_FALSE(fs::exists(folder.path() / "new.log")) << "a log without its metadata line would remain";
}

// A write the kernel takes only in part is continued; one that then fails ends the loop with its line.
TEST_F(TLYEventLogPipelineTest, TheWriteLoopContinuesAPartialWriteAndSaysWhyItStopped)
{
    const auto outcome = testsupport::runInChild([&] {
        std::string lines;
        kits::setKitLogSink([&lines](std::string_view line) { lines += std::string(line) + "\n"; });
        kits::TLYLogger::sharedLogger().setDebugMode(true);
        const int descriptor = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        testsupport::ScopedFileSizeLimit limit(10);
        const bool whole = TLYWriteEventOperation::appendLogLine("0123456789abcdef", descriptor);
        ::close(descriptor);
        return std::string(whole ? "whole\n" : "refused\n") + lines;
    });
    EXPECT_EQ(outcome.report, "refused\n[Tally:WriteOperation] Error: length doesn't make sense (-1, 7)\n");
    EXPECT_EQ(readFile(log), "0123456789") << "the caller cuts it off; the loop only reports";
}

TEST_F(TLYEventLogPipelineTest, ALogIsCompressedAndPackagedIntoOnePart)
{
    for (int index = 0; index < 20; ++index)
        ASSERT_TRUE(write(eventAt(1704103200 + index), log));
    const std::string original = readFile(log);
    const fs::path gz = TLYCompressLogOperation::compressedURLForUncompressedURL(log);
    EXPECT_EQ(gz.filename(), "0F0E0D0C-0000-4000-8000-000000000001.gz");
    std::make_shared<TLYCompressLogOperation>(log, gz)->start();

    // zlib's own reader.
    gzFile file = gzopen(gz.c_str(), "r");
    ASSERT_NE(file, nullptr);
    std::string inflated(original.size() + 16, '\0');
    const int count = gzread(file, inflated.data(), static_cast<unsigned>(inflated.size()));
    gzclose(file);
    ASSERT_GE(count, 0);
    inflated.resize(static_cast<std::size_t>(count));
    EXPECT_EQ(inflated, original);
    // The gunzip program.
    const std::string command = "gunzip -c '" + gz.string() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string fromProgram;
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        fromProgram.append(buffer, read);
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(fromProgram, original);

    const std::string boundary = "3C2B1A00-0000-4000-8000-00000000000B";
    const fs::path package = TLYPackageLogOperation::multipartURLForCompressedURL(gz, boundary);
    EXPECT_EQ(package, folder.path() / (boundary + ".multipartmime"));
    std::make_shared<TLYPackageLogOperation>(gz, package, boundary)->start();
    const auto body = testsupport::readMultipartBody(readFile(package), package.stem().string());
    ASSERT_TRUE(body.parts) << body.error;
    ASSERT_EQ(body.parts->size(), 1u);
    const auto& part = body.parts->front();
    EXPECT_EQ(
        part.header("Content-Disposition"),
        R"(form-data; name="0F0E0D0C-0000-4000-8000-000000000001.gz"; filename="0F0E0D0C-0000-4000-8000-000000000001.gz")");
    EXPECT_EQ(part.header("Content-Type"), "application/vnd.blackbox.mac.events");
    EXPECT_EQ(part.body, readFile(gz));
    EXPECT_EQ(testsupport::gunzip(part.body).bytes, original);
    EXPECT_FALSE(fs::exists(TLYPackageLogOperation::partialURLForPackagedURL(package)));
}

TEST_F(TLYEventLogPipelineTest, AnExistingGzIsPackagedUnchanged)
{
    ASSERT_TRUE(write(eventAt(1), log));
    const fs::path gz = TLYCompressLogOperation::compressedURLForUncompressedURL(log);
    writeFile(gz, "earlier bytes");
    std::make_shared<TLYCompressLogOperation>(log, gz)->start();
    EXPECT_EQ(readFile(gz), "earlier bytes");

    // Missing inputs make nothing.
    std::make_shared<TLYCompressLogOperation>(folder.path() / "missing.log", folder.path() / "missing.gz")->start();
    EXPECT_FALSE(fs::exists(folder.path() / "missing.gz"));
    std::make_shared<TLYPackageLogOperation>(folder.path() / "missing.gz", folder.path() / "B.multipartmime", "B")
        ->start();
    EXPECT_FALSE(fs::exists(folder.path() / "B.multipartmime"));
}

TEST_F(TLYEventLogPipelineTest, UnderAFileSizeLimitNoPartialGzOrPackageRemains)
{
    // Random text does not compress: the gz outgrows the limit.
    std::string noise;
    std::uint64_t state = 88172645463325252ull;
    for (int index = 0; index < 200000; ++index) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        noise += static_cast<char>('!' + state % 90);
    }
    writeFile(log, noise);
    const fs::path gz = TLYCompressLogOperation::compressedURLForUncompressedURL(log);
    const fs::path package = folder.path() / "P.multipartmime";
    const fs::path smallGz = folder.path() / "small.gz";
    writeFile(smallGz, std::string(5000, 'x'));
    const auto outcome = testsupport::runInChild([&] {
        testsupport::ScopedFileSizeLimit limit(4096);
        std::make_shared<TLYCompressLogOperation>(log, gz)->start();
        std::make_shared<TLYPackageLogOperation>(smallGz, package, "P")->start();
        return std::string("done");
    });
    EXPECT_EQ(outcome.report, "done");
    EXPECT_FALSE(fs::exists(gz));
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(TLYPackageLogOperation::partialURLForPackagedURL(package)));
}

TEST_F(TLYEventLogPipelineTest, CleanUpKeepsTheNewestPackagesAndSortsTheRest)
{
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    for (int index = 0; index < 120; ++index) {
        const fs::path package = folder.path() / ("package" + std::to_string(index) + ".multipartmime");
        writeFile(package, "body");
        const auto when = std::chrono::system_clock::to_time_t(now - std::chrono::minutes(index));
        const utimbuf times{when, when};
        ASSERT_EQ(::utime(package.c_str(), &times), 0);
    }
    writeFile(folder.path() / "a.log", "a");
    writeFile(folder.path() / "a.gz", "a");
    writeFile(folder.path() / "b.gz", "b");
    writeFile(folder.path() / "stray.txt", "x");
    writeFile(folder.path() / "noextension", "x");
    writeFile(folder.path() / "Q.multipartmime.partial", "x");
    fs::create_directories(folder.path() / "leftover" / "inner");

    TLYCleanupFilesOperation::Files logs, gzs, packages;
    auto cleanup = std::make_shared<TLYCleanupFilesOperation>(folder.path(), 100);
    cleanup->setSuccessBlock([&](const auto& l, const auto& g, const auto& p) { logs = l, gzs = g, packages = p; });
    cleanup->start();

    EXPECT_EQ(logs, TLYCleanupFilesOperation::Files{folder.path() / "a.log"});
    EXPECT_EQ(gzs, TLYCleanupFilesOperation::Files{folder.path() / "b.gz"});
    ASSERT_EQ(packages.size(), 100u);
    for (int index = 0; index < 120; ++index) {
        const fs::path package = folder.path() / ("package" + std::to_string(index) + ".multipartmime");
        EXPECT_EQ(fs::exists(package), index < 100) << index;
        EXPECT_EQ(packages.count(package), index < 100 ? 1u : 0u) << index;
    }
    EXPECT_EQ(kits::TLYFileUtils::allFilesInDirectory(folder.path()).size(), 102u) << "100 packages, a.log, b.gz";
}

TEST(TLYFileUtils, AnswersForMissingFilesAndFiltersByExtension)
{
    testsupport::TempFolder folder;
    writeFile(folder.path() / "one.log", "12345");
    writeFile(folder.path() / "two.gz", "");
    const auto fallback = foundation::dateFromSecondsSinceEpoch(7);
    EXPECT_EQ(kits::TLYFileUtils::fileSizeAtURL(folder.path() / "one.log"), 5u);
    EXPECT_EQ(kits::TLYFileUtils::fileSizeAtURL(folder.path() / "none"), 0u);
    EXPECT_EQ(kits::TLYFileUtils::fileCreatedDateAtURL(folder.path() / "none", fallback), fallback);
    EXPECT_NE(kits::TLYFileUtils::fileCreatedDateAtURL(folder.path() / "one.log", fallback), fallback);
    EXPECT_EQ(kits::TLYFileUtils::filesWithExtension("log", folder.path()),
              std::set<fs::path>{folder.path() / "one.log"});
    EXPECT_TRUE(kits::TLYFileUtils::allFilesInDirectory(folder.path() / "none").empty());
}

TEST(TLYRotateCrashMetadataOperation, AFirstStartHasNoPreviousMetadataAndTheNextReadsThisOne)
{
    testsupport::TempFolder folder;
    const fs::path file = folder.path() / "crash_metadata";
    foundation::ScopedClock clock(
        std::make_shared<foundation::FixedClock>(foundation::dateFromSecondsSinceEpoch(1704103200.9)));
    auto first = std::make_shared<kits::TLYRotateCrashMetadataOperation>(file, metadata());
    first->start();
    ASSERT_NE(first->crashMetadata(), nullptr);
    EXPECT_EQ(first->crashMetadata()->rawMetadataDictionary(), PropertyListDictionary{});
    const auto written = kits::TLYCrashMetadata::readSerializedDictionaryFromURL(file);
    ASSERT_TRUE(written);
    EXPECT_EQ(written, first->currentMetadataDictionary());
    EXPECT_EQ(*written->get<std::int64_t>("started_at"), 1704103200);

    auto second = std::make_shared<kits::TLYRotateCrashMetadataOperation>(file, metadata());
    second->start();
    EXPECT_EQ(second->crashMetadata()->rawMetadataDictionary(), written);

    writeFile(file, "not json");
    auto third = std::make_shared<kits::TLYRotateCrashMetadataOperation>(file, metadata());
    third->start();
    EXPECT_EQ(third->crashMetadata()->rawMetadataDictionary(), std::nullopt);
    EXPECT_EQ(kits::TLYCrashMetadata::readSerializedDictionaryFromURL(file), third->currentMetadataDictionary());
}

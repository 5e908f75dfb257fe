// The record reader against damaged files: every truncation of a file holding every kind of value
// keeps each complete line before the cut, and seeded mutations give only the lines that parse as
// objects, never a crash.
#include "kits/crash/capture/bbx_file.h"

#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A record file written by the writer itself, with every kind of value and nesting.
std::string sampleRecordFile(const std::filesystem::path& path)
{
    BBXFile file;
    BBXFileInitWithPathMode(&file, path.c_str(), false, false);
    BBXFileWriteSectionStart(&file, "identity");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryString(&file, "path", "/usr/lib/x86_64-linux-gnu/libc.so.6");
    BBXFileWriteHashEntryUint64(&file, "address", UINT64_MAX);
    BBXFileWriteHashEntryInt64(&file, "offset", -42);
    BBXFileWriteHashEntryBoolean(&file, "crashed", true);
    BBXFileWriteHashEntryString(&file, "missing", nullptr);
    BBXFileWriteHashEntryString(&file, "odd", "q\"b\\\x01\xff\xe2\x82\xac");
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileWriteSectionStart(&file, "log");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryHexEncodedString(&file, "message", "user text \xc3\xa9");
    BBXFileWriteHashKey(&file, "frames");
    BBXFileWriteArrayStart(&file);
    for (std::uint64_t frame = 0; frame < 3; ++frame) {
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryUint64(&file, "pc", 0x401000 + frame);
        BBXFileWriteHashKey(&file, "registers");
        BBXFileWriteArrayStart(&file);
        BBXFileWriteArrayEntryUint64(&file, frame);
        BBXFileWriteArrayEntryString(&file, "rip");
        BBXFileWriteArrayEntryHexEncodedString(&file, "x");
        BBXFileWriteArrayEnd(&file);
        BBXFileWriteHashEnd(&file);
    }
    BBXFileWriteArrayEnd(&file);
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileWriteSectionStart(&file, "empty");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXFileClose(&file);
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

// The input as a file in memory (no disk in the loop), read back through its /proc path.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("record", MFD_CLOEXEC)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::optional<std::vector<nlohmann::json>> readBack(std::string_view bytes) const
    {
        if (::ftruncate(fd_, 0) != 0
            || ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            return std::nullopt;
        return BBXFileReadSections(path_.c_str(), false, nullptr);
    }

private:
    int fd_;
    std::string path_;
};

} // namespace

TEST(BBXRecordFuzz, EveryTruncationKeepsTheCompleteLinesBeforeTheCut)
{
    testsupport::TempFolder folder("bbx-record-fuzz");
    const auto path = folder.path() / "record.bbxrecord";
    const std::string sample = sampleRecordFile(path);
    const MemoryFile memory;
    const auto whole = memory.readBack(sample);
    ASSERT_TRUE(whole.has_value());
    ASSERT_EQ(whole->size(), 3u) << sample;
    EXPECT_EQ((*whole)[0]["identity"]["odd"], "q\"b\\\x01\xef\xbf\xbd\xe2\x82\xac");
    EXPECT_EQ((*whole)[0]["identity"]["address"].get<std::uint64_t>(), UINT64_MAX);

    for (std::size_t cut = 0; cut <= sample.size(); ++cut) {
        const auto sections = memory.readBack(std::string_view(sample).substr(0, cut));
        ASSERT_TRUE(sections.has_value());
        const auto completeLines = static_cast<std::size_t>(
            std::count(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(cut), '\n'));
        ASSERT_GE(sections->size(), completeLines) << "cut at " << cut;
        ASSERT_LE(sections->size(), completeLines + 1) << "cut at " << cut;
        for (std::size_t index = 0; index < completeLines; ++index)
            ASSERT_EQ((*sections)[index], (*whole)[index]) << "cut at " << cut;
    }
}

TEST(BBXRecordFuzz, MutationsGiveOnlyObjectsAndNeverCrash)
{
    testsupport::TempFolder folder("bbx-record-fuzz");
    const auto path = folder.path() / "record.bbxrecord";
    const std::string sample = sampleRecordFile(path);
    const MemoryFile memory;
    const auto failure = testsupport::runParserCheck(
        {sample}, testsupport::fuzzSeed(0x5eed28), testsupport::fuzzMutationCount(), [&](std::string_view input) {
            const auto sections = memory.readBack(input);
            if (!sections)
                return false;
            const auto lines = static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1;
            return sections->size() <= lines
                   && std::all_of(sections->begin(), sections->end(),
                                  [](const auto& section) { return section.is_object(); });
        });
    EXPECT_FALSE(failure.has_value()) << (failure ? failure->where : "");
}

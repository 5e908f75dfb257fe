// ELF identity: build IDs found in note segments and note sections of both classes and byte orders,
// the test binary's own build ID as readelf prints it, files refused before mapping, and the reader
// under every truncation and seeded mutations of small ELF images.
#include "system/elf_identity.h"

#include "support/mutator.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>

namespace {

// A small ELF image: header, one program header and two section headers (null and note), with a
// GNU build-ID note (and a note of another kind before it) placed where the options say.
class ElfImageMaker {
public:
    ElfImageMaker(bool wide, bool bigEndian) : wide_(wide), bigEndian_(bigEndian) {}

    std::string make(std::uint16_t machine, const std::vector<std::uint8_t>& buildId, bool noteSegment,
                     bool noteSection)
    {
        const std::size_t headerSize = wide_ ? 64 : 52;
        const std::size_t programSize = wide_ ? 56 : 32;
        const std::size_t sectionSize = wide_ ? 64 : 40;
        std::string notes;
        appendNote(notes, "XYZ", 1, {1, 2, 3});
        if (!buildId.empty())
            appendNote(notes, "GNU", 3, buildId);
        const std::size_t notesOffset = headerSize + programSize;
        const std::size_t sectionsOffset = notesOffset + notes.size();

        bytes_.assign(sectionsOffset + 2 * sectionSize, '\0');
        bytes_.replace(0, 4,
                       "\x7f"
                       "ELF");
        bytes_[4] = wide_ ? 2 : 1;
        bytes_[5] = bigEndian_ ? 2 : 1;
        bytes_[6] = 1;
        put(16, 2, 2); // executable
        put(18, 2, machine);
        put(wide_ ? 32 : 28, wide_ ? 8 : 4, headerSize);     // e_phoff
        put(wide_ ? 40 : 32, wide_ ? 8 : 4, sectionsOffset); // e_shoff
        put(wide_ ? 54 : 42, 2, programSize);
        put(wide_ ? 56 : 44, 2, 1);
        put(wide_ ? 58 : 46, 2, sectionSize);
        put(wide_ ? 60 : 48, 2, 2);

        const std::size_t program = headerSize;
        put(program, 4, noteSegment ? 4 : 1); // PT_NOTE or PT_LOAD
        put(program + (wide_ ? 8 : 4), wide_ ? 8 : 4, notesOffset);
        put(program + (wide_ ? 32 : 16), wide_ ? 8 : 4, notes.size());
        put(program + (wide_ ? 48 : 28), wide_ ? 8 : 4, 4);

        const std::size_t section = sectionsOffset + sectionSize;
        put(section + 4, 4, noteSection ? 7 : 1); // SHT_NOTE or SHT_PROGBITS
        put(section + (wide_ ? 24 : 16), wide_ ? 8 : 4, notesOffset);
        put(section + (wide_ ? 32 : 20), wide_ ? 8 : 4, notes.size());
        put(section + (wide_ ? 48 : 32), wide_ ? 8 : 4, 4);
        bytes_.replace(notesOffset, notes.size(), notes);
        return bytes_;
    }

private:
    void put(std::size_t offset, std::size_t width, std::uint64_t value)
    {
        for (std::size_t index = 0; index < width; ++index)
            bytes_[offset + (bigEndian_ ? width - 1 - index : index)] = static_cast<char>(value >> (8 * index));
    }

    void appendNote(std::string& notes, const std::string& name, std::uint32_t type,
                    const std::vector<std::uint8_t>& description)
    {
        auto word = [&](std::uint32_t value) {
            for (std::size_t index = 0; index < 4; ++index)
                notes += static_cast<char>(value >> (8 * (bigEndian_ ? 3 - index : index)));
        };
        word(static_cast<std::uint32_t>(name.size() + 1));
        word(static_cast<std::uint32_t>(description.size()));
        word(type);
        notes += name;
        notes.append(4 - name.size() % 4, '\0');
        notes.append(description.begin(), description.end());
        notes.append((4 - description.size() % 4) % 4, '\0');
    }

    bool wide_;
    bool bigEndian_;
    std::string bytes_;
};

std::vector<std::uint8_t> sampleBuildId()
{
    std::vector<std::uint8_t> id;
    for (int index = 0; index < 20; ++index)
        id.push_back(static_cast<std::uint8_t>(0xa0 + index));
    return id;
}

os::ElfIdentityResult parse(const std::string& bytes)
{
    return os::parseElfIdentity(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (auto byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

} // namespace

TEST(ElfIdentity, FindsTheBuildIdInSegmentsAndSectionsOfEveryLayout)
{
    for (bool wide : {true, false}) {
        for (bool bigEndian : {false, true}) {
            ElfImageMaker maker(wide, bigEndian);
            for (auto [segment, section] : {std::pair{true, false}, std::pair{false, true}}) {
                auto result = parse(maker.make(wide ? 62 : 3, sampleBuildId(), segment, section));
                ASSERT_TRUE(result) << result.error;
                EXPECT_EQ(result.identity->buildId, sampleBuildId()) << wide << bigEndian << segment;
                EXPECT_EQ(result.identity->architecture, wide ? "x86_64" : "i386");
            }
            auto without = parse(maker.make(183, {}, true, true));
            ASSERT_TRUE(without);
            EXPECT_TRUE(without.identity->buildId.empty());
            EXPECT_EQ(without.identity->architecture, "arm64");
        }
    }
}

TEST(ElfIdentity, RunningExecutableMatchesReadelf)
{
    // readelf reads the file itself: /proc/self/exe would be readelf's own.
    const std::string command =
        "readelf -n '" + std::filesystem::read_symlink(os::runningExecutablePath()).string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::string output;
    std::array<char, 4096> buffer{};
    for (std::size_t count; (count = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0;)
        output.append(buffer.data(), count);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(output, match, std::regex("Build ID: ([0-9a-f]+)"))) << output;

    auto result = os::readElfIdentity(os::runningExecutablePath());
    ASSERT_TRUE(result) << result.error;
    EXPECT_EQ(hex(result.identity->buildId), match[1].str());
    EXPECT_EQ(result.identity->architecture, "x86_64");
}

TEST(ElfIdentity, RefusesWhatIsNoELFFile)
{
    testsupport::TempFolder folder;
    const auto small = folder.path() / "small";
    std::ofstream(small, std::ios::binary) << std::string("\x7f"
                                                          "ELF"
                                                          "0123456789a",
                                                          15);
    EXPECT_NE(os::readElfIdentity(small).error.find("at least 16 bytes"), std::string::npos);
    EXPECT_FALSE(os::readElfIdentity(folder.path()));
    EXPECT_FALSE(os::readElfIdentity(folder.path() / "missing"));
    EXPECT_FALSE(parse(std::string(64, 'x')));
    std::string header = ElfImageMaker(true, false).make(62, sampleBuildId(), true, false);
    header[4] = 3; // no such class
    EXPECT_FALSE(parse(header));
}

TEST(ElfIdentity, ReaderAnswersEveryMutation)
{
    std::vector<std::string> samples;
    for (bool wide : {true, false})
        for (bool bigEndian : {false, true})
            samples.push_back(ElfImageMaker(wide, bigEndian).make(62, sampleBuildId(), !bigEndian, bigEndian));
    const auto seed = testsupport::fuzzSeed(24003);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(), [](std::string_view input) {
            auto result =
                os::parseElfIdentity(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
            return result.identity.has_value() == result.error.empty();
        });
    EXPECT_FALSE(failure) << failure->where;
}

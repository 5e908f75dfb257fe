// Record files byte for byte: the line grammar with its comma and depth rules, numbers, null, empty
// and hex texts, escaped raw texts read back unchanged, the 999-byte buffer, and the reader keeping
// exactly the lines that parse.
#include "kits/crash/capture/bbx_file.h"
#include "kits/crash/capture/bbx_sdk_log.h"

#include "sdk_log_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using crashtest::contentsOf;

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

class BBXFileTest : public crashtest::SDKLogFolderTest {
protected:
    BBXFileTest() : SDKLogFolderTest("bbx-file") {}
    std::filesystem::path recordPath() const { return folder.path() / "test.bbxrecord"; }

    // Opens an unbuffered record file, lets `write` fill it, closes it and returns its bytes.
    template <typename Writer>
    std::string written(Writer write)
    {
        BBXFile file;
        EXPECT_TRUE(BBXFileInitWithPathMode(&file, recordPath().c_str(), false, false));
        write(&file);
        EXPECT_TRUE(BBXFileClose(&file));
        EXPECT_EQ(file.fd, -1);
        return contentsOf(recordPath());
    }
};

} // namespace

TEST_F(BBXFileTest, LinesFollowTheCommaAndDepthRules)
{
    EXPECT_EQ(written([](BBXFile* file) {
                  BBXFileWriteSectionStart(file, "storage");
                  BBXFileWriteHashStart(file);
                  BBXFileWriteHashEntryUint64(file, "free", 1000);
                  BBXFileWriteHashEntryUint64(file, "total", 2000);
                  BBXFileWriteHashEnd(file);
                  BBXFileWriteSectionEnd(file);
              }),
              "{\"storage\":{\"free\":1000,\"total\":2000}}\n");

    EXPECT_EQ(written([](BBXFile* file) {
                  BBXFileWriteSectionStart(file, "s");
                  BBXFileWriteHashStart(file);
                  BBXFileWriteHashKey(file, "a");
                  BBXFileWriteHashStart(file);
                  BBXFileWriteHashEntryUint64(file, "b", 1);
                  BBXFileWriteHashEnd(file);
                  BBXFileWriteHashEntryUint64(file, "c", 2);
                  BBXFileWriteHashEnd(file);
                  BBXFileWriteSectionEnd(file);
                  // The next line starts cleanly.
                  BBXFileWriteSectionStart(file, "t");
                  BBXFileWriteArrayStart(file);
                  for (std::uint64_t x = 1; x <= 2; ++x) {
                      BBXFileWriteHashStart(file);
                      BBXFileWriteHashEntryUint64(file, "x", x);
                      BBXFileWriteHashEnd(file);
                  }
                  BBXFileWriteArrayEnd(file);
                  BBXFileWriteSectionEnd(file);
              }),
              "{\"s\":{\"a\":{\"b\":1},\"c\":2}}\n{\"t\":[{\"x\":1},{\"x\":2}]}\n");
}

TEST_F(BBXFileTest, NumbersTextsAndBooleans)
{
    const std::string empty;
    const std::string version = "1.2";
    EXPECT_EQ(written([&](BBXFile* file) {
                  BBXFileWriteSectionStart(file, "v");
                  BBXFileWriteHashStart(file);
                  BBXFileWriteHashEntryInt64(file, "n", -1);
                  BBXFileWriteHashEntryInt64(file, "min", INT64_MIN);
                  BBXFileWriteHashEntryUint64(file, "max", UINT64_MAX);
                  BBXFileWriteHashEntryUint64(file, "zero", 0);
                  BBXFileWriteHashEntryString(file, "missing", nullptr);
                  BBXFileWriteHashEntryString(file, "empty", "");
                  BBXFileWriteHashEntryHexEncodedString(file, "hex", "hi");
                  BBXFileWriteHashEntryHexEncodedString(file, "nohex", nullptr);
                  BBXFileWriteHashEntryBoolean(file, "yes", true);
                  BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(file, "skipped", &empty);
                  BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(file, "skipped", nullptr);
                  BBXFileWriteHashEntryNSString(file, "none", nullptr);
                  BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(file, "version", &version);
                  BBXFileWriteHashKey(file, "list");
                  BBXFileWriteArrayStart(file);
                  BBXFileWriteArrayEntryUint64(file, 7);
                  BBXFileWriteArrayEntryString(file, "x");
                  BBXFileWriteArrayEntryHexEncodedString(file, "\xff");
                  BBXFileWriteArrayEntryString(file, nullptr);
                  BBXFileWriteArrayEnd(file);
                  BBXFileWriteHashEnd(file);
                  BBXFileWriteSectionEnd(file);
              }),
              "{\"v\":{\"n\":-1,\"min\":-9223372036854775808,\"max\":18446744073709551615,\"zero\":0,"
              "\"missing\":null,\"empty\":\"\",\"hex\":\"6869\",\"nohex\":null,\"yes\":true,\"none\":null,"
              "\"version\":\"1.2\",\"list\":[7,\"x\",\"ff\",null]}}\n");
}

TEST_F(BBXFileTest, RawTextsThatWouldBreakTheirLineAreEscapedAndReadBackUnchanged)
{
    const std::string awkward = "a\"b\\c\n";
    const std::string content = written([&](BBXFile* file) {
        BBXFileWriteSectionStart(file, "path");
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEntryString(file, "p", awkward.c_str());
        BBXFileWriteHashEntryString(file, "broken", "x\xff\xc3y");
        BBXFileWriteHashEntryString(file, "clean", "/home/d\xc3\xa9j\xc3\xa0/\xf0\x9f\x98\x80");
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    });
    EXPECT_NE(content.find("\"p\":\"a\\\"b\\\\c\\u000a\""), std::string::npos) << content;
    const auto sections = BBXFileReadSections(recordPath().c_str(), false, nullptr);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 1u);
    const auto& path = (*sections)[0]["path"];
    EXPECT_EQ(path["p"], awkward);
    EXPECT_EQ(path["broken"], "x\xef\xbf\xbd\xef\xbf\xbdy");
    EXPECT_EQ(path["clean"], "/home/d\xc3\xa9j\xc3\xa0/\xf0\x9f\x98\x80") << "clean UTF-8 is written as it is";
    EXPECT_NE(content.find("/home/d\xc3\xa9j\xc3\xa0/"), std::string::npos);
}

TEST_F(BBXFileTest, BufferHoldsAtMost999Bytes)
{
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPath(&file, recordPath().c_str(), true));
    const std::string bytes(1000, 'x');
    ASSERT_TRUE(BBXFileWriteBuffered(&file, bytes.data(), 999));
    EXPECT_EQ(file.bufferedLength, 999u);
    EXPECT_EQ(std::filesystem::file_size(recordPath()), 0u);
    BBXFileFlushWriteBuffer(&file);
    EXPECT_EQ(std::filesystem::file_size(recordPath()), 999u);

    ASSERT_TRUE(BBXFileWriteBuffered(&file, bytes.data(), 1000));
    EXPECT_EQ(std::filesystem::file_size(recordPath()), 1998u);
    EXPECT_EQ(file.bufferedLength, 1u);
    std::uint64_t offset = 0;
    EXPECT_TRUE(BBXFileCloseWithOffset(&file, &offset));
    EXPECT_EQ(offset, 1999u);
    EXPECT_EQ(contentsOf(recordPath()), std::string(1999, 'x'));
    EXPECT_EQ(file.writeBuffer, nullptr);

    // Appending starts counting at the file's size.
    ASSERT_TRUE(BBXFileInitWithPath(&file, recordPath().c_str(), false));
    EXPECT_EQ(file.bytesWritten, 1999u);
    BBXFileClose(&file);
}

TEST_F(BBXFileTest, OpenFailuresAreLoggedAndLeaveTheRecordClosed)
{
    BBXFile file;
    EXPECT_FALSE(BBXFileInitWithPathMode(&file, (folder.path() / "missing" / "x").c_str(), false, true));
    EXPECT_FALSE(BBXFileIsOpen(&file));
    EXPECT_EQ(file.writeBuffer, nullptr);
    EXPECT_FALSE(BBXFileInitWithPathMode(nullptr, recordPath().c_str(), false, false));
    EXPECT_FALSE(BBXFileClose(nullptr));
    const std::string log = contentsOf(logPath());
    EXPECT_NE(log.find("WARN  [BBXFileInitWithPathMode:"), std::string::npos) << log;
    EXPECT_NE(log.find("] Error: Unable to open file No such file or directory\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Error: file descriptor invalid\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] Error: file is null\n"), std::string::npos) << log;
}

TEST_F(BBXFileTest, ReaderKeepsTheLinesThatParse)
{
    writeFile(recordPath(), "{\"a\":{\"n\":18446744073709551615}}\n"
                            "{\"b\":1}\n"
                            "{\"c\":[1,2\n"
                            "{\"d\":\"\xff\"}\n"
                            "{\"e\":\"x\"}\n"
                            "7\n"
                            "{\"f\":true}");
    const auto sections = BBXFileReadSections(recordPath().c_str(), false, nullptr);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 4u);
    EXPECT_EQ((*sections)[0]["a"]["n"].get<std::uint64_t>(), UINT64_MAX) << "unsigned 64-bit stays exact";
    EXPECT_TRUE((*sections)[1].contains("b"));
    EXPECT_TRUE((*sections)[2].contains("e"));
    EXPECT_TRUE((*sections)[3].contains("f")) << "a last line without newline counts when it parses";

    // A transform drops or replaces.
    const auto transformed = BBXFileReadSections(recordPath().c_str(), false, [](nlohmann::json section) {
        if (section.contains("b"))
            return std::optional<nlohmann::json>();
        section["seen"] = true;
        return std::optional<nlohmann::json>(section);
    });
    ASSERT_TRUE(transformed.has_value());
    ASSERT_EQ(transformed->size(), 3u);
    EXPECT_TRUE((*transformed)[1]["seen"].get<bool>());
}

TEST_F(BBXFileTest, MissingFileGivesNothingAndIsLogged)
{
    const auto missing = folder.path() / "missing.bbxrecord";
    EXPECT_FALSE(BBXFileReadSections(missing.c_str(), true, nullptr).has_value());
    EXPECT_NE(contentsOf(logPath()).find("WARN  [BBXFileReadSections:"), std::string::npos);
    EXPECT_NE(contentsOf(logPath()).find("] Unable to read file " + missing.string() + "\n"), std::string::npos);
    EXPECT_FALSE(BBXFileReadSections(reinterpret_cast<const char*>(16), false, nullptr).has_value());
    EXPECT_NE(contentsOf(logPath()).find("] Error: input path is invalid\n"), std::string::npos);
}

TEST(BBXHex, EncodeDecodeAndNibbles)
{
    const std::uint8_t bytes[] = {0x00, 0x7f, 0xab, 0xff};
    char out[9];
    BBXHexEncode(bytes, 4, out);
    EXPECT_STREQ(out, "007fabff");
    EXPECT_EQ(BBXHexDecode("6869"), "hi");
    EXPECT_EQ(BBXHexDecode("6A6b"), "jk");
    EXPECT_EQ(BBXHexDecode("686"), std::nullopt);
    EXPECT_EQ(BBXHexDecode("zz"), std::nullopt);
    EXPECT_EQ(BBXNibbleFromHexChar('F'), 15);
    EXPECT_EQ(BBXNibbleFromHexChar('g'), 255);
}

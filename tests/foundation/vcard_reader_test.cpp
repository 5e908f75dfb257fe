// The vCard reader: names of 2.1, 3.0 and 4.0 cards, unfolding, escapes, character sets, the FN rule,
// malformed cards, the size limits, folders with their progress, input in pieces of any size, and
// random or mutated input.
#include "foundation/vcard_reader.h"

#include "foundation/diagnostics.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <unicode/ustring.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

using foundation::parseVCards;
using foundation::VCardPerson;

VCardPerson person(std::optional<std::string> first, std::optional<std::string> last,
                   std::optional<std::string> organization = std::nullopt)
{
    return VCardPerson{std::move(first), std::move(last), std::move(organization)};
}

std::vector<VCardPerson> personsOf(std::string_view text)
{
    return parseVCards(text).persons;
}

bool isValidUtf8(const std::string& text)
{
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), int32_t(text.size()), &error);
    return error == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(error);
}

TEST(VCardReader, ReadsNamesOfEveryVersionWithSeveralCardsPerFile)
{
    const auto persons = personsOf("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\nFN:Jane Doe\r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\nVERSION:4.0\nN:Roe;;;;\nORG:ACME Inc;Sales\nEND:VCARD\n"
                                   "begin:vcard\rversion:2.1\rn:;Max\rend:vcard\r");
    EXPECT_EQ(persons, (std::vector{person("Jane", "Doe"), person(std::nullopt, "Roe", "ACME Inc"),
                                    person("Max", std::nullopt)}));
}

TEST(VCardReader, UnfoldsLinesAndResolvesEscapesAndGroups)
{
    const auto persons = personsOf("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mc\r\n Donald;Ro\r\n\tnald\r\n"
                                   "item1.ORG:Smith\\, Jones \\; Partners;Legal\r\nEND:VCARD\r\n");
    ASSERT_EQ(persons.size(), 1u);
    EXPECT_EQ(persons[0], person("Ronald", "McDonald", "Smith, Jones ; Partners"));

    // Escaped backslashes and newlines inside a component; UTF-8 passes through.
    EXPECT_EQ(personsOf("BEGIN:VCARD\nN:M\xC3\xBCller\\\\X;Zo\xC3\xAB\nORG:A\\nB\nEND:VCARD\n"),
              std::vector{person("Zo\xC3\xAB", "M\xC3\xBCller\\X", "A\nB")});
}

TEST(VCardReader, DecodesQuotedPrintableAndCharsetsWithSoftBreaks)
{
    const auto persons = personsOf("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                                   "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=\r\n=FCrgen\r\n"
                                   "ORG;QUOTED-PRINTABLE;CHARSET=UTF-8:Caf=C3=A9 =3D Bar\r\nEND:VCARD\r\n");
    ASSERT_EQ(persons.size(), 1u);
    EXPECT_EQ(persons[0], person("J\xC3\xBCrgen", "M\xC3\xBCller", "Caf\xC3\xA9 = Bar"));

    // Bytes that are not UTF-8 become U+FFFD instead of passing on as broken text.
    const auto broken = personsOf("BEGIN:VCARD\nN:A\xFF\xFE;B\xC3\nEND:VCARD\n");
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(broken[0].lastName, "A\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(broken[0].firstName, "B\xEF\xBF\xBD");
}

TEST(VCardReader, TrimsValuesAndTreatsEmptyOnesAsAbsent)
{
    EXPECT_EQ(personsOf("BEGIN:VCARD\nN:Doe;;;;\nEND:VCARD\n"), std::vector{person(std::nullopt, "Doe")});
    EXPECT_EQ(personsOf("BEGIN:VCARD\nN: Doe ;  ;;;\nORG:  \nEND:VCARD\n"), std::vector{person(std::nullopt, "Doe")});
    EXPECT_EQ(personsOf("BEGIN:VCARD\nVERSION:3.0\nEND:VCARD\n"), std::vector{person(std::nullopt, std::nullopt)});
}

TEST(VCardReader, FormattedNameIsTheFirstNameOnlyForAPersonWithoutN)
{
    // No N: FN stands for the person.
    EXPECT_EQ(personsOf("BEGIN:VCARD\nFN:Cher\nEND:VCARD\n"), std::vector{person("Cher", std::nullopt)});
    // A name in N wins over FN.
    EXPECT_EQ(personsOf("BEGIN:VCARD\nN:Doe;;;;\nFN:Dr. J. Doe\nEND:VCARD\n"),
              std::vector{person(std::nullopt, "Doe")});
    // An organisation's card: FN equal to ORG, or KIND:org.
    EXPECT_EQ(personsOf("BEGIN:VCARD\nN:;;;;\nFN:ACME Inc\nORG:ACME Inc\nEND:VCARD\n"),
              std::vector{person(std::nullopt, std::nullopt, "ACME Inc")});
    EXPECT_EQ(personsOf("BEGIN:VCARD\nVERSION:4.0\nKIND:org\nFN:Widgets\nORG:Widgets Ltd\nEND:VCARD\n"),
              std::vector{person(std::nullopt, std::nullopt, "Widgets Ltd")});
    // A person working for an organisation keeps FN as the first name.
    EXPECT_EQ(personsOf("BEGIN:VCARD\nFN:Jane\nORG:ACME Inc\nEND:VCARD\n"),
              std::vector{person("Jane", std::nullopt, "ACME Inc")});
}

TEST(VCardReader, SkipsMalformedCardsAndCountsThem)
{
    const auto contents = parseVCards("garbage before\n"
                                      "BEGIN:VCARD\nN:One;;;;\nthis line has no colon\nEND:VCARD\n"
                                      "BEGIN:VCARD\nN:Two;;;;\n" // never closed before the next
                                      "BEGIN:VCARD\nN:Three;;;;\nEND:VCARD\n"
                                      "BEGIN:VCARD\nN:Four;;;;\n"); // never closed at all
    EXPECT_EQ(contents.persons, std::vector{person(std::nullopt, "Three")});
    EXPECT_EQ(contents.skippedCards, 3u);
}

TEST(VCardReader, LeavesOutOverLongPropertiesAndRefusesLargeFiles)
{
    // A photo over the line limit is left out of its card; the card and those around it are read.
    const std::string longValue(foundation::vCardMaxLineBytes, 'x');
    const auto photo = parseVCards("BEGIN:VCARD\nN:Doe;Jane\nPHOTO;ENCODING=b:" + longValue
                                   + "\nEND:VCARD\nBEGIN:VCARD\nN:Roe\nEND:VCARD\n");
    EXPECT_EQ(photo.persons, (std::vector{person("Jane", "Doe"), person(std::nullopt, "Roe")}));
    EXPECT_EQ(photo.skippedProperties, 1u);
    EXPECT_EQ(photo.skippedCards, 0u);
    // Folding does not get around the limit; a line just under it is kept.
    std::string folded = "BEGIN:VCARD\nN:x\nPHOTO:";
    for (int i = 0; i < 20; ++i)
        folded += std::string(foundation::vCardMaxLineBytes / 16, 'y') + "\n ";
    const auto foldedPhoto = parseVCards(folded + "\nEND:VCARD\n");
    EXPECT_EQ(foldedPhoto.persons, std::vector{person(std::nullopt, "x")});
    EXPECT_EQ(foldedPhoto.skippedProperties, 1u);
    const auto underLimit =
        parseVCards("BEGIN:VCARD\nN:" + std::string(foundation::vCardMaxLineBytes - 2, 'z') + "\nEND:VCARD\n");
    ASSERT_EQ(underLimit.persons.size(), 1u);
    EXPECT_EQ(underLimit.skippedProperties, 0u);

    const testsupport::TempFolder temporary("horavine-vcard-large");
    const auto& directory = temporary.path();
    const auto large = directory / "large.vcf";
    std::ofstream(large, std::ios::binary) << "BEGIN:VCARD\nN:Doe;Jane;;;\nEND:VCARD\n";
    std::filesystem::resize_file(large, foundation::vCardMaxFileBytes + 1);
    const auto result = foundation::readVCardLocation(large);
    ASSERT_FALSE(result.hasValue());
    EXPECT_NE(result.status().message().find("larger than 32 MiB"), std::string::npos);

    // Inside a folder the large file is left out, named, with one line; the others still count.
    std::ofstream(directory / "small.vcf") << "BEGIN:VCARD\nN:Roe;;;;\nEND:VCARD\n";
    foundation::DiagnosticCapture capture;
    const auto folder = foundation::readVCardLocation(directory);
    ASSERT_TRUE(folder.hasValue());
    EXPECT_EQ(folder->persons, std::vector{person(std::nullopt, "Roe")});
    ASSERT_EQ(folder->unreadableFiles.size(), 1u);
    EXPECT_NE(folder->unreadableFiles[0].find("large.vcf: the file is larger than 32 MiB"), std::string::npos);
    EXPECT_EQ(capture.lines().size(), 1u);
}

// The stream reader keeps what a line needs across pieces: a line end split between CR and LF, a
// fold, a soft break, a byte order mark; every split of these inputs reads as the whole does.
TEST(VCardReader, ReadsTheSameInPiecesOfAnySize)
{
    const std::vector<std::string> inputs{
        "\xEF\xBB\xBF"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=\r\n=FCrgen\r\n"
        "ORG:Mc\r\n Donald\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\rN:A;B\r\rEND:VCARD\rBEGIN:VCARD\nN:Open\n\n\nBEGIN:VCARD\nFN:Last\nEND:VCARD",
        "\xEF\xBB\n\r\n\rBEGIN:VCARD\nN;QUOTED-PRINTABLE:A=\n=42\nEND:VCARD\n"};
    const auto sameAs = [](const foundation::VCardContents& whole, const foundation::VCardContents& pieces) {
        return whole.persons == pieces.persons && whole.skippedCards == pieces.skippedCards
               && whole.skippedProperties == pieces.skippedProperties;
    };
    for (const std::string& input : inputs) {
        const foundation::VCardContents whole = parseVCards(input);
        ASSERT_FALSE(whole.persons.empty()) << input;
        for (std::size_t split = 0; split <= input.size(); ++split) {
            foundation::VCardStreamParser parser;
            parser.feed(std::string_view(input).substr(0, split));
            parser.feed(std::string_view(input).substr(split));
            ASSERT_TRUE(sameAs(whole, parser.finish())) << input << " split at " << split;
        }
        foundation::VCardStreamParser byteByByte;
        for (char c : input)
            byteByByte.feed(std::string_view(&c, 1));
        ASSERT_TRUE(sameAs(whole, byteByByte.finish())) << input;
    }
}

TEST(VCardReader, ReadsAFolderOfCardFilesInNameOrder)
{
    const testsupport::TempFolder temporary("horavine-vcard-folder");
    const auto& directory = temporary.path();
    std::filesystem::create_directories(directory / "sub.vcf");
    std::ofstream(directory / "b.vcf") << "BEGIN:VCARD\nN:Bee;;;;\nEND:VCARD\n";
    std::ofstream(directory / "a.VCF") << "BEGIN:VCARD\nN:Ay;;;;\nEND:VCARD\n";
    std::ofstream(directory / "notes.txt") << "BEGIN:VCARD\nN:Text;;;;\nEND:VCARD\n";
    std::ofstream(directory / "c.vcf") << "BEGIN:VCARD\nN:Sea\nno colon\nEND:VCARD\nBEGIN:VCARD\nEND:VCARD\n";

    foundation::DiagnosticCapture capture;
    std::uint64_t lastRead = 0;
    std::uint64_t lastTotal = 0;
    const auto contents = foundation::readVCardLocation(directory, [&](std::uint64_t read, std::uint64_t total) {
        EXPECT_GT(read, lastRead);
        lastRead = read;
        lastTotal = total;
        return true;
    });
    ASSERT_TRUE(contents.hasValue()) << contents.status().message();
    EXPECT_EQ(contents->persons, (std::vector{person(std::nullopt, "Ay"), person(std::nullopt, "Bee"),
                                              person(std::nullopt, std::nullopt)}));
    EXPECT_EQ(contents->skippedCards, 1u);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_NE(capture.lines()[0].find("c.vcf: skipped 1 malformed vCard"), std::string::npos);
    const auto sizeOf = [&directory](const char* name) { return std::filesystem::file_size(directory / name); };
    EXPECT_EQ(lastRead, sizeOf("a.VCF") + sizeOf("b.vcf") + sizeOf("c.vcf"));
    EXPECT_EQ(lastTotal, lastRead);

    // A progress that answers false stops the read.
    int calls = 0;
    const auto stopped = foundation::readVCardLocation(directory, [&calls](std::uint64_t, std::uint64_t) {
        ++calls;
        return false;
    });
    ASSERT_FALSE(stopped.hasValue());
    EXPECT_EQ(stopped.status().code(), foundation::StatusCode::cancelled);
    EXPECT_EQ(calls, 1);

    const auto missing = foundation::readVCardLocation(directory / "missing.vcf");
    EXPECT_FALSE(missing.hasValue());
}

// Random bytes and mutations of valid cards: the reader never faults, and whatever it returns is
// valid, trimmed, non-empty UTF-8.
TEST(VCardReader, SurvivesRandomAndMutatedInput)
{
    const std::string seed = "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:M=FC;J=\r\nx\r\n"
                             "item1.ORG:A\\,B;C\r\nFN:\"q:\"\r\n folded\r\nKIND:org\r\nEND:VCARD\r\n"
                             "BEGIN:VCARD\nN;CHARSET=SHIFT_JIS:\x82\xa0;\\\nEND:VCARD\n";
    std::mt19937 random(18);
    const std::string alphabet = "BEGIN:VCARDEND;=\\\r\n \t,.\"QUOTED-PRINTABLECHARSET=\xC3\xFF\x80";
    for (int round = 0; round < 10000; ++round) {
        std::string input;
        if (round % 2 == 0) {
            input = seed;
            const int mutations = 1 + int(random() % 8);
            for (int m = 0; m < mutations && !input.empty(); ++m) {
                const std::size_t at = random() % input.size();
                switch (random() % 4) {
                case 0: input[at] = alphabet[random() % alphabet.size()]; break;
                case 1: input.erase(at, 1 + random() % 5); break;
                case 2: input.insert(at, 1, char(random() % 256)); break;
                default: input.insert(at, input.substr(random() % input.size(), random() % 20)); break;
                }
            }
        } else {
            input.resize(random() % 300);
            for (char& c : input)
                c = random() % 3 == 0 ? char(random() % 256) : alphabet[random() % alphabet.size()];
        }
        const auto contents = parseVCards(input);
        for (const VCardPerson& found : contents.persons) {
            for (const auto& value : {found.firstName, found.lastName, found.organization}) {
                if (!value)
                    continue;
                ASSERT_FALSE(value->empty());
                ASSERT_TRUE(isValidUtf8(*value)) << *value;
                ASSERT_NE(value->front(), ' ');
                ASSERT_NE(value->back(), ' ');
            }
        }
    }
}

} // namespace

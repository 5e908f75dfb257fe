// The vCard reader: names of 2.1, 3.0 and 4.0 cards, unfolding, escapes, character sets, the FN rule,
// malformed cards, the size limits, folders, and random or mutated input.
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
    auto contents = parseVCards(text);
    EXPECT_TRUE(contents.hasValue()) << contents.status().message();
    return contents.hasValue() ? contents->persons : std::vector<VCardPerson>{};
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
    ASSERT_TRUE(contents.hasValue());
    EXPECT_EQ(contents->persons, std::vector{person(std::nullopt, "Three")});
    EXPECT_EQ(contents->skippedCards, 3u);
}

TEST(VCardReader, RefusesOverLongLinesAndFiles)
{
    const std::string longValue(foundation::vCardMaxLineBytes, 'x');
    const auto longLine = parseVCards("BEGIN:VCARD\nN:" + longValue + "\nEND:VCARD\n");
    ASSERT_FALSE(longLine.hasValue());
    EXPECT_NE(longLine.status().message().find("line 2"), std::string::npos);
    // Folding does not get around the limit.
    std::string folded = "BEGIN:VCARD\nN:x\n";
    for (int i = 0; i < 20; ++i)
        folded += " " + std::string(foundation::vCardMaxLineBytes / 16, 'y') + "\n";
    EXPECT_FALSE(parseVCards(folded + "END:VCARD\n").hasValue());

    const testsupport::TempFolder temporary("horavine-vcard-large");
    const auto& directory = temporary.path();
    const auto large = directory / "large.vcf";
    {
        std::ofstream out(large, std::ios::binary);
        const std::string card = "BEGIN:VCARD\nN:Doe;Jane;;;\nEND:VCARD\n";
        for (std::size_t written = 0; written <= foundation::vCardMaxFileBytes; written += card.size())
            out << card;
    }
    const auto result = foundation::readVCardLocation(large);
    ASSERT_FALSE(result.hasValue());
    EXPECT_NE(result.status().message().find("larger than 32 MiB"), std::string::npos);

    // Inside a folder the large file is left out with one line, the others still count.
    std::ofstream(directory / "small.vcf") << "BEGIN:VCARD\nN:Roe;;;;\nEND:VCARD\n";
    foundation::DiagnosticCapture capture;
    const auto folder = foundation::readVCardLocation(directory);
    ASSERT_TRUE(folder.hasValue());
    EXPECT_EQ(*folder, std::vector{person(std::nullopt, "Roe")});
    EXPECT_EQ(capture.lines().size(), 1u);
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
    const auto persons = foundation::readVCardLocation(directory);
    ASSERT_TRUE(persons.hasValue()) << persons.status().message();
    EXPECT_EQ(*persons, (std::vector{person(std::nullopt, "Ay"), person(std::nullopt, "Bee"),
                                     person(std::nullopt, std::nullopt)}));
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_NE(capture.lines()[0].find("c.vcf: skipped 1 malformed vCard"), std::string::npos);

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
        ASSERT_TRUE(contents.hasValue());
        for (const VCardPerson& found : contents->persons) {
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

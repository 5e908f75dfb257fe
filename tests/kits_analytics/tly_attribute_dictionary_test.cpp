// The attribute validator: the entry limit (checked first, also against replacements), truncation by
// UTF-16 units without splitting a pair, values that are neither string nor number, not-a-number
// values clearing a key, Booleans and prices, each with its console line; and seeded random input.
#include "kits/analytics/tly_attribute_dictionary.h"

#include "foundation/property_list_json.h"
#include "kits/platform/kit_log.h"
#include "mutator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

using foundation::Decimal;
using foundation::PropertyListDictionary;
using foundation::PropertyListValue;
using kits::TLYAttributeDictionary;
using kits::TLYAttributeValue;

namespace {

class TLYAttributeDictionaryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kits::setKitLogSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    void TearDown() override { kits::setKitLogSink({}); }

    std::size_t linesStartingWith(std::string_view prefix) const
    {
        std::size_t count = 0;
        for (const auto& line : lines)
            count += line.starts_with(prefix);
        return count;
    }

    std::vector<std::string> lines;
};

const char* const countLine = "[Tally] Maximum number of Event attributes exceeded. Ignoring entry ";
const char* const lengthLine = "[Tally] Maximum length for an Event attributes exceeded. Truncating to 100 characters.";
const char* const typeLine = "[Tally] Event attribute values must be of type NSString or NSNumber. Ignoring entry ";

// The number of UTF-16 units of valid UTF-8 text.
std::size_t utf16Units(std::string_view text)
{
    std::size_t units = 0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) != 0x80)
            ++units;
        if (byte >= 0xF0)
            ++units; // a four-byte sequence is a surrogate pair
    }
    return units;
}

} // namespace

TEST_F(TLYAttributeDictionaryTest, TwentyFiveEntriesKeepTwentyOneAndNameTheFourLeftOut)
{
    PropertyListDictionary given;
    for (int index = 0; index < 25; ++index)
        given.set("key" + std::to_string(index), "value" + std::to_string(index));
    const TLYAttributeDictionary attributes(given);
    EXPECT_EQ(attributes.size(), 21u);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::string(countLine) + "key21:value21");
    EXPECT_EQ(lines[3], std::string(countLine) + "key24:value24");
}

TEST_F(TLYAttributeDictionaryTest, AFullDictionaryRefusesEvenAReplacement)
{
    TLYAttributeDictionary attributes;
    for (int index = 0; index < 21; ++index)
        attributes.addAttribute(PropertyListValue("v" + std::to_string(index)), "key" + std::to_string(index));
    attributes.addAttribute(PropertyListValue("new"), std::string("key0"));
    EXPECT_EQ(*attributes.find("key0"), TLYAttributeValue(std::string("v0")));
    EXPECT_EQ(lines, std::vector<std::string>{std::string(countLine) + "key0:new"});
}

TEST_F(TLYAttributeDictionaryTest, LongValuesAndKeysAreCutToOneHundredUnits)
{
    TLYAttributeDictionary attributes;
    attributes.addAttribute(PropertyListValue(std::string(150, 'v')), std::string("value"));
    ASSERT_EQ(lines, std::vector<std::string>{lengthLine});
    EXPECT_EQ(*attributes.find("value"), TLYAttributeValue(std::string(100, 'v')));

    lines.clear();
    attributes.addAttribute(PropertyListValue("short"), std::string(120, 'k'));
    ASSERT_EQ(lines, std::vector<std::string>{lengthLine});
    EXPECT_EQ(*attributes.find(std::string(100, 'k')), TLYAttributeValue(std::string("short")));

    // Exactly 100 units stays whole and silent; "é" is one unit in two bytes.
    lines.clear();
    std::string accented;
    for (int index = 0; index < 100; ++index)
        accented += "é";
    attributes.addAttribute(PropertyListValue(accented), std::string("accented"));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(*attributes.find("accented"), TLYAttributeValue(accented));
}

TEST_F(TLYAttributeDictionaryTest, ACutNeverSplitsASurrogatePair)
{
    TLYAttributeDictionary attributes;
    attributes.addAttribute(PropertyListValue(std::string(99, 'a') + "\xF0\x9F\x98\x80"), std::string("emoji"));
    EXPECT_EQ(lines, std::vector<std::string>{lengthLine});
    EXPECT_EQ(*attributes.find("emoji"), TLYAttributeValue(std::string(99, 'a')));
    // 98 + pair = 100 units: kept whole.
    const std::string fits = std::string(98, 'a') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(TLYAttributeDictionary::truncateString(fits), fits);
}

TEST_F(TLYAttributeDictionaryTest, InvalidUTF8BecomesTheReplacementCharacter)
{
    EXPECT_EQ(TLYAttributeDictionary::truncateString("a\xFF"
                                                     "b\xC3"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(TLYAttributeDictionary::truncateString("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(TLYAttributeDictionaryTest, ValuesOtherThanStringsAndNumbersAreLeftOut)
{
    TLYAttributeDictionary attributes;
    attributes.addAttribute(PropertyListValue(foundation::PropertyListDate{}), std::string("date"));
    attributes.addAttribute(PropertyListValue(foundation::PropertyListArray{1, 2}), std::string("array"));
    attributes.addAttribute(PropertyListValue(), std::string("null"));
    attributes.addAttribute(std::nullopt, std::string("absent"));
    attributes.addAttribute(PropertyListValue("kept"), std::nullopt);
    EXPECT_EQ(attributes.size(), 0u);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with(std::string(typeLine) + "date:")) << lines[0];
    EXPECT_EQ(lines[1], std::string(typeLine) + "array:[1,2]");
}

TEST_F(TLYAttributeDictionaryTest, NotANumberRemovesTheKeyAndClearsAnEarlierValue)
{
    TLYAttributeDictionary attributes;
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        attributes.addAttribute(PropertyListValue(1.5), std::string("ratio"));
        ASSERT_EQ(attributes.size(), 1u);
        attributes.addAttribute(PropertyListValue(bad), std::string("ratio"));
        EXPECT_EQ(attributes.find("ratio"), nullptr) << bad;
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(foundation::jsonFromPropertyList(attributes.dictionaryRepresentation()), "{}");
}

TEST_F(TLYAttributeDictionaryTest, NumbersAndBooleansKeepTheirKinds)
{
    TLYAttributeDictionary attributes;
    attributes.addAttribute(PropertyListValue(false), std::string("plain"));
    attributes.addBooleanAttribute(true, "yes");
    attributes.addBooleanAttribute(false, "no");
    attributes.addBooleanAttribute(std::nullopt, "absent");
    attributes.addAttribute(PropertyListValue(7), std::string("count"));
    EXPECT_EQ(foundation::jsonFromPropertyList(attributes.dictionaryRepresentation()),
              R"({"plain":false,"yes":"true","no":"false","count":7})");
}

TEST_F(TLYAttributeDictionaryTest, PricesAreExactMicrosUpToTheLimit)
{
    TLYAttributeDictionary attributes;
    attributes.addPriceAttribute(Decimal::parse("9.99"), "price");
    EXPECT_EQ(*attributes.find("price"), TLYAttributeValue(Decimal(9990000)));
    attributes.addPriceAttribute(Decimal::parse("0.0000015"), "tiny");
    EXPECT_EQ(*attributes.find("tiny"), TLYAttributeValue(*Decimal::parse("1.5")));
    EXPECT_EQ(foundation::jsonFromPropertyList(attributes.dictionaryRepresentation()),
              R"({"price":9990000,"tiny":1.5})");

    const auto limit = Decimal::parse("99999999999999999999999999999999.999999");
    attributes.addPriceAttribute(limit, "largest");
    EXPECT_EQ(*attributes.find("largest"),
              TLYAttributeValue(*Decimal::parse("99999999999999999999999999999999999999")));
    EXPECT_TRUE(lines.empty());

    attributes.addPriceAttribute(Decimal::parse("100000000000000000000000000000000"), "huge");
    EXPECT_EQ(attributes.find("huge"), nullptr);
    EXPECT_EQ(lines, std::vector<std::string>{"[Tally] Maximum value for a price attribute exceeded. Ignoring price "
                                              "attribute with value: 100000000000000000000000000000000"});
    attributes.addPriceAttribute(std::nullopt, "none");
    EXPECT_EQ(lines.size(), 1u);
}

// Random keys and values of every kind, many per dictionary: never more than 21 entries, never a text
// over 100 units, and the payload is valid UTF-8 JSON that reads back.
TEST_F(TLYAttributeDictionaryTest, RandomInputKeepsTheLimitsAndSerialises)
{
    kits::setKitLogSink([](std::string_view) {});
    std::mt19937_64 random(testsupport::fuzzSeed(33));
    const auto pick = [&random](std::uint64_t bound) { return random() % bound; };
    const auto randomText = [&] {
        std::string text;
        const auto length = pick(160);
        for (std::uint64_t index = 0; index < length; ++index) {
            switch (pick(4)) {
            case 0: text += static_cast<char>(pick(256)); break;
            case 1: text += "\xF0\x9F\x98\x80"; break;
            case 2: text += "é"; break;
            default: text += static_cast<char>('a' + pick(26));
            }
        }
        return text;
    };
    const auto randomValue = [&]() -> PropertyListValue {
        switch (pick(7)) {
        case 0: return randomText();
        case 1: return static_cast<std::int64_t>(random());
        case 2: return std::bit_cast<double>(random());
        case 3: return pick(2) == 1;
        case 4: return foundation::PropertyListArray{randomText()};
        case 5: return PropertyListValue();
        default: return foundation::PropertyListDate{};
        }
    };
    const std::size_t rounds = testsupport::fuzzMutationCount() / 10;
    for (std::size_t round = 0; round < rounds; ++round) {
        TLYAttributeDictionary attributes;
        const auto count = pick(30);
        for (std::uint64_t index = 0; index < count; ++index) {
            if (pick(8) == 0)
                attributes.addPriceAttribute(Decimal::fromDouble(std::bit_cast<double>(random())), randomText());
            else
                attributes.addAttribute(randomValue(), randomText());
        }
        ASSERT_LE(attributes.size(), 21u);
        for (const auto& entry : attributes.rawDictionary()) {
            ASSERT_LE(utf16Units(entry.key), 100u);
            if (const auto* text = std::get_if<std::string>(&entry.value)) {
                ASSERT_LE(utf16Units(*text), 100u);
            }
        }
        const std::string json = foundation::jsonFromPropertyList(attributes.dictionaryRepresentation());
        // The reader refuses invalid UTF-8, and the writer would have replaced any: reading back the
        // same values shows every text went out as stored.
        const auto parsed = foundation::propertyListFromJSON(json);
        ASSERT_TRUE(parsed) << parsed.error << " in round " << round;
        ASSERT_EQ(*parsed.value, PropertyListValue(attributes.dictionaryRepresentation())) << json;
    }
}

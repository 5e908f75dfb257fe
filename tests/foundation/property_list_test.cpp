// Property-list values and their two text forms: key order, JSON kinds kept apart, XML and binary
// files read back whole, malformed input refused, and the readers under seeded mutations.
#include "foundation/property_list.h"
#include "foundation/property_list_file.h"
#include "foundation/property_list_json.h"

#include "support/mutator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace foundation;

namespace {

PropertyListDate dateAt(std::int64_t microsSinceEpoch)
{
    return PropertyListDate(std::chrono::microseconds(microsSinceEpoch));
}

PropertyListValue sampleFileValue()
{
    return PropertyListDictionary{
        {"negative", -42},
        {"large", std::int64_t(1) << 40},
        {"real", 2.5},
        {"yes", true},
        {"no", false},
        {"text", "caf\xc3\xa9 <&>"},
        {"date", dateAt(1'700'000'000'000'000)},
        {"data", PropertyListData{0x00, 0xab, 0xff, 0x10}},
        {"list", PropertyListArray{1, "two", PropertyListDictionary{{"three", 3}}}},
        {"empty", PropertyListDictionary{}},
    };
}

} // namespace

TEST(PropertyListDictionary, KeepsInsertionOrderAndReplacesInPlace)
{
    PropertyListDictionary dictionary{{"b", 1}, {"a", 2}};
    dictionary.set("c", 3);
    dictionary.set("b", "replaced");
    std::string keys;
    for (const auto& entry : dictionary.entries())
        keys += entry.key;
    EXPECT_EQ(keys, "bac");
    EXPECT_EQ(*dictionary.get<std::string>("b"), "replaced");
    EXPECT_EQ(dictionary.get<std::int64_t>("b"), nullptr);
    EXPECT_TRUE(dictionary.erase("a"));
    EXPECT_FALSE(dictionary.erase("a"));
    EXPECT_EQ(dictionary.size(), 2u);
    // Equality ignores order.
    EXPECT_EQ((PropertyListDictionary{{"x", 1}, {"y", 2}}), (PropertyListDictionary{{"y", 2}, {"x", 1}}));
    EXPECT_NE((PropertyListDictionary{{"x", 1}}), (PropertyListDictionary{{"x", true}}));
}

TEST(PropertyListValue, ConvertsFromTheDefaultsValueKindByKind)
{
    const DefaultsDictionary defaults{{"flag", true},
                                      {"count", 7},
                                      {"ratio", 0.5},
                                      {"name", "n"},
                                      {"nested", DefaultsArray{DefaultsDictionary{{"k", false}}}}};
    const PropertyListDictionary converted = propertyListFromDefaults(defaults);
    EXPECT_EQ(converted, (PropertyListDictionary{{"flag", true},
                                                 {"count", 7},
                                                 {"ratio", 0.5},
                                                 {"name", "n"},
                                                 {"nested", PropertyListArray{PropertyListDictionary{{"k", false}}}}}));
    EXPECT_TRUE(converted.find("flag")->holds<bool>());
    EXPECT_TRUE(converted.find("count")->holds<std::int64_t>());
}

TEST(PropertyListJSON, RoundTripsKindsAndNull)
{
    const std::string text = R"({"a":true,"b":1,"c":1.5,"d":null,"e":"é"})";
    auto parsed = propertyListFromJSON(text);
    ASSERT_TRUE(parsed) << parsed.error;
    const auto* dictionary = parsed.value->get<PropertyListDictionary>();
    ASSERT_NE(dictionary, nullptr);
    EXPECT_TRUE(dictionary->find("a")->holds<bool>());
    EXPECT_TRUE(dictionary->find("b")->holds<std::int64_t>());
    EXPECT_TRUE(dictionary->find("c")->holds<double>());
    EXPECT_TRUE(dictionary->find("d")->isNull());
    EXPECT_EQ(*dictionary->get<std::string>("e"), "é");
    EXPECT_EQ(jsonFromPropertyList(*parsed.value), text);
}

TEST(PropertyListJSON, KeepsKeyOrderAndLargeNumbers)
{
    auto parsed = propertyListFromJSON(R"({"z":[1,-2,18446744073709551615],"a":{}})");
    ASSERT_TRUE(parsed) << parsed.error;
    const auto& list = *parsed.value->get<PropertyListDictionary>()->get<PropertyListArray>("z");
    EXPECT_EQ(list[1], PropertyListValue(-2));
    EXPECT_TRUE(list[2].holds<double>()); // beyond 64 signed bits
    EXPECT_EQ(jsonFromPropertyList(*parsed.value), R"({"z":[1,-2,1.8446744073709552e+19],"a":{}})");
}

TEST(PropertyListJSON, WritesWhatJSONLacksWithoutThrowing)
{
    const PropertyListArray values{std::numeric_limits<double>::infinity(),
                                   std::nan(""),
                                   std::string("bad \xff byte"),
                                   PropertyListData{'M', 'a', 'n', 'y'},
                                   dateAt(1'700'000'000'000'000),
                                   dateAt(1'700'000'000'250'000)};
    EXPECT_EQ(jsonFromPropertyList(values),
              "[null,null,\"bad \xef\xbf\xbd byte\",\"TWFueQ==\",\"2023-11-14T22:13:20Z\","
              "\"2023-11-14T22:13:20.250000Z\"]");
}

TEST(PropertyListJSON, MalformedTextIsAnError)
{
    for (const std::string_view text :
         {"", "{", "{\"a\":}", "[1,]", "nul", "{\"a\":1}x", "\"\xff\"", "1e999", "{1:2}"}) {
        auto parsed = propertyListFromJSON(text);
        EXPECT_FALSE(parsed) << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
    auto deep = propertyListFromJSON(std::string(100'000, '['));
    EXPECT_FALSE(deep);
    EXPECT_NE(deep.error.find("nested deeper"), std::string::npos) << deep.error;
    EXPECT_TRUE(propertyListFromJSON(std::string(500, '[') + std::string(500, ']')));
}

TEST(PropertyListFile, XMLRoundTripsNegativeIntegersDatesAndData)
{
    const PropertyListValue original = sampleFileValue();
    auto xml = xmlPropertyList(original);
    ASSERT_TRUE(xml) << xml.error;
    EXPECT_NE(xml.value->find("<integer>-42</integer>"), std::string::npos) << *xml.value;
    EXPECT_NE(xml.value->find("<date>2023-11-14T22:13:20Z</date>"), std::string::npos) << *xml.value;
    auto read = propertyListFromBytes(*xml.value);
    ASSERT_TRUE(read) << read.error;
    EXPECT_EQ(*read.value, original);
    // The file keeps the keys in the order they were set.
    EXPECT_EQ(read.value->get<PropertyListDictionary>()->entries().front().key, "negative");
}

TEST(PropertyListFile, ReadsBinaryPropertyLists)
{
    const PropertyListValue original = sampleFileValue();
    auto binary = binaryPropertyList(original);
    ASSERT_TRUE(binary) << binary.error;
    EXPECT_EQ(binary.value->substr(0, 8), "bplist00");
    auto read = propertyListFromBytes(*binary.value);
    ASSERT_TRUE(read) << read.error;
    EXPECT_EQ(*read.value, original);
}

TEST(PropertyListFile, RefusesWhatAFileCannotHold)
{
    EXPECT_FALSE(xmlPropertyList(PropertyListDictionary{{"a", PropertyListNull{}}}));
    EXPECT_FALSE(xmlPropertyList(PropertyListArray{dateAt(std::int64_t(4'000'000'000) * 1'000'000)}));
    EXPECT_FALSE(xmlPropertyList(std::string("nul\0inside", 10)));
}

TEST(PropertyListFile, MalformedBytesAreAnError)
{
    const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    for (const std::string& bytes :
         {std::string(), std::string("garbage"), header + "<dict><key>a</key>", header + "<integer>x</integer></plist>",
          std::string("bplist00"), std::string("bplist00") + std::string(40, '\xff')}) {
        auto read = propertyListFromBytes(bytes);
        EXPECT_FALSE(read) << bytes;
        EXPECT_FALSE(read.error.empty());
    }
}

namespace {

// An input passes when it gives exactly one of a value and a reason.
template <typename Result>
bool oneOutcome(const Result& result)
{
    return result.value.has_value() == result.error.empty();
}

} // namespace

TEST(PropertyListFuzz, JSONReaderAnswersEveryMutation)
{
    const std::vector<std::string> samples{R"({"a":true,"b":1,"c":1.5,"d":null,"e":"é","f":[1,[2,{"g":"h"}]]})",
                                           R"([-0.0e+5,"\u00e9\ud83d\ude00",{},[],"esc\"aped\\"])",
                                           jsonFromPropertyList(sampleFileValue())};
    const auto seed = testsupport::fuzzSeed(24001);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(), [](std::string_view input) {
            auto parsed = propertyListFromJSON(input);
            return oneOutcome(parsed) && (!parsed || !jsonFromPropertyList(*parsed.value).empty());
        });
    EXPECT_FALSE(failure) << failure->where;
}

TEST(PropertyListFuzz, FileReaderAnswersEveryMutation)
{
    const PropertyListValue value = sampleFileValue();
    const std::vector<std::string> samples{
        *xmlPropertyList(value).value, *binaryPropertyList(value).value,
        *binaryPropertyList(PropertyListArray{"x", PropertyListArray{1, 2.0}}).value};
    const auto seed = testsupport::fuzzSeed(24002);
    auto failure =
        testsupport::runParserCheck(samples, seed, testsupport::fuzzMutationCount(),
                                    [](std::string_view input) { return oneOutcome(propertyListFromBytes(input)); });
    EXPECT_FALSE(failure) << failure->where;
}

TEST(PropertyListFile, ReadsTheWholeXMLVocabulary)
{
    const std::string xml =
        "\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><!-- a comment --><dict>\n"
        "  <key>a&amp;b</key><string>&lt;&#233;&#x1F600;<![CDATA[<raw>]]></string>\n"
        "  <key>hex</key><integer> 0x1F </integer>\n"
        "  <key>min</key><integer>-9223372036854775808</integer>\n"
        "  <key>real</key><real>-1.5e3</real>\n"
        "  <key>inf</key><real>+infinity</real>\n"
        "  <key>t</key><true/><key>f</key><false></false>\n"
        "  <key>empty</key><string/><key>list</key><array/>\n"
        "  <key>data</key><data>\n  AKv/\n  EA==\n</data>\n"
        "  <key>when</key><date>2023-11-14T22:13:20.25Z</date>\n"
        "</dict></plist>\n";
    auto read = propertyListFromBytes(xml);
    ASSERT_TRUE(read) << read.error;
    const PropertyListDictionary expected{{"a&b", "<\xc3\xa9\xf0\x9f\x98\x80<raw>"},
                                          {"hex", 31},
                                          {"min", std::numeric_limits<std::int64_t>::min()},
                                          {"real", -1500.0},
                                          {"inf", std::numeric_limits<double>::infinity()},
                                          {"t", true},
                                          {"f", false},
                                          {"empty", ""},
                                          {"list", PropertyListArray{}},
                                          {"data", PropertyListData{0x00, 0xab, 0xff, 0x10}},
                                          {"when", dateAt(1'700'000'000'250'000)}};
    EXPECT_EQ(*read.value, PropertyListValue(expected));

    for (const std::string& bad :
         {std::string("<plist><integer>9223372036854775808</integer></plist>"),
          std::string("<plist><date>2023-02-30T00:00:00Z</date></plist>"),
          std::string("<plist><data>A===</data></plist>"), std::string("<plist><string>&bogus;</string></plist>"),
          std::string("<plist><dict><string>no key</string></dict></plist>"),
          std::string("<plist><true>x</true></plist>"),
          std::string("<plist><string>a</string><string>b</string></plist>"),
          std::string("<plist><array></dict></plist>"), std::string("<plist><uid/></plist>"),
          std::string(2000, '<') + "array>"}) {
        auto refused = propertyListFromBytes(bad);
        EXPECT_FALSE(refused) << bad;
        EXPECT_FALSE(refused.error.empty());
    }
    std::string deep = "<plist>";
    for (int level = 0; level < 600; ++level)
        deep += "<array>";
    EXPECT_NE(propertyListFromBytes(deep).error.find("nested deeper"), std::string::npos);
}

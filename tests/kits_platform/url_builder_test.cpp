// The URL builder: what the legacy escaping writes and keeps, query parameters with missing values
// and unescaped names, and which texts count as URLs.
#include "kits/platform/kst_url_builder.h"

#include <gtest/gtest.h>

using kits::KSTURLBuilder;

TEST(URLBuilderTest, EscapedComponentsKeepReservedCharacters)
{
    auto builder = KSTURLBuilder::URLWithBase("https://example.test");
    builder.escapeAndAppendComponent("/a b/c");
    EXPECT_EQ(builder.URLString(), "https://example.test/a%20b/c");
    EXPECT_EQ(KSTURLBuilder::escapeString("é"), "%C3%A9");
    EXPECT_EQ(KSTURLBuilder::escapeString("/?&=:+#;@$,!*'()~-._"), "/?&=:+#;@$,!*'()~-._");
    EXPECT_EQ(KSTURLBuilder::escapeString("\"%<>{}|\\^[]`"), "%22%25%3C%3E%7B%7D%7C%5C%5E%5B%5D%60");
    EXPECT_EQ(KSTURLBuilder::escapeString(std::string("\t\n\x7f\0", 4)), "%09%0A%7F%00");
    EXPECT_EQ(KSTURLBuilder::escapeString("\xff"), "%FF"); // not UTF-8: escaped byte by byte all the same
}

TEST(URLBuilderTest, AppendedTextIsUnchanged)
{
    auto builder = KSTURLBuilder::URLWithBase("https://h.test/a b");
    builder.appendComponent("/%zz");
    EXPECT_EQ(builder.URLString(), "https://h.test/a b/%zz");
    EXPECT_FALSE(builder.URL()); // the space and the bad escape make it no URL
}

TEST(URLBuilderTest, QueryParametersSkipMissingValuesAndKeepNamesAsGiven)
{
    auto builder = KSTURLBuilder::URLWithBase("https://h.test/p");
    builder.appendValueForQueryParam(std::nullopt, "first");
    builder.appendValueForQueryParam(foundation::PropertyListValue(), "null");
    builder.appendValueForQueryParam(foundation::PropertyListValue("a b&c"), "second");
    EXPECT_EQ(builder.URLString(), "https://h.test/p?second=a%20b&c");
    EXPECT_EQ(builder.queryParams(), 1u);
    builder.appendValueForQueryParam(foundation::PropertyListValue(7), "my name");
    builder.appendValueForQueryParam(foundation::PropertyListValue(0.5), "r");
    EXPECT_EQ(builder.URLString(), "https://h.test/p?second=a%20b&c&my name=7&r=0.5");
    EXPECT_EQ(builder.queryParams(), 3u);
    EXPECT_FALSE(builder.URL()); // the unescaped space in the name
}

TEST(URLBuilderTest, URLAcceptsURLTextsOnly)
{
    for (const char* good : {"https://h.test:8443/a%20b?x=1&y=%C3%A9#frag", "relative/path?q", "", "mailto:a@b.test"})
        EXPECT_EQ(KSTURLBuilder::URLWithBase(good).URL(), std::optional<std::string>(good)) << good;
    for (const char* bad : {"https://h.test/a b", "https://h.test/%4", "https://h.test/%g1", "https://h.test/#a#b",
                            "1http://h.test", "ht^tp://h.test", "https://h.test/\xc3\xa9", ":no-scheme"})
        EXPECT_FALSE(KSTURLBuilder::URLWithBase(bad).URL()) << bad;
}

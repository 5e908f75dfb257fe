// Request header fields: insertion order, names compared without case, replacing and adding.
#include "net/url_request.h"

#include <gtest/gtest.h>

using net::HTTPHeaderFields;
using net::URLRequest;

TEST(HTTPHeaderFields, KeepOrderAndCompareNamesWithoutCase)
{
    HTTPHeaderFields fields;
    fields.set("Accept", "application/json");
    fields.set("X-Request-Id", "1");
    fields.set("accept", "text/plain"); // replaces in place, keeps the first spelling
    const std::vector<HTTPHeaderFields::Field> expected{{"Accept", "text/plain"}, {"X-Request-Id", "1"}};
    EXPECT_EQ(fields.fields(), expected);
    EXPECT_EQ(fields.value("ACCEPT"), "text/plain");
    EXPECT_EQ(fields.value("x-request-id"), "1");
    EXPECT_EQ(fields.value("Accept-Charset"), std::nullopt) << "a longer name is another name";
    EXPECT_FALSE(net::headerNamesEqual("Accept", "Accepts"));
    EXPECT_TRUE(net::headerNamesEqual("content-TYPE", "Content-Type"));
}

TEST(HTTPHeaderFields, AddKeepsSameNamedFieldsUntilSetOrRemoved)
{
    HTTPHeaderFields fields;
    fields.add("X-A", "0");
    fields.add("Other", "o");
    fields.add("x-a", "1");
    EXPECT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields.value("X-A"), "0") << "the first of the name";

    fields.set("X-A", "2"); // one value again, in the first one's place
    const std::vector<HTTPHeaderFields::Field> afterSet{{"X-A", "2"}, {"Other", "o"}};
    EXPECT_EQ(fields.fields(), afterSet);

    fields.add("x-A", "3");
    EXPECT_TRUE(fields.remove("X-a"));
    EXPECT_FALSE(fields.remove("X-A"));
    const std::vector<HTTPHeaderFields::Field> afterRemove{{"Other", "o"}};
    EXPECT_EQ(fields.fields(), afterRemove);
}

TEST(URLRequest, DefaultsAndHeaderAccess)
{
    URLRequest request("https://example.test/path?q=1");
    EXPECT_EQ(request.httpMethod, "GET");
    EXPECT_EQ(request.timeoutInterval, 60.0);
    EXPECT_EQ(request.cachePolicy, net::URLRequestCachePolicy::useProtocolCachePolicy);
    request.setValueForHTTPHeaderField("gzip", "Accept-Encoding");
    EXPECT_EQ(request.valueForHTTPHeaderField("accept-encoding"), "gzip");
    EXPECT_EQ(request.headerFields.size(), 1u);
}

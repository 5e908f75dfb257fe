// The HTML page's text operations: escaping of inserted values and the one-pass placeholder fill
// (values never rescanned, stray "%" kept).
#include "export/html_markup.h"

#include <gtest/gtest.h>

using exports::htmlEscaped;
using exports::replacingPlaceholders;

namespace {

TEST(HtmlMarkupTest, EscapingTurnsMarkupQuotesAndPercentIntoReferences)
{
    EXPECT_EQ(htmlEscaped("<b>bold</b> & %cost_sum%"), "&lt;b&gt;bold&lt;/b&gt; &amp; &#37;cost_sum&#37;");
    EXPECT_EQ(htmlEscaped("\"a\" 'b'"), "&quot;a&quot; &#39;b&#39;");
    EXPECT_EQ(htmlEscaped("Caf\u00E9 \u2615 50"), "Caf\u00E9 \u2615 50");
    EXPECT_EQ(htmlEscaped(""), "");
    EXPECT_EQ(htmlEscaped("%%"), "&#37;&#37;");
}

TEST(HtmlMarkupTest, EveryOccurrenceOfEveryPlaceholderIsFilledOnce)
{
    EXPECT_EQ(replacingPlaceholders("%a%-%b%-%a%", {{"%a%", "1"}, {"%b%", "2"}}), "1-2-1");
    // Inserted text is not read again, even when it looks like a placeholder.
    EXPECT_EQ(replacingPlaceholders("%a% %b%", {{"%a%", "%b%"}, {"%b%", "x"}}), "%b% x");
    // A "%" that starts no placeholder stays, and the next one may still start one.
    EXPECT_EQ(replacingPlaceholders("width=\"100%\" %a%% %%a%", {{"%a%", "1"}}), "width=\"100%\" 1% %1");
    EXPECT_EQ(replacingPlaceholders("%unknown% %a", {{"%a%", "1"}}), "%unknown% %a");
    // A placeholder whose name begins another's is told apart by its closing "%".
    EXPECT_EQ(replacingPlaceholders("%duration%|%duration_sum%", {{"%duration%", "d"}, {"%duration_sum%", "s"}}),
              "d|s");
    EXPECT_EQ(replacingPlaceholders("", {{"%a%", "1"}}), "");
    EXPECT_EQ(replacingPlaceholders("%a%", {{"%a%", ""}}), "");
}

} // namespace

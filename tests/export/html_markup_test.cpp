// The HTML page's text operations: escaping of inserted values, the one-pass placeholder fill (values
// never rescanned, stray "%" kept) and the removal of elements classed "hidden".
#include "export/html_markup.h"

#include <gtest/gtest.h>

using exports::htmlEscaped;
using exports::replacingPlaceholders;
using exports::withoutHiddenElements;

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

TEST(HtmlMarkupTest, ElementsClassedHiddenGoWithAllTheyHold)
{
    EXPECT_EQ(withoutHiddenElements("<p class=\"client hidden\">Client: <b>ACME</b></p><p>kept</p>"), "<p>kept</p>");
    // Nested elements of the same name, a void element and a self-closed one inside the hidden one.
    EXPECT_EQ(withoutHiddenElements("<div class='hidden'><div>a<br>b<img src=x/></div>c</div><div>d</div>"),
              "<div>d</div>");
    EXPECT_EQ(withoutHiddenElements("<tr><td class=\"date\">1</td><td class=\"amount hidden\">$5</td></tr>"),
              "<tr><td class=\"date\">1</td></tr>");
    // Unquoted values, upper-case names and other whitespace.
    EXPECT_EQ(withoutHiddenElements("<TD CLASS=hidden>x</TD><td class=\"a\thidden\">y</td>z"), "z");
    // The word "hidden" itself, not a class that merely contains it.
    const std::string kept = "<td class=\"unhidden hidden-ish\">x</td><td data-class=\"hidden\">y</td>";
    EXPECT_EQ(withoutHiddenElements(kept), kept);
    // A hidden void element goes alone.
    EXPECT_EQ(withoutHiddenElements("<p>a<br class=\"hidden\">b</p>"), "<p>ab</p>");
}

TEST(HtmlMarkupTest, StyleCommentsAndDeclarationsStayAsTheyAre)
{
    const std::string head = "<!DOCTYPE html><!-- <p class=\"hidden\"> --><style>.hidden { display: none; } "
                             "td > p { color: red; }</style>";
    EXPECT_EQ(withoutHiddenElements(head + "<p class=\"hidden\">x</p>"), head);
    // A lone "<" in text is no tag.
    EXPECT_EQ(withoutHiddenElements("a < b <span class=\"hidden\">c < d</span>"), "a < b ");
    // Markup that never closes is kept rather than cut.
    EXPECT_EQ(withoutHiddenElements("<p class=\"x\""), "<p class=\"x\"");
    EXPECT_EQ(withoutHiddenElements("<p class=\"hidden\">open"), "");
}

} // namespace

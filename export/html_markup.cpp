// Escaping, one-pass placeholder filling and the removal of hidden elements for the HTML page.
#include "export/html_markup.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace exports {

void appendHtmlEscaped(std::string& out, std::string_view value)
{
    std::size_t start = 0;
    for (std::size_t index = 0; index < value.size(); ++index) {
        std::string_view reference;
        switch (value[index]) {
        case '&': reference = "&amp;"; break;
        case '<': reference = "&lt;"; break;
        case '>': reference = "&gt;"; break;
        case '"': reference = "&quot;"; break;
        case '\'': reference = "&#39;"; break;
        case '%': reference = "&#37;"; break;
        default: continue;
        }
        out.append(value.substr(start, index - start)).append(reference);
        start = index + 1;
    }
    out.append(value.substr(start));
}

std::string htmlEscaped(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    appendHtmlEscaped(out, value);
    return out;
}

void appendReplacingPlaceholders(std::string& out, std::string_view text, std::span<const Placeholder> placeholders)
{
    std::size_t copied = 0;
    std::size_t at = text.find('%');
    while (at != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        const auto match =
            std::find_if(placeholders.begin(), placeholders.end(),
                         [rest](const Placeholder& placeholder) { return rest.starts_with(placeholder.text); });
        if (match == placeholders.end()) {
            // This "%" starts no placeholder; the next one may.
            at = text.find('%', at + 1);
            continue;
        }
        out.append(text.substr(copied, at - copied));
        if (match->write)
            (*match->write)(out);
        else
            out.append(match->value);
        copied = at + match->text.size();
        at = text.find('%', copied);
    }
    out.append(text.substr(copied));
}

std::string replacingPlaceholders(std::string_view text, std::span<const Placeholder> placeholders)
{
    std::string out;
    out.reserve(text.size());
    appendReplacingPlaceholders(out, text, placeholders);
    return out;
}

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool isVoidElement(std::string_view name)
{
    static constexpr std::array<std::string_view, 14> voidElements = {
        "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr", "param"};
    return std::any_of(voidElements.begin(), voidElements.end(),
                       [name](std::string_view element) { return equalsIgnoringCase(name, element); });
}

bool holdsWordHidden(std::string_view classes)
{
    std::size_t at = 0;
    while (at < classes.size()) {
        while (at < classes.size() && isSpace(classes[at]))
            ++at;
        std::size_t end = at;
        while (end < classes.size() && !isSpace(classes[end]))
            ++end;
        if (classes.substr(at, end - at) == "hidden")
            return true;
        at = end;
    }
    return false;
}

// Whether the "<" at `at` opens a tag, an end tag, a comment or a declaration (not a lone "<").
bool startsTag(std::string_view html, std::size_t at)
{
    return at + 1 < html.size() && (isAsciiLetter(html[at + 1]) || html[at + 1] == '/' || html[at + 1] == '!');
}

// One tag as read at a "<": its kind, name and end, and whether it is hidden.
struct Tag {
    enum class Kind { start, end, other } kind = Kind::other;
    std::string_view name;
    std::size_t end = 0; // just past the ">", or the text's size when it never closes
    bool selfClosing = false;
    bool hidden = false;
};

Tag readTag(std::string_view html, std::size_t at)
{
    Tag tag;
    std::size_t position = at + 1;
    if (position < html.size() && html[position] == '!') {
        // A comment runs to "-->", a declaration to the next ">".
        const bool comment = html.substr(position, 3) == "!--";
        const std::size_t close = comment ? html.find("-->", position + 3) : html.find('>', position);
        tag.end = close == std::string_view::npos ? html.size() : close + (comment ? 3 : 1);
        return tag;
    }
    if (position < html.size() && html[position] == '/') {
        tag.kind = Tag::Kind::end;
        ++position;
    } else {
        tag.kind = Tag::Kind::start;
    }
    const std::size_t nameStart = position;
    while (position < html.size() && !isSpace(html[position]) && html[position] != '>' && html[position] != '/')
        ++position;
    tag.name = html.substr(nameStart, position - nameStart);
    // Attributes: name, optionally "=" and a quoted or bare value.
    while (position < html.size()) {
        while (position < html.size() && isSpace(html[position]))
            ++position;
        if (position >= html.size())
            break;
        if (html[position] == '>') {
            tag.end = position + 1;
            return tag;
        }
        if (html[position] == '/') {
            tag.selfClosing = true;
            ++position;
            continue;
        }
        const std::size_t attributeStart = position;
        while (position < html.size() && !isSpace(html[position]) && html[position] != '=' && html[position] != '>')
            ++position;
        const std::string_view attribute = html.substr(attributeStart, position - attributeStart);
        while (position < html.size() && isSpace(html[position]))
            ++position;
        std::string_view value;
        if (position < html.size() && html[position] == '=') {
            ++position;
            while (position < html.size() && isSpace(html[position]))
                ++position;
            if (position < html.size() && (html[position] == '"' || html[position] == '\'')) {
                const char quote = html[position];
                const std::size_t close = html.find(quote, position + 1);
                const std::size_t valueEnd = close == std::string_view::npos ? html.size() : close;
                value = html.substr(position + 1, valueEnd - position - 1);
                position = std::min(valueEnd + 1, html.size());
            } else {
                const std::size_t valueStart = position;
                while (position < html.size() && !isSpace(html[position]) && html[position] != '>')
                    ++position;
                value = html.substr(valueStart, position - valueStart);
            }
        }
        if (tag.kind == Tag::Kind::start && equalsIgnoringCase(attribute, "class") && holdsWordHidden(value))
            tag.hidden = true;
    }
    tag.end = html.size();
    return tag;
}

bool isRawTextElement(std::string_view name)
{
    return equalsIgnoringCase(name, "style") || equalsIgnoringCase(name, "script");
}

// Just past the end tag of the raw-text element `name` whose start tag ends at `from`.
std::size_t endOfRawText(std::string_view html, std::size_t from, std::string_view name)
{
    for (std::size_t at = html.find("</", from); at != std::string_view::npos; at = html.find("</", at + 2)) {
        if (equalsIgnoringCase(html.substr(at + 2, name.size()), name)) {
            const std::size_t close = html.find('>', at);
            return close == std::string_view::npos ? html.size() : close + 1;
        }
    }
    return html.size();
}

// Just past the end of the element whose start tag `start` was read: its nested elements and its own
// end tag included.
std::size_t endOfElement(std::string_view html, const Tag& start)
{
    if (start.selfClosing || isVoidElement(start.name))
        return start.end;
    if (isRawTextElement(start.name))
        return endOfRawText(html, start.end, start.name);
    int depth = 1;
    std::size_t position = start.end;
    while (depth > 0) {
        const std::size_t at = html.find('<', position);
        if (at == std::string_view::npos)
            return html.size();
        if (!startsTag(html, at)) {
            position = at + 1;
            continue;
        }
        const Tag tag = readTag(html, at);
        if (tag.kind == Tag::Kind::start && !tag.selfClosing && !isVoidElement(tag.name)) {
            if (isRawTextElement(tag.name)) {
                position = endOfRawText(html, tag.end, tag.name);
                continue;
            }
            ++depth;
        } else if (tag.kind == Tag::Kind::end) {
            --depth;
        }
        position = tag.end;
    }
    return position;
}

} // namespace

std::string withoutHiddenElements(std::string_view html)
{
    std::string out;
    out.reserve(html.size());
    std::size_t copied = 0;
    std::size_t position = 0;
    while (true) {
        const std::size_t at = html.find('<', position);
        if (at == std::string_view::npos)
            break;
        if (!startsTag(html, at)) {
            position = at + 1;
            continue;
        }
        const Tag tag = readTag(html, at);
        if (tag.kind == Tag::Kind::start && tag.hidden) {
            out.append(html.substr(copied, at - copied));
            copied = position = endOfElement(html, tag);
            continue;
        }
        position = (tag.kind == Tag::Kind::start && isRawTextElement(tag.name)) ? endOfRawText(html, tag.end, tag.name)
                                                                                : tag.end;
    }
    out.append(html.substr(copied));
    return out;
}

} // namespace exports

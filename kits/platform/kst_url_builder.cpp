// URL text assembly with the legacy percent escaping, and a strict check of the finished text.
#include "kits/platform/kst_url_builder.h"

#include "kits/platform/kst_value_description.h"

#include <cctype>

namespace kits {

namespace {

bool needsEscape(unsigned char byte)
{
    if (byte <= 0x20 || byte >= 0x7f) // controls, space, DEL and every non-ASCII byte
        return true;
    switch (byte) {
    case '"':
    case '%':
    case '<':
    case '>':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '[':
    case ']':
    case '`': return true;
    default: return false;
    }
}

bool isHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool isURLCharacter(unsigned char byte)
{
    if (std::isalnum(byte))
        return true;
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=%";
    return allowed.find(static_cast<char>(byte)) != std::string_view::npos;
}

} // namespace

KSTURLBuilder KSTURLBuilder::URLWithBase(std::string_view base)
{
    KSTURLBuilder builder;
    builder.appendComponent(base);
    return builder;
}

void KSTURLBuilder::appendComponent(std::string_view text)
{
    URLString_.append(text);
}

std::string KSTURLBuilder::escapeString(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0x0f];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void KSTURLBuilder::escapeAndAppendComponent(std::string_view text)
{
    URLString_ += escapeString(text);
}

void KSTURLBuilder::appendValueForQueryParam(const std::optional<foundation::PropertyListValue>& value,
                                             std::string_view name)
{
    if (!value || value->isNull())
        return;
    URLString_ += queryParams_ == 0 ? '?' : '&';
    ++queryParams_;
    URLString_.append(name);
    URLString_ += '=';
    URLString_ += escapeString(KSTValueDescription(*value));
}

std::optional<std::string> KSTURLBuilder::URL() const
{
    if (!KSTIsValidURLString(URLString_))
        return std::nullopt;
    return URLString_;
}

bool KSTIsValidURLString(std::string_view text)
{
    bool seenFragment = false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (!isURLCharacter(byte))
            return false;
        if (byte == '%' && (index + 2 >= text.size() || !isHexDigit(text[index + 1]) || !isHexDigit(text[index + 2])))
            return false;
        if (byte == '#') {
            if (seenFragment)
                return false;
            seenFragment = true;
        }
    }
    // A scheme, when the text has one before any '/', '?' or '#', is a letter then letters, digits,
    // '+', '-' or '.'.
    const auto colon = text.find(':');
    const auto firstDelimiter = text.find_first_of("/?#");
    if (colon != std::string_view::npos && (firstDelimiter == std::string_view::npos || colon < firstDelimiter)) {
        if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
            return false;
        for (std::size_t index = 1; index < colon; ++index) {
            const auto byte = static_cast<unsigned char>(text[index]);
            if (!std::isalnum(byte) && byte != '+' && byte != '-' && byte != '.')
                return false;
        }
    }
    return true;
}

} // namespace kits

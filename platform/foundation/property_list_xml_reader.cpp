// The XML property-list reader: the plist vocabulary only (dict, key, array, string, integer, real,
// true, false, date, data), with the five named entities, character references, CDATA and comments.
// Anything else - an unknown element, a number that is no number, text after the value - is an error.
#include "foundation/property_list_readers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace foundation::detail {

namespace {

bool isSpace(char character)
{
    return character == ' ' || character == '\t' || character == '\r' || character == '\n';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::int64_t> integerFromText(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    constexpr std::uint64_t largest = std::numeric_limits<std::int64_t>::max();
    if (negative) {
        if (magnitude > largest + 1)
            return std::nullopt;
        return magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                        : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > largest)
        return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

std::optional<double> realFromText(std::string_view text)
{
    text = trimmed(text);
    if (text == "nan" || text == "NaN")
        return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf" || text == "+infinity" || text == "infinity" || text == "+inf")
        return std::numeric_limits<double>::infinity();
    if (text == "-inf" || text == "-infinity")
        return -std::numeric_limits<double>::infinity();
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<PropertyListData> dataFromBase64(std::string_view text)
{
    PropertyListData bytes;
    std::uint32_t group = 0;
    int digits = 0;
    int padding = 0;
    for (char character : text) {
        if (isSpace(character))
            continue;
        int digit;
        if (character >= 'A' && character <= 'Z')
            digit = character - 'A';
        else if (character >= 'a' && character <= 'z')
            digit = character - 'a' + 26;
        else if (character >= '0' && character <= '9')
            digit = character - '0' + 52;
        else if (character == '+')
            digit = 62;
        else if (character == '/')
            digit = 63;
        else if (character == '=') {
            ++padding;
            continue;
        } else
            return std::nullopt;
        if (padding > 0)
            return std::nullopt; // data after the padding
        group = (group << 6) | static_cast<std::uint32_t>(digit);
        if (++digits == 4) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 16));
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
            bytes.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            digits = 0;
        }
    }
    if (digits == 1 || padding > 2)
        return std::nullopt;
    if (digits == 2) {
        bytes.push_back(static_cast<std::uint8_t>(group >> 4));
    } else if (digits == 3) {
        bytes.push_back(static_cast<std::uint8_t>(group >> 10));
        bytes.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return bytes;
}

struct Tag {
    std::string_view name;
    bool closing = false;
    bool selfClosing = false;
};

class XMLReader {
public:
    explicit XMLReader(std::string_view text) : text_(text) {}

    PropertyListResult<PropertyListValue> read()
    {
        using Result = PropertyListResult<PropertyListValue>;
        if (text_.substr(0, 3) == "\xef\xbb\xbf")
            position_ = 3;
        auto value = document();
        if (!value)
            return Result::failure("XML property list: " + (error_.empty() ? std::string("malformed") : error_)
                                   + " (at byte " + std::to_string(position_) + ")");
        return {std::move(value), {}};
    }

private:
    std::optional<PropertyListValue> fail(std::string reason)
    {
        if (error_.empty())
            error_ = std::move(reason);
        return std::nullopt;
    }

    bool startsWith(std::string_view prefix) const { return text_.substr(position_, prefix.size()) == prefix; }

    // Skips `text` up to and past `terminator`; false when it never comes.
    bool skipPast(std::string_view terminator)
    {
        const auto found = text_.find(terminator, position_);
        if (found == std::string_view::npos)
            return false;
        position_ = found + terminator.size();
        return true;
    }

    // White space, the XML declaration, processing instructions, comments and the document type.
    bool skipMisc()
    {
        for (;;) {
            while (position_ < text_.size() && isSpace(text_[position_]))
                ++position_;
            if (startsWith("<?")) {
                if (!skipPast("?>"))
                    return false;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return false;
            } else if (startsWith("<!DOCTYPE")) {
                if (!skipDocumentType())
                    return false;
            } else {
                return true;
            }
        }
    }

    bool skipDocumentType()
    {
        int brackets = 0;
        char quote = 0;
        for (++position_; position_ < text_.size(); ++position_) {
            const char character = text_[position_];
            if (quote) {
                if (character == quote)
                    quote = 0;
            } else if (character == '"' || character == '\'') {
                quote = character;
            } else if (character == '[') {
                ++brackets;
            } else if (character == ']') {
                --brackets;
            } else if (character == '>' && brackets <= 0) {
                ++position_;
                return true;
            }
        }
        return false;
    }

    std::optional<Tag> tag()
    {
        if (!startsWith("<"))
            return std::nullopt;
        Tag result;
        ++position_;
        if (startsWith("/")) {
            result.closing = true;
            ++position_;
        }
        const std::size_t start = position_;
        while (position_ < text_.size()
               && (std::isalnum(static_cast<unsigned char>(text_[position_])) || text_[position_] == '_'
                   || text_[position_] == '-' || text_[position_] == ':'))
            ++position_;
        result.name = text_.substr(start, position_ - start);
        if (result.name.empty())
            return std::nullopt;
        char quote = 0; // attributes are skipped
        for (; position_ < text_.size(); ++position_) {
            const char character = text_[position_];
            if (quote) {
                if (character == quote)
                    quote = 0;
            } else if (character == '"' || character == '\'') {
                quote = character;
            } else if (character == '>') {
                result.selfClosing = position_ > start && text_[position_ - 1] == '/';
                ++position_;
                if (result.closing && result.selfClosing)
                    return std::nullopt;
                return result;
            } else if (character == '<') {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<PropertyListValue> document()
    {
        if (!skipMisc())
            return fail("unterminated declaration or comment");
        auto opening = tag();
        if (!opening || opening->closing)
            return fail("no root element");
        std::optional<PropertyListValue> value;
        if (opening->name == "plist") {
            if (opening->selfClosing)
                return fail("empty plist element");
            if (!skipMisc())
                return fail("unterminated comment");
            auto inner = tag();
            if (!inner || inner->closing)
                return fail("the plist element holds no value");
            value = element(*inner, 0);
            if (!value)
                return std::nullopt;
            if (!skipMisc())
                return fail("unterminated comment");
            auto closing = tag();
            if (!closing || !closing->closing || closing->name != "plist")
                return fail("more than one value in the plist element");
        } else {
            value = element(*opening, 0);
            if (!value)
                return std::nullopt;
        }
        if (!skipMisc() || position_ != text_.size())
            return fail("content after the property list");
        return value;
    }

    // Character data up to the closing tag of `name`, entities and CDATA resolved.
    std::optional<std::string> text(std::string_view name)
    {
        std::string content;
        while (position_ < text_.size()) {
            const char character = text_[position_];
            if (character == '&') {
                if (!entity(content))
                    return std::nullopt;
            } else if (character != '<') {
                content += character;
                ++position_;
            } else if (startsWith("<![CDATA[")) {
                const std::size_t start = position_ + 9;
                if (!skipPast("]]>"))
                    return std::nullopt;
                content.append(text_.substr(start, position_ - 3 - start));
            } else if (startsWith("<!--")) {
                if (!skipPast("-->"))
                    return std::nullopt;
            } else {
                auto closing = tag();
                if (!closing || !closing->closing || closing->name != name)
                    return std::nullopt;
                return content;
            }
        }
        return std::nullopt;
    }

    bool entity(std::string& content)
    {
        const auto end = text_.find(';', position_);
        if (end == std::string_view::npos || end - position_ > 12)
            return false;
        const std::string_view name = text_.substr(position_ + 1, end - position_ - 1);
        position_ = end + 1;
        static constexpr std::pair<std::string_view, char> named[] = {{"lt", '<'},
                                                                      {"gt", '>'},
                                                                      {"amp", '&'},
                                                                      {"quot", '"'},
                                                                      {"apos", '\''}};
        for (const auto& [entityName, character] : named) {
            if (name == entityName) {
                content += character;
                return true;
            }
        }
        if (name.size() < 2 || name[0] != '#')
            return false;
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        std::uint32_t code = 0;
        auto [stop, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (digits.empty() || problem != std::errc() || stop != digits.data() + digits.size() || code == 0
            || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        appendUTF8(content, code);
        return true;
    }

    std::optional<PropertyListValue> element(const Tag& opening, std::size_t depth)
    {
        if (depth > maximumPropertyListDepth)
            return fail("nested deeper than " + std::to_string(maximumPropertyListDepth) + " levels");
        const std::string_view name = opening.name;
        if (name == "dict")
            return opening.selfClosing ? PropertyListValue(PropertyListDictionary{}) : dictionary(depth);
        if (name == "array")
            return opening.selfClosing ? PropertyListValue(PropertyListArray{}) : array(depth);
        if (name == "true" || name == "false") {
            if (!opening.selfClosing) {
                auto content = text(name);
                if (!content || !trimmed(*content).empty())
                    return fail("<" + std::string(name) + "> holds text");
            }
            return PropertyListValue(name == "true");
        }
        if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data")
            return fail("unknown element <" + std::string(name.substr(0, 32)) + ">");
        std::string content;
        if (!opening.selfClosing) {
            auto read = text(name);
            if (!read)
                return fail("unterminated <" + std::string(name) + ">");
            content = std::move(*read);
        }
        if (name == "string")
            return PropertyListValue(std::move(content));
        if (name == "integer") {
            if (auto value = integerFromText(content))
                return PropertyListValue(*value);
            return fail("<integer> holds no 64-bit integer");
        }
        if (name == "real") {
            if (auto value = realFromText(content))
                return PropertyListValue(*value);
            return fail("<real> holds no number");
        }
        if (name == "date") {
            if (auto value = dateFromISOText(trimmed(content)))
                return PropertyListValue(*value);
            return fail("<date> holds no date");
        }
        if (auto value = dataFromBase64(content))
            return PropertyListValue(std::move(*value));
        return fail("<data> holds no base64 text");
    }

    std::optional<PropertyListValue> array(std::size_t depth)
    {
        PropertyListArray elements;
        for (;;) {
            if (!skipMisc())
                return fail("unterminated comment");
            auto next = tag();
            if (!next)
                return fail("unterminated <array>");
            if (next->closing) {
                if (next->name != "array")
                    return fail("mismatched closing tag in <array>");
                return PropertyListValue(std::move(elements));
            }
            auto element = this->element(*next, depth + 1);
            if (!element)
                return std::nullopt;
            elements.push_back(std::move(*element));
        }
    }

    std::optional<PropertyListValue> dictionary(std::size_t depth)
    {
        std::vector<PropertyListEntry> entries;
        for (;;) {
            if (!skipMisc())
                return fail("unterminated comment");
            auto next = tag();
            if (!next)
                return fail("unterminated <dict>");
            if (next->closing) {
                if (next->name != "dict")
                    return fail("mismatched closing tag in <dict>");
                return PropertyListValue(PropertyListDictionary::fromEntries(std::move(entries)));
            }
            if (next->name != "key")
                return fail("a <dict> value without its <key>");
            std::string key;
            if (!next->selfClosing) {
                auto read = text("key");
                if (!read)
                    return fail("unterminated <key>");
                key = std::move(*read);
            }
            if (!skipMisc())
                return fail("unterminated comment");
            auto valueTag = tag();
            if (!valueTag || valueTag->closing)
                return fail("a <key> without its value");
            auto value = element(*valueTag, depth + 1);
            if (!value)
                return std::nullopt;
            entries.push_back({std::move(key), std::move(*value)});
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
    std::string error_;
};

} // namespace

std::optional<PropertyListDate> dateFromISOText(std::string_view text)
{
    // YYYY-MM-DDTHH:MM:SS[.ffffff]Z
    auto number = [&](std::size_t at, std::size_t width) -> std::optional<int> {
        if (at + width > text.size())
            return std::nullopt;
        int value = 0;
        for (std::size_t index = at; index < at + width; ++index) {
            if (text[index] < '0' || text[index] > '9')
                return std::nullopt;
            value = value * 10 + (text[index] - '0');
        }
        return value;
    };
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':'
        || text.back() != 'Z')
        return std::nullopt;
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    std::int64_t micros = 0;
    const std::string_view fraction = text.substr(19, text.size() - 20);
    if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 10)
            return std::nullopt;
        std::int64_t scale = 100'000;
        for (char digit : fraction.substr(1)) {
            if (digit < '0' || digit > '9')
                return std::nullopt;
            micros += (digit - '0') * scale;
            scale /= 10;
        }
    }
    using namespace std::chrono;
    const year_month_day calendarDay{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                     std::chrono::day(unsigned(*day))};
    if (!calendarDay.ok())
        return std::nullopt;
    return PropertyListDate(sys_days(calendarDay)) + hours(*hour) + minutes(*minute) + seconds(*second)
           + microseconds(micros);
}

PropertyListResult<PropertyListValue> readXMLPropertyList(std::string_view text)
{
    return XMLReader(text).read();
}

void appendUTF8(std::string& text, std::uint32_t code)
{
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xc0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xe0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        text += static_cast<char>(0xf0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    }
}

} // namespace foundation::detail

// vCard parsing: physical lines are unfolded into content lines, the name properties are decoded
// (quoted-printable, CHARSET through ICU, escapes) and each well-formed card becomes one person.
#include "foundation/vcard_reader.h"

#include "foundation/diagnostics.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <system_error>

namespace foundation {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'a' && x <= 'z' ? char(x - 32) : x) == (y >= 'a' && y <= 'z' ? char(y - 32) : y);
           });
}

bool containsIgnoringCase(std::string_view text, std::string_view part)
{
    if (part.size() > text.size())
        return false;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (equalsIgnoringCase(text.substr(i, part.size()), part))
            return true;
    }
    return false;
}

std::string_view trimmed(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::string> presentValue(std::string_view text)
{
    const std::string_view value = trimmed(text);
    if (value.empty())
        return std::nullopt;
    return std::string(value);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "=XX" becomes the byte 0xXX; an '=' without two hex digits stays as it is.
std::string decodeQuotedPrintable(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size()) {
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                bytes.push_back(char(high * 16 + low));
                i += 2;
                continue;
            }
        }
        bytes.push_back(text[i]);
    }
    return bytes;
}

// Converts bytes of the named character set (UTF-8 when none or unknown) into valid UTF-8; bytes that
// are not valid in that set become U+FFFD.
std::string toUtf8(std::string_view bytes, const std::string& charset)
{
    UErrorCode error = U_ZERO_ERROR;
    std::u16string utf16;
    UConverter* converter = nullptr;
    if (!charset.empty() && !equalsIgnoringCase(charset, "UTF-8") && !equalsIgnoringCase(charset, "UTF8"))
        converter = ucnv_open(charset.c_str(), &error);
    if (converter && U_SUCCESS(error)) {
        std::unique_ptr<UConverter, decltype(&ucnv_close)> owner(converter, &ucnv_close);
        int32_t length = ucnv_toUChars(converter, nullptr, 0, bytes.data(), int32_t(bytes.size()), &error);
        if (error != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(error))
            return {};
        utf16.resize(std::size_t(length));
        ucnv_reset(converter);
        error = U_ZERO_ERROR;
        length = ucnv_toUChars(converter, reinterpret_cast<UChar*>(utf16.data()), length, bytes.data(),
                               int32_t(bytes.size()), &error);
        if (U_FAILURE(error))
            return {};
        utf16.resize(std::size_t(length));
        // Converters that substitute with the control character SUB stand for the same lost byte.
        std::replace(utf16.begin(), utf16.end(), u'\x1a', u'\xfffd');
    } else {
        if (converter)
            ucnv_close(converter);
        error = U_ZERO_ERROR;
        int32_t length = 0;
        u_strFromUTF8WithSub(nullptr, 0, &length, bytes.data(), int32_t(bytes.size()), 0xFFFD, nullptr, &error);
        utf16.resize(std::size_t(length));
        error = U_ZERO_ERROR;
        u_strFromUTF8WithSub(reinterpret_cast<UChar*>(utf16.data()), length, &length, bytes.data(),
                             int32_t(bytes.size()), 0xFFFD, nullptr, &error);
        if (U_FAILURE(error))
            return {};
    }
    error = U_ZERO_ERROR;
    int32_t length = 0;
    const auto* source = reinterpret_cast<const UChar*>(utf16.data());
    u_strToUTF8WithSub(nullptr, 0, &length, source, int32_t(utf16.size()), 0xFFFD, nullptr, &error);
    std::string utf8(std::size_t(length), '\0');
    error = U_ZERO_ERROR;
    u_strToUTF8WithSub(utf8.data(), length, &length, source, int32_t(utf16.size()), 0xFFFD, nullptr, &error);
    if (U_FAILURE(error))
        return {};
    return utf8;
}

// Splits a structured value at its unescaped semicolons and resolves the escapes of each component.
std::vector<std::string> components(std::string_view value)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            parts.back().push_back(next == 'n' || next == 'N' ? '\n' : next);
        } else if (c == ';') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

struct ContentLine {
    std::string name; // upper case, without group
    bool quotedPrintable = false;
    std::string charset;
    std::string_view value;
};

// Splits "group.NAME;PARAM=x;PARAM:value"; nothing when there is no colon outside quotes.
std::optional<ContentLine> splitContentLine(std::string_view line)
{
    bool quoted = false;
    std::size_t colon = std::string_view::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos)
        return std::nullopt;
    ContentLine result;
    result.value = line.substr(colon + 1);
    std::vector<std::string_view> head;
    std::size_t start = 0;
    quoted = false;
    for (std::size_t i = 0; i <= colon; ++i) {
        if (i < colon && line[i] == '"')
            quoted = !quoted;
        if (i == colon || (line[i] == ';' && !quoted)) {
            head.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    std::string_view name = trimmed(head.front());
    if (const auto dot = name.rfind('.'); dot != std::string_view::npos)
        name.remove_prefix(dot + 1);
    if (name.empty())
        return std::nullopt;
    result.name.reserve(name.size());
    for (char c : name)
        result.name.push_back(c >= 'a' && c <= 'z' ? char(c - 32) : c);
    for (std::size_t i = 1; i < head.size(); ++i) {
        std::string_view parameter = trimmed(head[i]);
        std::string_view key;
        std::string_view value = parameter;
        if (const auto equals = parameter.find('='); equals != std::string_view::npos) {
            key = trimmed(parameter.substr(0, equals));
            value = trimmed(parameter.substr(equals + 1));
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if ((key.empty() || equalsIgnoringCase(key, "ENCODING")) && equalsIgnoringCase(value, "QUOTED-PRINTABLE"))
            result.quotedPrintable = true;
        else if (equalsIgnoringCase(key, "CHARSET"))
            result.charset = std::string(value);
    }
    return result;
}

std::string decodedValue(const ContentLine& line)
{
    const std::string bytes = line.quotedPrintable ? decodeQuotedPrintable(line.value) : std::string(line.value);
    return toUtf8(bytes, line.charset);
}

struct CardInProgress {
    std::optional<std::vector<std::string>> n;
    std::optional<std::vector<std::string>> org;
    std::optional<std::string> fn;
    bool kindOrg = false;
    bool malformed = false;
};

VCardPerson personOf(const CardInProgress& card)
{
    VCardPerson person;
    if (card.n) {
        person.lastName = presentValue(card.n->at(0));
        if (card.n->size() > 1)
            person.firstName = presentValue(card.n->at(1));
    }
    if (card.org)
        person.organization = presentValue(card.org->at(0));
    if (!person.firstName && !person.lastName && card.fn) {
        const std::optional<std::string> fn = presentValue(*card.fn);
        const bool isOrganization = card.kindOrg || (fn && person.organization && *fn == *person.organization);
        if (!isOrganization)
            person.firstName = fn;
    }
    return person;
}

// Splits at CRLF, LF or CR.
std::vector<std::string_view> physicalLines(std::string_view bytes)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' || bytes[i] == '\r') {
            lines.push_back(bytes.substr(start, i - start));
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < bytes.size())
        lines.push_back(bytes.substr(start));
    return lines;
}

bool isQuotedPrintableHead(std::string_view line)
{
    const auto colon = line.find(':');
    return colon != std::string_view::npos && containsIgnoringCase(line.substr(0, colon), "QUOTED-PRINTABLE");
}

std::string lineTooLongMessage(std::size_t lineNumber)
{
    return "line " + std::to_string(lineNumber) + " is longer than " + std::to_string(vCardMaxLineBytes >> 20) + " MiB";
}

Result<std::string> readWholeFile(const std::filesystem::path& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error)
        return Status::failure(StatusCode::ioError, path.string() + ": " + error.message());
    if (size > vCardMaxFileBytes)
        return Status::failure(StatusCode::invalidArgument, path.string() + ": the file is larger than "
                                                                + std::to_string(vCardMaxFileBytes >> 20) + " MiB");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return Status::failure(StatusCode::ioError, path.string() + ": the file cannot be opened");
    std::string bytes;
    bytes.resize(std::size_t(size));
    stream.read(bytes.data(), std::streamsize(size));
    bytes.resize(std::size_t(stream.gcount()));
    if (stream.bad())
        return Status::failure(StatusCode::ioError, path.string() + ": the file cannot be read");
    return bytes;
}

Result<std::vector<VCardPerson>> readFile(const std::filesystem::path& path)
{
    Result<std::string> bytes = readWholeFile(path);
    if (!bytes.hasValue())
        return bytes.status();
    Result<VCardContents> contents = parseVCards(*bytes);
    if (!contents.hasValue())
        return Status::failure(contents.status().code(), path.string() + ": " + contents.status().message());
    if (contents->skippedCards > 0)
        diagnostic(path.string() + ": skipped " + std::to_string(contents->skippedCards) + " malformed vCard"
                   + (contents->skippedCards == 1 ? "" : "s"));
    return std::move(contents->persons);
}

} // namespace

Result<VCardContents> parseVCards(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);

    // Unfolding: a line starting with a blank continues the previous one without that blank; a
    // quoted-printable value ending in '=' continues with the next line whatever it starts with.
    std::vector<std::string> logical;
    std::size_t lineNumber = 0;
    bool softBreak = false;
    for (std::string_view line : physicalLines(bytes)) {
        ++lineNumber;
        if (line.size() > vCardMaxLineBytes)
            return Status::failure(StatusCode::invalidArgument, lineTooLongMessage(lineNumber));
        if (softBreak) {
            logical.back().append(line);
        } else if (!logical.empty() && !line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            logical.back().append(line.substr(1));
        } else {
            logical.emplace_back(line);
        }
        if (logical.back().size() > vCardMaxLineBytes)
            return Status::failure(StatusCode::invalidArgument, lineTooLongMessage(lineNumber));
        softBreak = !logical.back().empty() && logical.back().back() == '=' && isQuotedPrintableHead(logical.back());
        if (softBreak)
            logical.back().pop_back();
    }

    VCardContents contents;
    std::optional<CardInProgress> card;
    for (const std::string& line : logical) {
        if (trimmed(line).empty())
            continue;
        const std::optional<ContentLine> content = splitContentLine(line);
        const bool begins = content && content->name == "BEGIN" && equalsIgnoringCase(trimmed(content->value), "VCARD");
        const bool ends = content && content->name == "END" && equalsIgnoringCase(trimmed(content->value), "VCARD");
        if (begins) {
            if (card) // the card before was never closed
                ++contents.skippedCards;
            card.emplace();
            continue;
        }
        if (!card) // text between cards belongs to no person
            continue;
        if (ends) {
            if (card->malformed)
                ++contents.skippedCards;
            else
                contents.persons.push_back(personOf(*card));
            card.reset();
            continue;
        }
        if (!content) {
            card->malformed = true;
            continue;
        }
        if (content->name == "N" && !card->n)
            card->n = components(decodedValue(*content));
        else if (content->name == "ORG" && !card->org)
            card->org = components(decodedValue(*content));
        else if (content->name == "FN" && !card->fn)
            card->fn = components(decodedValue(*content)).front();
        else if (content->name == "KIND")
            card->kindOrg = equalsIgnoringCase(trimmed(content->value), "org")
                            || equalsIgnoringCase(trimmed(content->value), "organization");
    }
    if (card)
        ++contents.skippedCards;
    return contents;
}

Result<std::vector<VCardPerson>> readVCardLocation(const std::filesystem::path& fileOrFolder)
{
    std::error_code error;
    if (!std::filesystem::is_directory(fileOrFolder, error))
        return readFile(fileOrFolder);

    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator entries(fileOrFolder, error), end; !error && entries != end;
         entries.increment(error)) {
        const std::string extension = entries->path().extension().string();
        if (equalsIgnoringCase(extension, ".vcf") && entries->is_regular_file(error))
            files.push_back(entries->path());
    }
    if (error)
        return Status::failure(StatusCode::ioError, fileOrFolder.string() + ": " + error.message());
    std::sort(files.begin(), files.end());

    std::vector<VCardPerson> persons;
    for (const auto& file : files) {
        Result<std::vector<VCardPerson>> filePersons = readFile(file);
        if (!filePersons.hasValue()) {
            diagnostic(filePersons.status().message());
            continue;
        }
        persons.insert(persons.end(), std::make_move_iterator(filePersons->begin()),
                       std::make_move_iterator(filePersons->end()));
    }
    return persons;
}

} // namespace foundation

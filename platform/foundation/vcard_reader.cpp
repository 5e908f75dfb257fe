// vCard parsing as a stream: physical lines are unfolded into content lines as the bytes come, the
// name properties are decoded (quoted-printable, CHARSET through ICU, escapes) and each well-formed
// card becomes one person.
#include "foundation/vcard_reader.h"

#include "foundation/diagnostics.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <system_error>
#include <unistd.h>

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

template <typename Card>
VCardPerson personOf(const Card& card)
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

std::string plural(std::size_t count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Reads one file (of `size` bytes, when known) in pieces of `buffer`'s size; `bytesRead` counts on
// over the files of a folder.
Result<VCardContents> readFile(const std::filesystem::path& path, std::optional<std::uintmax_t> size,
                               const VCardProgress& progress, std::vector<char>& buffer, std::uint64_t& bytesRead,
                               std::uint64_t bytesTotal)
{
    const auto tooLarge = [&path] {
        return Status::failure(StatusCode::invalidArgument, path.string() + ": the file is larger than "
                                                                + std::to_string(vCardMaxFileBytes >> 20) + " MiB");
    };
    if (!size) {
        std::error_code error;
        size = std::filesystem::file_size(path, error);
        if (error)
            return Status::failure(StatusCode::ioError, path.string() + ": " + error.message());
    }
    if (*size > vCardMaxFileBytes)
        return tooLarge();
    // Closed however the read ends.
    struct Descriptor {
        int number;
        ~Descriptor()
        {
            if (number >= 0)
                ::close(number);
        }
    } const file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.number < 0)
        return Status::failure(StatusCode::ioError,
                               path.string() + ": the file cannot be opened (" + std::strerror(errno) + ")");
    VCardStreamParser parser;
    std::uint64_t fileBytes = 0;
    for (;;) {
        const ssize_t count = ::read(file.number, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Status::failure(StatusCode::ioError,
                                   path.string() + ": the file cannot be read (" + std::strerror(errno) + ")");
        if (count == 0)
            break;
        fileBytes += static_cast<std::uint64_t>(count);
        if (fileBytes > vCardMaxFileBytes) // it grew while it was read
            return tooLarge();
        parser.feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
        bytesRead += static_cast<std::uint64_t>(count);
        if (progress && !progress(bytesRead, std::max(bytesTotal, bytesRead)))
            return Status::failure(StatusCode::cancelled, path.string() + ": the read was stopped");
    }
    VCardContents contents = parser.finish();
    std::string leftOut;
    if (contents.skippedCards > 0)
        leftOut = "skipped " + plural(contents.skippedCards, "malformed vCard", "malformed vCards");
    if (contents.skippedProperties > 0)
        leftOut += (leftOut.empty() ? "" : "; ") + std::string("left out ")
                   + plural(contents.skippedProperties, "property", "properties") + " longer than "
                   + std::to_string(vCardMaxLineBytes >> 20) + " MiB";
    if (!leftOut.empty())
        diagnostic(path.string() + ": " + leftOut);
    return contents;
}

} // namespace

void VCardStreamParser::feed(std::string_view bytes)
{
    // A byte order mark is dropped; the first bytes wait until it is clear whether they are one.
    if (!headDone_) {
        static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
        while (!bytes.empty() && head_.size() < byteOrderMark.size() && bytes.front() == byteOrderMark[head_.size()]) {
            head_.push_back(bytes.front());
            bytes.remove_prefix(1);
        }
        if (head_.size() == byteOrderMark.size()) {
            headDone_ = true;
            head_.clear();
        } else if (!bytes.empty()) {
            headDone_ = true;
            const std::string head = std::move(head_);
            head_.clear();
            feedContent(head);
        }
    }
    if (headDone_)
        feedContent(bytes);
}

void VCardStreamParser::feedContent(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (afterCarriageReturn_) {
            afterCarriageReturn_ = false;
            if (bytes[at] == '\n') { // the second half of CRLF
                ++at;
                continue;
            }
        }
        if (bytes[at] == '\r' || bytes[at] == '\n') {
            afterCarriageReturn_ = bytes[at] == '\r';
            physicalLineEnded();
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        std::string_view run = bytes.substr(at, end - at);
        at = end;
        if (atLineStart_) {
            atLineStart_ = false;
            // Unfolding: a line starting with a blank continues the content line without that blank;
            // after a quoted-printable soft break the next line continues it whatever it starts with.
            if (softBreak_)
                softBreak_ = false;
            else if (lineOpen_ && (run.front() == ' ' || run.front() == '\t'))
                run.remove_prefix(1);
            else
                startLogicalLine();
        }
        append(run);
    }
}

void VCardStreamParser::append(std::string_view part)
{
    if (part.empty())
        return;
    lastByte_ = part.back();
    if (lineTooLong_)
        return;
    if (line_.size() + part.size() > vCardMaxLineBytes) {
        lineTooLong_ = true;
        line_.clear();
        return;
    }
    const std::size_t before = line_.size();
    line_.append(part);
    if (colon_ == std::string::npos) {
        colon_ = line_.find(':', before);
        if (colon_ != std::string::npos)
            quotedPrintable_ = containsIgnoringCase(std::string_view(line_).substr(0, colon_), "QUOTED-PRINTABLE");
    }
}

void VCardStreamParser::physicalLineEnded()
{
    if (atLineStart_) { // an empty physical line
        if (softBreak_)
            softBreak_ = false; // continues the content line with nothing
        else
            startLogicalLine();
    }
    atLineStart_ = true;
    softBreak_ = lineOpen_ && lastByte_ == '=' && quotedPrintable_;
    if (softBreak_ && !lineTooLong_) {
        line_.pop_back();
        lastByte_ = line_.empty() ? '\0' : line_.back();
    }
}

void VCardStreamParser::startLogicalLine()
{
    if (lineOpen_)
        logicalLineEnded();
    line_.clear();
    lineOpen_ = true;
    lineTooLong_ = false;
    lastByte_ = '\0';
    colon_ = std::string::npos;
    quotedPrintable_ = false;
}

void VCardStreamParser::logicalLineEnded()
{
    if (lineTooLong_) {
        if (card_) // a photo, say: the card keeps its names
            ++contents_.skippedProperties;
        return;
    }
    if (trimmed(line_).empty())
        return;
    const std::optional<ContentLine> content = splitContentLine(line_);
    const bool begins = content && content->name == "BEGIN" && equalsIgnoringCase(trimmed(content->value), "VCARD");
    const bool ends = content && content->name == "END" && equalsIgnoringCase(trimmed(content->value), "VCARD");
    if (begins) {
        if (card_) // the card before was never closed
            ++contents_.skippedCards;
        card_.emplace();
        return;
    }
    if (!card_) // text between cards belongs to no person
        return;
    if (ends) {
        if (card_->malformed)
            ++contents_.skippedCards;
        else
            contents_.persons.push_back(personOf(*card_));
        card_.reset();
        return;
    }
    if (!content) {
        card_->malformed = true;
        return;
    }
    if (content->name == "N" && !card_->n)
        card_->n = components(decodedValue(*content));
    else if (content->name == "ORG" && !card_->org)
        card_->org = components(decodedValue(*content));
    else if (content->name == "FN" && !card_->fn)
        card_->fn = components(decodedValue(*content)).front();
    else if (content->name == "KIND")
        card_->kindOrg = equalsIgnoringCase(trimmed(content->value), "org")
                         || equalsIgnoringCase(trimmed(content->value), "organization");
}

VCardContents VCardStreamParser::finish()
{
    if (!headDone_) {
        headDone_ = true;
        const std::string head = std::move(head_);
        head_.clear();
        feedContent(head);
    }
    if (!atLineStart_) // the last line has no line end
        physicalLineEnded();
    if (lineOpen_)
        logicalLineEnded();
    if (card_)
        ++contents_.skippedCards;
    VCardContents contents = std::move(contents_);
    *this = VCardStreamParser();
    return contents;
}

VCardContents parseVCards(std::string_view bytes)
{
    VCardStreamParser parser;
    parser.feed(bytes);
    return parser.finish();
}

Result<VCardContents> readVCardLocation(const std::filesystem::path& fileOrFolder, const VCardProgress& progress)
{
    std::error_code error;
    std::uint64_t bytesRead = 0;
    std::vector<char> buffer(std::size_t(64) << 10); // one for every file of a folder
    if (!std::filesystem::is_directory(fileOrFolder, error)) {
        const auto size = std::filesystem::file_size(fileOrFolder, error);
        if (error)
            return Status::failure(StatusCode::ioError, fileOrFolder.string() + ": " + error.message());
        return readFile(fileOrFolder, size, progress, buffer, bytesRead, size);
    }

    // Each file with its size (one stat each): the sizes make the total the progress is told against.
    std::vector<std::pair<std::filesystem::path, std::optional<std::uintmax_t>>> files;
    std::uint64_t bytesTotal = 0;
    for (std::filesystem::directory_iterator entries(fileOrFolder, error), end; !error && entries != end;
         entries.increment(error)) {
        const std::string extension = entries->path().extension().string();
        if (equalsIgnoringCase(extension, ".vcf") && entries->is_regular_file(error)) {
            std::error_code sizeError;
            const auto size = entries->file_size(sizeError);
            files.emplace_back(entries->path(), sizeError ? std::nullopt : std::optional<std::uintmax_t>(size));
            if (!sizeError)
                bytesTotal += std::min<std::uint64_t>(size, vCardMaxFileBytes);
        }
    }
    if (error)
        return Status::failure(StatusCode::ioError, fileOrFolder.string() + ": " + error.message());
    std::sort(files.begin(), files.end());

    VCardContents all;
    for (const auto& [file, size] : files) {
        Result<VCardContents> read = readFile(file, size, progress, buffer, bytesRead, bytesTotal);
        if (!read.hasValue()) {
            if (read.status().code() == StatusCode::cancelled)
                return read.status();
            diagnostic(read.status().message());
            all.unreadableFiles.push_back(read.status().message());
            continue;
        }
        all.persons.insert(all.persons.end(), std::make_move_iterator(read->persons.begin()),
                           std::make_move_iterator(read->persons.end()));
        all.skippedCards += read->skippedCards;
        all.skippedProperties += read->skippedProperties;
    }
    return all;
}

} // namespace foundation

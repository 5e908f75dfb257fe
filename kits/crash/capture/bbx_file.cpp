// The record-file writer (stack buffers and plain system calls, so it may run in a signal handler),
// the hex helpers and the reader of the next launch.
#include "kits/crash/capture/bbx_file.h"

#include "kits/crash/capture/bbx_sdk_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uintptr_t firstPageEnd = 4096;
constexpr int writeAttempts = 50;

bool isRecord(const BBXFile* file)
{
    return reinterpret_cast<std::uintptr_t>(file) >= firstPageEnd;
}

// The system's text for an error number, without locale or heap (glibc keeps the texts static).
const char* errorText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? text : "unknown error";
}

bool write(BBXFile* file, const char* bytes)
{
    return BBXFileWriteBuffered(file, bytes, std::strlen(bytes));
}

// A stack buffer that goes to the file whenever it fills.
class StackWriter {
public:
    explicit StackWriter(BBXFile* file) : file_(file) {}
    // At most the buffer's size at once.
    void put(const char* bytes, std::size_t length)
    {
        if (length_ + length > sizeof buffer_)
            flush();
        std::memcpy(buffer_ + length_, bytes, length);
        length_ += length;
    }
    void put(char c) { put(&c, 1); }
    bool flush()
    {
        if (length_ > 0 && !BBXFileWriteBuffered(file_, buffer_, length_))
            ok_ = false;
        length_ = 0;
        return ok_;
    }

private:
    BBXFile* file_;
    char buffer_[64];
    std::size_t length_ = 0;
    bool ok_ = true;
};

// The length of the well-formed UTF-8 sequence at `text` (of `available` bytes), 0 when it is not one.
std::size_t utf8SequenceLength(const unsigned char* text, std::size_t available)
{
    const unsigned char lead = text[0];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high)
        return 0;
    for (std::size_t index = 2; index < length; ++index)
        if (text[index] < 0x80 || text[index] > 0xBF)
            return 0;
    return length;
}

// A quoted raw string: clean text as it is, with '"', '\', control bytes and broken UTF-8 escaped.
void putQuoted(StackWriter& out, const char* text)
{
    out.put('"');
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t remaining = std::strlen(text);
    while (remaining > 0) {
        const unsigned char byte = *bytes;
        if (byte == '"' || byte == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(byte)};
            out.put(escaped, 2);
        } else if (byte < 0x20) {
            const char escaped[6] = {
                '\\', 'u', '0', '0', "0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 0xF]};
            out.put(escaped, 6);
        } else if (const std::size_t length = utf8SequenceLength(bytes, remaining); length > 0) {
            out.put(reinterpret_cast<const char*>(bytes), length);
            bytes += length;
            remaining -= length;
            continue;
        } else {
            out.put("\\ufffd", 6);
        }
        ++bytes;
        --remaining;
    }
    out.put('"');
}

void putNumber(StackWriter& out, std::uint64_t magnitude, bool negative)
{
    char digits[22] = {};
    int index = 21;
    do {
        digits[--index] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        digits[--index] = '-';
    out.put(digits + index, static_cast<std::size_t>(21 - index));
}

void putHex(StackWriter& out, const char* text)
{
    out.put('"');
    char chunk[32];
    std::size_t used = 0;
    for (const auto* byte = reinterpret_cast<const unsigned char*>(text); *byte; ++byte) {
        BBXHexFromByte(*byte, chunk + used);
        used += 2;
        if (used == sizeof chunk) {
            out.put(chunk, used);
            used = 0;
        }
    }
    out.put(chunk, used);
    out.put('"');
}

void putRaw(StackWriter& out, const char* text)
{
    if (text)
        putQuoted(out, text);
    else
        out.put("null", 4);
}

void putHexOrNull(StackWriter& out, const char* text)
{
    if (text)
        putHex(out, text);
    else
        out.put("null", 4);
}

// Starts a member or element: the comma when one is needed, and the key of a member. The pieces of
// one entry are collected in one stack buffer, so an entry usually costs one write.
void putLead(StackWriter& out, BBXFile* file, const char* key)
{
    if (file->needComma)
        out.put(',');
    if (key) {
        putQuoted(out, key);
        out.put(':');
    }
}

// Writes one entry: lead, value, and sets "comma needed".
template <typename PutValue>
bool writeEntry(BBXFile* file, const char* key, PutValue putValue)
{
    if (!isRecord(file))
        return false;
    StackWriter out(file);
    putLead(out, file, key);
    putValue(out);
    file->needComma = true;
    return out.flush();
}

bool openCollection(BBXFile* file, char opening)
{
    if (!isRecord(file))
        return false;
    const char bytes[3] = {',', opening, '\0'};
    const bool ok = write(file, file->needComma ? bytes : bytes + 1);
    ++file->openDepth;
    file->needComma = false;
    return ok;
}

bool closeCollection(BBXFile* file, char closing)
{
    if (!isRecord(file))
        return false;
    const char bytes[2] = {closing, '\0'};
    const bool ok = write(file, bytes);
    if (file->openDepth > 0) {
        file->needComma = file->openDepth > 1;
        --file->openDepth;
    }
    return ok;
}

} // namespace

bool BBXFileWriteWithRetries(int fd, const char* bytes, std::uint64_t length)
{
    std::uint64_t done = 0;
    for (int attempt = 1; done < length; ++attempt) {
        errno = 0;
        const ssize_t written = ::write(fd, bytes + done, length - done);
        const int error = errno;
        if (written < 0) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Failed to write: %s\n", errorText(error));
            if (error == EINTR && attempt < writeAttempts)
                continue; // interrupted before writing anything: try again
        } else if (static_cast<std::uint64_t>(written) > length - done) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: length doesn't make sense (%zd, %zu)\n", written,
                    static_cast<std::size_t>(length - done));
            return false;
        } else {
            done += static_cast<std::uint64_t>(written);
            if (done == length)
                return true;
        }
        if (written < 1 || attempt >= writeAttempts) {
            BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: exited write loop without success\n");
            return false;
        }
    }
    return true;
}

bool BBXFileInitWithPathMode(BBXFile* file, const char* path, bool append, bool buffered)
{
    if (!isRecord(file)) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: file is null\n");
        return false;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = path ? ::open(path, flags, 0644) : -1;
    if (fd < 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to open file %s\n", errorText(path ? errno : EFAULT));
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: file descriptor invalid\n");
        return false;
    }
    *file = BBXFile{};
    file->fd = fd;
    if (append) {
        struct stat status {};
        if (::fstat(fd, &status) == 0)
            file->bytesWritten = static_cast<std::uint64_t>(status.st_size);
    }
    if (buffered) {
        file->writeBuffer = static_cast<char*>(std::malloc(BBXFileWriteBufferSize));
        file->buffered = file->writeBuffer != nullptr;
        if (file->buffered)
            file->writeBuffer[0] = '\0';
    }
    return true;
}

bool BBXFileInitWithPath(BBXFile* file, const char* path, bool buffered)
{
    return BBXFileInitWithPathMode(file, path, true, buffered);
}

bool BBXFileCloseWithOffset(BBXFile* file, std::uint64_t* outOffset)
{
    if (!isRecord(file))
        return false;
    if (file->buffered && file->bufferedLength > 0)
        BBXFileFlushWriteBuffer(file);
    if (file->writeBuffer) // an unbuffered (crash-time) file never calls into the heap
        std::free(file->writeBuffer);
    if (outOffset)
        *outOffset = file->bytesWritten;
    const int fd = file->fd;
    *file = BBXFile{};
    if (fd >= 0 && ::close(fd) != 0) {
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Error: Unable to close file %s\n", errorText(errno));
        return false;
    }
    return true;
}

bool BBXFileClose(BBXFile* file)
{
    return BBXFileCloseWithOffset(file, nullptr);
}

bool BBXFileIsOpen(const BBXFile* file)
{
    return isRecord(file) && file->fd >= 0;
}

bool BBXFileFlushWriteBuffer(BBXFile* file)
{
    if (!isRecord(file) || !file->buffered)
        return false;
    const bool ok = BBXFileWriteWithRetries(file->fd, file->writeBuffer, file->bufferedLength);
    if (ok)
        file->bytesWritten += file->bufferedLength;
    file->bufferedLength = 0;
    file->writeBuffer[0] = '\0';
    return ok;
}

bool BBXFileWriteBuffered(BBXFile* file, const char* bytes, std::uint64_t length)
{
    if (!isRecord(file) || file->fd < 0)
        return false;
    if (!file->buffered) {
        const bool ok = BBXFileWriteWithRetries(file->fd, bytes, length);
        if (ok)
            file->bytesWritten += length;
        return ok;
    }
    bool ok = true;
    while (file->bufferedLength + length >= BBXFileWriteBufferSize) {
        const std::uint64_t part = BBXFileWriteBufferSize - 1 - file->bufferedLength;
        std::memcpy(file->writeBuffer + file->bufferedLength, bytes, part);
        file->bufferedLength += part;
        file->writeBuffer[file->bufferedLength] = '\0';
        ok = BBXFileFlushWriteBuffer(file) && ok;
        bytes += part;
        length -= part;
    }
    std::memcpy(file->writeBuffer + file->bufferedLength, bytes, length);
    file->bufferedLength += length;
    file->writeBuffer[file->bufferedLength] = '\0';
    return ok;
}

bool BBXFileWriteSectionStart(BBXFile* file, const char* name)
{
    return BBXFileWriteHashStart(file) && BBXFileWriteHashKey(file, name);
}

bool BBXFileWriteSectionEnd(BBXFile* file)
{
    if (!isRecord(file))
        return false;
    const bool ok = write(file, "}\n");
    file->openDepth = 0;
    file->needComma = false;
    return ok;
}

bool BBXFileWriteHashStart(BBXFile* file)
{
    return openCollection(file, '{');
}

bool BBXFileWriteHashEnd(BBXFile* file)
{
    return closeCollection(file, '}');
}

bool BBXFileWriteArrayStart(BBXFile* file)
{
    return openCollection(file, '[');
}

bool BBXFileWriteArrayEnd(BBXFile* file)
{
    return closeCollection(file, ']');
}

bool BBXFileWriteHashKey(BBXFile* file, const char* key)
{
    if (!isRecord(file))
        return false;
    StackWriter out(file);
    putLead(out, file, key ? key : "");
    file->needComma = false;
    return out.flush();
}

bool BBXFileWriteHashEntryUint64(BBXFile* file, const char* key, std::uint64_t value)
{
    return writeEntry(file, key ? key : "", [&](StackWriter& out) { putNumber(out, value, false); });
}

bool BBXFileWriteHashEntryInt64(BBXFile* file, const char* key, std::int64_t value)
{
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return writeEntry(file, key ? key : "", [&](StackWriter& out) { putNumber(out, magnitude, value < 0); });
}

bool BBXFileWriteHashEntryString(BBXFile* file, const char* key, const char* text)
{
    return writeEntry(file, key ? key : "", [&](StackWriter& out) { putRaw(out, text); });
}

bool BBXFileWriteHashEntryHexEncodedString(BBXFile* file, const char* key, const char* text)
{
    return writeEntry(file, key ? key : "", [&](StackWriter& out) { putHexOrNull(out, text); });
}

bool BBXFileWriteHashEntryBoolean(BBXFile* file, const char* key, bool flag)
{
    return writeEntry(file, key ? key : "", [&](StackWriter& out) { out.put(flag ? "true" : "false", flag ? 4 : 5); });
}

bool BBXFileWriteHashEntryNSString(BBXFile* file, const char* key, const std::string* string)
{
    return BBXFileWriteHashEntryString(file, key, string ? string->c_str() : nullptr);
}

bool BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(BBXFile* file, const char* key, const std::string* string)
{
    if (!string || string->empty())
        return true;
    return BBXFileWriteHashEntryNSString(file, key, string);
}

bool BBXFileWriteArrayEntryUint64(BBXFile* file, std::uint64_t value)
{
    return writeEntry(file, nullptr, [&](StackWriter& out) { putNumber(out, value, false); });
}

bool BBXFileWriteArrayEntryString(BBXFile* file, const char* text)
{
    return writeEntry(file, nullptr, [&](StackWriter& out) { putRaw(out, text); });
}

bool BBXFileWriteArrayEntryHexEncodedString(BBXFile* file, const char* text)
{
    return writeEntry(file, nullptr, [&](StackWriter& out) { putHexOrNull(out, text); });
}

std::optional<std::vector<nlohmann::json>> BBXFileReadSections(const char* path, bool removeIfUnreadable,
                                                               const BBXSectionTransform& transform)
{
    if (reinterpret_cast<std::uintptr_t>(path) < firstPageEnd) {
        BBX_LOG(BBXSDKLogLevelError, "ERROR [%s:%d] Error: input path is invalid\n");
        return std::nullopt;
    }
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    if (stream)
        contents << stream.rdbuf();
    if (!stream || stream.bad()) {
        if (removeIfUnreadable)
            ::unlink(path);
        BBX_LOG(BBXSDKLogLevelWarn, "WARN  [%s:%d] Unable to read file %s\n", path);
        return std::nullopt;
    }
    const std::string text = contents.str();
    std::vector<nlohmann::json> sections;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        // Each line on its own: a cut or broken line costs only itself.
        auto section = nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                                             text.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        if (!section.is_discarded() && section.is_object()) {
            if (!transform) {
                sections.push_back(std::move(section));
            } else if (auto kept = transform(std::move(section))) {
                sections.push_back(std::move(*kept));
            }
        }
        start = end + 1;
    }
    return sections;
}

void BBXHexFromByte(std::uint8_t byte, char* out)
{
    out[0] = "0123456789abcdef"[byte >> 4];
    out[1] = "0123456789abcdef"[byte & 0xF];
}

std::uint8_t BBXNibbleFromHexChar(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    return 255;
}

void BBXHexEncode(const std::uint8_t* bytes, std::size_t count, char* out)
{
    std::memset(out, 0, 2 * count + 1);
    for (std::size_t index = 0; index < count; ++index)
        BBXHexFromByte(bytes[index], out + 2 * index);
}

std::optional<std::string> BBXHexDecode(std::string_view text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t index = 0; index < text.size(); index += 2) {
        const std::uint8_t high = BBXNibbleFromHexChar(text[index]);
        const std::uint8_t low = BBXNibbleFromHexChar(text[index + 1]);
        if (high > 15 || low > 15)
            return std::nullopt;
        bytes.push_back(static_cast<char>(high << 4 | low));
    }
    return bytes;
}

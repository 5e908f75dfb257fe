// procfs readers over stack buffers. Lines are "key: value" (meminfo, status) or "key\t: value"
// (cpuinfo); numbers are decimal and must fit 64 bits.
#include "kits/crash/capture/bbx_procfs.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// One line of a text, without its line break.
struct Line {
    const char* begin;
    const char* end;
};

// Hands out the lines of [text, text + length) in order.
struct Lines {
    const char* position;
    const char* limit;

    bool next(Line& line)
    {
        if (position >= limit)
            return false;
        const char* cursor = position;
        while (cursor < limit && *cursor != '\n')
            ++cursor;
        line = {position, cursor};
        position = cursor < limit ? cursor + 1 : limit;
        return true;
    }
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

// The key before the line's ':' (blanks before the colon dropped) equals `key`; `value` is set to what
// follows the colon, blanks skipped.
bool matchKey(const Line& line, const char* key, Line& value)
{
    const char* colon = line.begin;
    while (colon < line.end && *colon != ':')
        ++colon;
    if (colon == line.end)
        return false;
    const char* keyEnd = colon;
    while (keyEnd > line.begin && isSpace(keyEnd[-1]))
        --keyEnd;
    const std::size_t keyLength = std::strlen(key);
    if (static_cast<std::size_t>(keyEnd - line.begin) != keyLength || std::memcmp(line.begin, key, keyLength) != 0)
        return false;
    const char* start = colon + 1;
    while (start < line.end && isSpace(*start))
        ++start;
    value = {start, line.end};
    return true;
}

// A decimal number at the start of `text`, advancing past it; false without digits or on overflow.
bool readNumber(Line& text, std::uint64_t& number)
{
    const char* cursor = text.begin;
    std::uint64_t value = 0;
    while (cursor < text.end && *cursor >= '0' && *cursor <= '9') {
        const auto digit = static_cast<std::uint64_t>(*cursor - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++cursor;
    }
    if (cursor == text.begin)
        return false;
    number = value;
    text.begin = cursor;
    return true;
}

void skipBlanks(Line& text)
{
    while (text.begin < text.end && isSpace(*text.begin))
        ++text.begin;
}

// "<number>" or "<number> kB" (then nothing but blanks) in bytes.
bool readAmount(Line value, std::uint64_t& bytes)
{
    std::uint64_t number = 0;
    if (!readNumber(value, number))
        return false;
    skipBlanks(value);
    if (value.end - value.begin >= 2 && value.begin[0] == 'k' && value.begin[1] == 'B') {
        if (number > UINT64_MAX / 1024)
            return false;
        number *= 1024;
        value.begin += 2;
        skipBlanks(value);
    }
    if (value.begin != value.end)
        return false;
    bytes = number;
    return true;
}

// The directory entry as getdents64 lays it out: inode, offset, record length, type, name.
constexpr std::size_t direntNameOffset = 19;

} // namespace

bool BBXParseMeminfo(const char* text, std::size_t length, BBXMemoryFigures* figures)
{
    if (!text || !figures)
        return false;
    struct Wanted {
        const char* key;
        std::uint64_t* value;
        bool found;
    } wanted[] = {{"Active", &figures->active, false},
                  {"Inactive", &figures->inactive, false},
                  {"Unevictable", &figures->wired, false},
                  {"MemFree", &figures->free, false}};
    Lines lines{text, text + length};
    Line line{};
    while (lines.next(line)) {
        Line value{};
        for (auto& entry : wanted) {
            if (!entry.found && matchKey(line, entry.key, value) && readAmount(value, *entry.value))
                entry.found = true;
        }
    }
    for (const auto& entry : wanted) {
        if (!entry.found)
            return false;
    }
    return true;
}

bool BBXParseStatm(const char* text, std::size_t length, std::uint64_t* virtualPages, std::uint64_t* residentPages)
{
    if (!text || !virtualPages || !residentPages)
        return false;
    Line rest{text, text + length};
    std::uint64_t total = 0;
    std::uint64_t resident = 0;
    if (!readNumber(rest, total))
        return false;
    if (rest.begin == rest.end || *rest.begin != ' ')
        return false;
    skipBlanks(rest);
    if (!readNumber(rest, resident))
        return false;
    *virtualPages = total;
    *residentPages = resident;
    return true;
}

bool BBXParseTracerPid(const char* text, std::size_t length, std::uint64_t* tracer)
{
    if (!text || !tracer)
        return false;
    Lines lines{text, text + length};
    Line line{};
    while (lines.next(line)) {
        Line value{};
        if (!matchKey(line, "TracerPid", value))
            continue;
        std::uint64_t number = 0;
        if (!readNumber(value, number))
            return false;
        skipBlanks(value);
        if (value.begin != value.end)
            return false;
        *tracer = number;
        return true;
    }
    return false;
}

bool BBXParseCpuModelName(const char* text, std::size_t length, char* name, std::size_t capacity)
{
    if (!text || !name || capacity == 0)
        return false;
    Lines lines{text, text + length};
    Line line{};
    while (lines.next(line)) {
        Line value{};
        if (!matchKey(line, "model name", value))
            continue;
        std::size_t count = static_cast<std::size_t>(value.end - value.begin);
        if (count > capacity - 1)
            count = capacity - 1;
        std::memcpy(name, value.begin, count);
        name[count] = '\0';
        return true;
    }
    return false;
}

std::size_t BBXParseTaskEntries(const void* records, std::size_t length, pid_t* threads, std::size_t capacity)
{
    if (!records || !threads)
        return 0;
    const auto* bytes = static_cast<const unsigned char*>(records);
    std::size_t count = 0;
    std::size_t offset = 0;
    while (length - offset > direntNameOffset && count < capacity) {
        std::uint16_t recordLength = 0;
        std::memcpy(&recordLength, bytes + offset + 16, sizeof recordLength);
        if (recordLength <= direntNameOffset || recordLength > length - offset)
            break;
        const auto* name = reinterpret_cast<const char*>(bytes + offset + direntNameOffset);
        const std::size_t nameSpace = recordLength - direntNameOffset;
        const void* terminator = std::memchr(name, '\0', nameSpace);
        if (!terminator)
            break;
        Line digits{name, static_cast<const char*>(terminator)};
        std::uint64_t thread = 0;
        if (readNumber(digits, thread) && digits.begin == digits.end && thread > 0 && thread <= INT_MAX)
            threads[count++] = static_cast<pid_t>(thread);
        offset += recordLength;
    }
    return count;
}

bool BBXReadProcFile(const char* path, char* buffer, std::size_t capacity, std::size_t* length)
{
    if (!path || !buffer || capacity == 0)
        return false;
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    std::size_t filled = 0;
    bool ok = true;
    while (filled + 1 < capacity) {
        const ssize_t count = ::read(descriptor, buffer + filled, capacity - 1 - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            ok = false;
        if (count <= 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    buffer[filled] = '\0';
    if (length)
        *length = filled;
    return ok;
}

long BBXListThreads(pid_t* threads, std::size_t capacity)
{
    if (!threads)
        return -1;
    const int descriptor = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    alignas(8) unsigned char records[4096];
    std::size_t count = 0;
    bool ok = true;
    while (count < capacity) {
        const long read = ::syscall(SYS_getdents64, descriptor, records, sizeof records);
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            ok = false;
        if (read <= 0)
            break;
        count += BBXParseTaskEntries(records, static_cast<std::size_t>(read), threads + count, capacity - count);
    }
    ::close(descriptor);
    return ok ? static_cast<long>(count) : -1;
}

bool BBXReadThreadName(pid_t thread, char* name, std::size_t capacity)
{
    if (!name || capacity == 0)
        return false;
    name[0] = '\0';
    char path[64] = "/proc/self/task/";
    char digits[16];
    int index = 0;
    auto value = static_cast<unsigned>(thread);
    do {
        digits[index++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && index < 15);
    std::size_t position = std::strlen(path);
    while (index > 0)
        path[position++] = digits[--index];
    std::memcpy(path + position, "/comm", 6);
    std::size_t length = 0;
    if (!BBXReadProcFile(path, name, capacity, &length))
        return false;
    while (length > 0 && (name[length - 1] == '\n' || name[length - 1] == '\0'))
        name[--length] = '\0';
    return true;
}

// sdk.log: fixed storage for the path and descriptor, a formatter over a stack buffer, and the byte
// budget once a capture has begun (deep stacks log many lines, and each costs the capture time).
#include "kits/crash/capture/bbx_sdk_log.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct SDKLogState {
    char path[PATH_MAX] = {};
    std::atomic<bool> hasContext{false};
    std::atomic<int> descriptor{-1};
    std::atomic<std::uint32_t> minimumLevel{1};
    std::atomic<bool> capturing{false};
    std::atomic<std::uint64_t> capturedBytes{0};
    std::atomic<bool> truncated{false};
};
SDKLogState sdkLog;

// Appends to a fixed buffer, dropping what does not fit; the last byte stays for the terminator.
struct Output {
    char* out;
    std::uint64_t capacity;
    std::uint64_t length = 0;

    void put(char c)
    {
        if (length + 1 < capacity)
            out[length++] = c;
    }
    void put(const char* text)
    {
        while (*text)
            put(*text++);
    }
    void putUnsigned(std::uint64_t value, unsigned base)
    {
        char digits[21] = {};
        int index = 20;
        do {
            digits[--index] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value != 0 && index > 0);
        put(digits + index);
    }
    void putSigned(std::int64_t value)
    {
        if (value < 0) {
            put('-');
            putUnsigned(0 - static_cast<std::uint64_t>(value), 10);
        } else {
            putUnsigned(static_cast<std::uint64_t>(value), 10);
        }
    }
    void terminate()
    {
        if (capacity > 0)
            out[length < capacity ? length : capacity - 1] = '\0';
    }
};

std::uint64_t formatInto(char* out, std::uint64_t capacity, const char* format, va_list arguments)
{
    Output output{out, capacity};
    for (const char* cursor = format; *cursor; ++cursor) {
        if (*cursor != '%') {
            output.put(*cursor);
            continue;
        }
        const char conversion = cursor[1];
        switch (conversion) {
        case 's': {
            const char* text = va_arg(arguments, const char*);
            output.put(text ? text : "(null)");
            break;
        }
        case 'd': output.putSigned(va_arg(arguments, int)); break;
        case 'u': output.putUnsigned(va_arg(arguments, unsigned), 10); break;
        case 'x': output.putUnsigned(va_arg(arguments, unsigned), 16); break;
        case 'p':
            output.put("0x");
            output.putUnsigned(reinterpret_cast<std::uintptr_t>(va_arg(arguments, void*)), 16);
            break;
        case 'z':
            if (cursor[2] == 'd') {
                output.putSigned(va_arg(arguments, ssize_t));
                ++cursor;
                break;
            }
            if (cursor[2] == 'u') {
                output.putUnsigned(va_arg(arguments, std::size_t), 10);
                ++cursor;
                break;
            }
            output.put('%');
            output.put('z');
            break;
        case '\0': output.put('%'); continue; // a lone "%" at the end
        default:
            output.put('%');
            output.put(conversion);
            break;
        }
        ++cursor;
    }
    output.terminate();
    return output.length;
}

void writeAll(int descriptor, const char* bytes, std::uint64_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        length -= static_cast<std::uint64_t>(written);
    }
}

int openDescriptor()
{
    int descriptor = sdkLog.descriptor.load();
    if (descriptor >= 0)
        return descriptor;
    descriptor = ::open(sdkLog.path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return -1;
    int expected = -1;
    // Two first messages at once: one descriptor is kept, the other closed.
    if (!sdkLog.descriptor.compare_exchange_strong(expected, descriptor)) {
        ::close(descriptor);
        return expected;
    }
    return descriptor;
}

} // namespace

std::uint64_t BBXSDKLogFormat(char* out, std::uint64_t capacity, const char* format, ...)
{
    if (!out || capacity == 0)
        return 0;
    va_list arguments;
    va_start(arguments, format);
    const std::uint64_t length = formatInto(out, capacity, format ? format : "", arguments);
    va_end(arguments);
    return length;
}

void BBXSDKFileLog(std::uint32_t level, const char* format, ...)
{
    if (!sdkLog.hasContext.load() || level < sdkLog.minimumLevel || !format)
        return;
    if (sdkLog.truncated.load())
        return;
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    const std::uint64_t length = formatInto(message, sizeof message, format, arguments);
    va_end(arguments);
    const int descriptor = openDescriptor();
    if (descriptor < 0)
        return;
    if (sdkLog.capturing.load()) {
        const std::uint64_t before = sdkLog.capturedBytes.fetch_add(length);
        if (before + length > BBXSDKLogCaptureBudget) {
            if (!sdkLog.truncated.exchange(true)) {
                static const char last[] = "WARN  [BBXSDKFileLog] Log truncated\n";
                writeAll(descriptor, last, sizeof last - 1);
            }
            return;
        }
    }
    writeAll(descriptor, message, length);
}

void BBXSDKLogSetContext(const char* path, std::uint32_t minimumLevel)
{
    sdkLog.hasContext.store(false);
    const int old = sdkLog.descriptor.exchange(-1);
    if (old >= 0)
        ::close(old);
    sdkLog.capturing.store(false);
    sdkLog.capturedBytes.store(0);
    sdkLog.truncated.store(false);
    sdkLog.minimumLevel.store(minimumLevel);
    if (!path || reinterpret_cast<std::uintptr_t>(path) < 4096) {
        sdkLog.path[0] = '\0';
        return;
    }
    std::uint64_t index = 0;
    for (; path[index] && index + 1 < sizeof sdkLog.path; ++index)
        sdkLog.path[index] = path[index];
    sdkLog.path[index] = '\0';
    sdkLog.hasContext.store(true);
}

void BBXSDKLogCaptureBegan()
{
    sdkLog.capturing.store(true);
}

std::uint32_t BBXSDKLogMinimumLevel()
{
    return sdkLog.minimumLevel.load();
}

void BBXSDKLogSetMinimumLevel(std::uint32_t level)
{
    sdkLog.minimumLevel.store(level);
}

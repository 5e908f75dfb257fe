// Memory and file output streams for the multipart encoder.
#include "kits/platform/kst_output_stream.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kits {

bool KSTMemoryOutputStream::open()
{
    open_ = true;
    return true;
}

std::ptrdiff_t KSTMemoryOutputStream::write(const std::uint8_t* bytes, std::size_t length)
{
    if (!open_ || (!bytes && length > 0))
        return -1;
    data_.insert(data_.end(), bytes, bytes + length);
    return static_cast<std::ptrdiff_t>(length);
}

bool KSTMemoryOutputStream::close()
{
    open_ = false;
    return true;
}

KSTFileOutputStream::KSTFileOutputStream(std::filesystem::path path) : path_(std::move(path)) {}

KSTFileOutputStream::~KSTFileOutputStream()
{
    close();
}

bool KSTFileOutputStream::open()
{
    if (descriptor_ >= 0)
        return true;
    do
        descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    while (descriptor_ < 0 && errno == EINTR);
    return descriptor_ >= 0;
}

std::ptrdiff_t KSTFileOutputStream::write(const std::uint8_t* bytes, std::size_t length)
{
    if (descriptor_ < 0 || (!bytes && length > 0))
        return -1;
    // The kernel may take a large write in pieces; only an error or no progress ends it early.
    std::size_t written = 0;
    while (written < length) {
        const ssize_t result = ::write(descriptor_, bytes + written, length - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return written > 0 ? static_cast<std::ptrdiff_t>(written) : -1;
        written += static_cast<std::size_t>(result);
    }
    return static_cast<std::ptrdiff_t>(written);
}

bool KSTFileOutputStream::close()
{
    if (descriptor_ < 0)
        return true;
    const int result = ::close(descriptor_); // not retried on EINTR: the descriptor is gone either way
    descriptor_ = -1;
    return result == 0;
}

} // namespace kits

// Temporary file, complete write, fsync, rename; any failure removes the temporary file.
#include "kits/platform/atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kits {

bool writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, mode_t mode)
{
    std::filesystem::path temporary = file;
    temporary += ".tmp-" + std::to_string(::getpid());
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (descriptor < 0)
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    const bool complete = done == bytes.size() && ::fsync(descriptor) == 0;
    const bool closed = ::close(descriptor) == 0;
    if (!complete || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace kits

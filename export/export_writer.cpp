// Exporter::write: the document goes to a new file beside the destination and is renamed over it
// only once it is complete on disk, so a failed export never leaves a truncated file behind; where
// the folder takes no new files, a writable destination is rewritten in place instead.
#include "export/exporter.h"
#include "foundation/diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace exports {
namespace {

namespace fs = std::filesystem;

foundation::Status ioFailure(int error)
{
    return foundation::Status::failure(foundation::StatusCode::ioError, std::strerror(error));
}

bool writeAll(int descriptor, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(descriptor, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A new file with a name nobody else uses, created with mode 0666 so the kernel applies the umask
// just as for a plain write; -1 with errno set when none could be made.
int createTemporaryFile(const fs::path& folder, const std::string& baseName, fs::path& created)
{
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        created = folder / ("." + baseName + suffix + ".tmp");
        const int descriptor = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    errno = EEXIST;
    return -1;
}

// The file whose contents the export replaces: the destination, or the target of a link there, so
// the link itself stays as the user made it.
fs::path replacedFile(const fs::path& path)
{
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(path, error))) {
        const fs::path target = fs::weakly_canonical(path, error);
        if (!error)
            return target;
    }
    return path;
}

// The destination rewritten through its own name: truncated, written and synced. A reader may see it
// partly written, so this serves only where no new file can be made beside it. When the file
// cannot be opened for writing either, the folder's refusal (`refused`) is the reason given.
foundation::Status writeInPlace(std::string_view text, const fs::path& file, int refused)
{
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return ioFailure(errno == EACCES || errno == EPERM ? refused : errno);
    int error = 0;
    if (::ftruncate(descriptor, 0) != 0 || !writeAll(descriptor, text) || ::fsync(descriptor) != 0)
        error = errno;
    if (::close(descriptor) != 0 && !error)
        error = errno;
    return error ? ioFailure(error) : foundation::Status::success();
}

foundation::Status writeAtomically(std::string_view text, const fs::path& destination)
{
    const fs::path file = replacedFile(destination);
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    struct stat existing {};
    const bool replacesFile = ::stat(file.c_str(), &existing) == 0;
    if (replacesFile && S_ISDIR(existing.st_mode))
        return ioFailure(EISDIR);

    fs::path temporary;
    const int descriptor = createTemporaryFile(folder, file.filename().string(), temporary);
    if (descriptor < 0) {
        const int refused = errno;
        // A folder that takes no new files may still hold a file the user may write.
        if (replacesFile && (refused == EACCES || refused == EPERM))
            return writeInPlace(text, file, refused);
        return ioFailure(refused);
    }
    int error = 0;
    // An existing file keeps its permissions, as it would when written in place.
    if (replacesFile && ::fchmod(descriptor, existing.st_mode & 07777) != 0)
        error = errno;
    if (!error && (!writeAll(descriptor, text) || ::fsync(descriptor) != 0))
        error = errno;
    if (::close(descriptor) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.c_str());
        return ioFailure(error);
    }
    // Make the rename itself durable; the document is already complete if this fails.
    if (const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folderDescriptor >= 0) {
        ::fsync(folderDescriptor);
        ::close(folderDescriptor);
    }
    return foundation::Status::success();
}

} // namespace

foundation::Status Exporter::write(std::string_view text, const std::filesystem::path& path)
{
    foundation::Status status = writeAtomically(text, path);
    if (!status.isOk())
        foundation::diagnostic("ERROR: could not export");
    return status;
}

} // namespace exports

// Directory listing and file attributes through std::filesystem and stat, every error as "none".

#include "kits/analytics/tly_file_utils.h"

#include <sys/stat.h>

namespace kits {

std::set<std::filesystem::path> TLYFileUtils::allFilesInDirectory(const std::filesystem::path& directory)
{
    std::set<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error))
        files.insert(entry->path());
    return files;
}

std::set<std::filesystem::path> TLYFileUtils::filesWithExtension(std::string_view extension,
                                                                 const std::filesystem::path& directory)
{
    std::set<std::filesystem::path> files;
    for (const auto& file : allFilesInDirectory(directory))
        if (pathExtension(file) == extension)
            files.insert(file);
    return files;
}

std::uint64_t TLYFileUtils::fileSizeAtURL(const std::filesystem::path& file)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return 0;
    return static_cast<std::uint64_t>(status.st_size);
}

foundation::Date TLYFileUtils::fileCreatedDateAtURL(const std::filesystem::path& file, foundation::Date fallback)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return fallback;
    using namespace std::chrono;
    return foundation::Date(
        duration_cast<microseconds>(seconds(status.st_mtim.tv_sec) + nanoseconds(status.st_mtim.tv_nsec)));
}

std::string TLYFileUtils::pathExtension(const std::filesystem::path& file)
{
    const std::string extension = file.extension().string();
    return extension.empty() ? extension : extension.substr(1);
}

} // namespace kits

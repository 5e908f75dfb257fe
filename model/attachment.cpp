// Attachments: making and following their bookmarks, the name and icon shown for them, and how a
// project adds files without attaching one twice.
#include "model/attachment.h"

#include "model/file_bookmark.h"
#include "model/project.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

namespace model {

namespace fs = std::filesystem;

namespace {

struct IconKind {
    std::string_view iconKey;
    std::initializer_list<std::string_view> extensions;
};

const std::array<IconKind, 10> iconKinds{{
    {"application-pdf", {"pdf"}},
    {"image-x-generic", {"png", "jpg", "jpeg", "gif", "bmp", "tif", "tiff", "webp", "svg", "heic", "ico"}},
    {"audio-x-generic", {"mp3", "wav", "flac", "ogg", "oga", "m4a", "aac", "opus"}},
    {"video-x-generic", {"mp4", "mkv", "mov", "avi", "webm", "m4v", "ogv"}},
    {"x-office-document", {"doc", "docx", "odt", "rtf", "pages"}},
    {"x-office-spreadsheet", {"xls", "xlsx", "ods", "csv", "numbers"}},
    {"x-office-presentation", {"ppt", "pptx", "odp", "key"}},
    {"package-x-generic", {"zip", "tar", "gz", "tgz", "bz2", "xz", "7z", "rar"}},
    {"text-html", {"html", "htm"}},
    {"text-x-generic", {"txt", "md", "log", "json", "xml", "yaml", "yml", "ini", "conf"}},
}};

// Bookmarks and normalises `path`; nothing (the error printed) when the file cannot be bookmarked.
std::optional<std::pair<fs::path, data::Blob>> bookmarkedPath(const fs::path& path)
{
    auto bookmark = bookmarkData(path);
    if (!bookmark)
        return std::nullopt;
    return std::pair(*normalizedFilePath(path), std::move(*bookmark));
}

} // namespace

std::string fileIconKeyForName(const std::string& fileName)
{
    std::string extension = fs::path(fileName).extension().string();
    if (extension.size() > 1)
        extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& kind : iconKinds) {
        if (std::find(kind.extensions.begin(), kind.extensions.end(), extension) != kind.extensions.end())
            return std::string(kind.iconKey);
    }
    return "application-x-generic";
}

Attachment* Attachment::create(const fs::path& path, data::ObjectContext& context)
{
    auto bookmarked = bookmarkedPath(path);
    if (!bookmarked)
        return nullptr;
    auto* attachment = initInContext<Attachment>(context);
    attachment->setFileBookmark(std::move(bookmarked->second));
    attachment->setOriginalPath(bookmarked->first.string());
    return attachment;
}

std::optional<fs::path> Attachment::fileUrl() const
{
    const auto bookmark = fileBookmark();
    if (!bookmark)
        return std::nullopt;
    return resolver_.resolve(*bookmark);
}

std::optional<fs::path> Attachment::originalFileUrl() const
{
    const auto path = originalPath();
    if (!path || path->empty())
        return std::nullopt;
    return fs::path(*path);
}

std::optional<std::string> Attachment::fileName() const
{
    const auto url = originalFileUrl();
    if (!url)
        return std::nullopt;
    return url->filename().string();
}

std::optional<std::string> Attachment::fileIconKey() const
{
    const auto name = fileName();
    if (!name)
        return std::nullopt;
    return fileIconKeyForName(*name);
}

bool Attachment::relocate(const fs::path& path)
{
    auto bookmarked = bookmarkedPath(path);
    if (!bookmarked)
        return false;
    setFileBookmark(std::move(bookmarked->second));
    setOriginalPath(bookmarked->first.string());
    return true;
}

bool Project::attachmentMatching(const fs::path& path) const
{
    const auto wanted = normalizedFilePath(path);
    const auto identity = wanted ? fileIdentity(*wanted) : std::nullopt;
    if (!identity)
        return false; // only existing files are resolutions
    for (const Attachment* attachment : attachments()) {
        const auto bookmark = attachment->fileBookmark();
        // Only a candidate may cost a resolution, and with it perhaps a search.
        if (bookmark && bookmarkMayResolveTo(*bookmark, *wanted, *identity) && attachment->fileUrl() == wanted)
            return true;
    }
    return false;
}

void Project::addAttachment(const fs::path& path)
{
    if (!context() || attachmentMatching(path))
        return;
    if (Attachment* attachment = Attachment::create(path, *context()))
        attachment->setProject(this);
}

} // namespace model

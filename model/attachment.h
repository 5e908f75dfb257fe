// A file attached to a project: an opaque bookmark that finds the file again, and its path when attached.
#pragma once

#include "model/file_bookmark.h"
#include "model/managed_object.h"

#include <filesystem>
#include <optional>
#include <string>

namespace model {

class Project;

class Attachment : public ManagedObject {
public:
    static constexpr const char* entityName = "Attachment";
    enum Attribute { fileBookmarkKey, originalPathKey };
    enum Relationship { projectKey };

    // Inserts an attachment for the file at `path`; nothing is inserted (nullptr) when no bookmark
    // of the file can be made.
    static Attachment* create(const std::filesystem::path& path, data::ObjectContext& context);

    std::optional<data::Blob> fileBookmark() const { return optionalValue<data::Blob>(fileBookmarkKey); }
    void setFileBookmark(std::optional<data::Blob> bookmark) { setOptionalValue(fileBookmarkKey, bookmark); }
    std::optional<std::string> originalPath() const { return optionalValue<std::string>(originalPathKey); }
    void setOriginalPath(std::optional<std::string> path) { setOptionalValue(originalPathKey, path); }

    // Where the file is now; nothing when it cannot be found. A found path is remembered while it
    // holds the file, and a failed search is neither repeated nor reported again for a while (see
    // BookmarkResolver), so reading this often stays cheap.
    std::optional<std::filesystem::path> fileUrl() const;
    // Where the file was when attached or last relocated; name and icon keep showing it after a move.
    std::optional<std::filesystem::path> originalFileUrl() const;
    std::optional<std::string> fileName() const;
    // A freedesktop icon name for the kind of file, decided by the extension of fileName().
    std::optional<std::string> fileIconKey() const;

    // Points the attachment at the file at `path`; returns false and changes nothing when no
    // bookmark of the file can be made.
    bool relocate(const std::filesystem::path& path);

    Project* project() const;
    void setProject(Project* project);

private:
    mutable BookmarkResolver resolver_;
};

// The icon name for files named like `fileName`: "image-x-generic", "application-pdf", ...,
// "application-x-generic" when the extension says nothing.
std::string fileIconKeyForName(const std::string& fileName);

} // namespace model

// A file attached to a project: an opaque bookmark that finds the file again, and its path when attached.
#pragma once

#include "model/managed_object.h"

#include <optional>
#include <string>

namespace model {

class Project;

class Attachment : public ManagedObject {
public:
    static constexpr const char* entityName = "Attachment";
    enum Attribute { fileBookmarkKey, originalPathKey };
    enum Relationship { projectKey };

    std::optional<data::Blob> fileBookmark() const { return optionalValue<data::Blob>(fileBookmarkKey); }
    void setFileBookmark(std::optional<data::Blob> bookmark) { setOptionalValue(fileBookmarkKey, bookmark); }
    std::optional<std::string> originalPath() const { return optionalValue<std::string>(originalPathKey); }
    void setOriginalPath(std::optional<std::string> path) { setOptionalValue(originalPathKey, path); }

    Project* project() const;
    void setProject(Project* project);
};

} // namespace model

// The outline's memory of which projects are expanded: a list of project URIs kept in the defaults
// under one key, written the moment a project is expanded or collapsed. Without a list (a store from
// elsewhere, a first start) the projects' own stored flags decide.
#pragma once

#include "foundation/status.h"

#include <string>
#include <vector>

namespace data {
class ObjectContext;
}
namespace foundation {
class DefaultsStore;
}
namespace model {
class Project;
}

namespace mainwindow {

class ExpandedProjects {
public:
    // `context` may be null: then nothing is read from the store's flags.
    ExpandedProjects(foundation::DefaultsStore& defaults, data::ObjectContext* context, std::string key)
        : defaults_(defaults), context_(context), key_(std::move(key))
    {}

    // The URIs of the expanded projects, read on first use. Entries of deleted projects or of another
    // store match no listed project and do nothing.
    const std::vector<std::string>& uris();
    // Adds or removes the project and writes the list when it changed; a failed write is printed
    // and answered (the list is kept in memory and written with the next change).
    foundation::Status remember(const model::Project& project, bool expanded);

private:
    void load();

    foundation::DefaultsStore& defaults_;
    data::ObjectContext* context_;
    std::string key_;
    std::vector<std::string> uris_;
    bool loaded_ = false;
};

} // namespace mainwindow

// Reading and writing the remembered expansion of the outline's projects.
#include "mainwindow/expanded_projects.h"

#include "model/fetch_helpers.h"
#include "model/project.h"

#include "foundation/defaults_store.h"
#include "foundation/diagnostics.h"

#include <algorithm>

namespace mainwindow {

const std::vector<std::string>& ExpandedProjects::uris()
{
    load();
    return uris_;
}

void ExpandedProjects::load()
{
    if (loaded_ || !context_)
        return;
    loaded_ = true;
    // The list is written the moment a project is expanded or collapsed, the store's flag only with
    // the next save, so the list is never the older of the two.
    if (auto stored = defaults_.stringArray(key_)) {
        uris_ = std::move(*stored);
        return;
    }
    for (const model::Project* project : model::fetchAll<model::Project>(*context_))
        if (project->expanded())
            uris_.push_back(project->uriRepresentation());
}

foundation::Status ExpandedProjects::remember(const model::Project& project, bool expanded)
{
    load();
    const std::string uri = project.uriRepresentation();
    const auto found = std::find(uris_.begin(), uris_.end(), uri);
    if (expanded == (found != uris_.end()))
        return foundation::Status::success();
    if (expanded)
        uris_.push_back(uri);
    else
        uris_.erase(found);
    foundation::DefaultsArray values(uris_.begin(), uris_.end());
    foundation::Status status = defaults_.set(key_, std::move(values));
    if (!status.isOk())
        foundation::diagnostic("Could not write the expanded projects to " + defaults_.file().string() + ": "
                               + status.message());
    return status;
}

} // namespace mainwindow

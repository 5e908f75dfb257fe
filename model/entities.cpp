// Relationship accessors and insertion defaults of the entity classes.
#include "model/attachment.h"
#include "model/client.h"
#include "model/fetch_helpers.h"
#include "model/pause_entry.h"
#include "model/preferences.h"
#include "model/project.h"
#include "model/timer.h"

#include <algorithm>

namespace model {

// clang-format off
Project* Timer::project() const { return relatedObject<Project>(projectKey); }
void Timer::setProject(Project* project) { setToOne(projectKey, project); }
std::vector<PauseEntry*> Timer::pauseEntries() const { return relatedObjects<PauseEntry>(pauseEntriesKey); }

Timer* PauseEntry::timer() const { return relatedObject<Timer>(timerKey); }
void PauseEntry::setTimer(Timer* timer) { setToOne(timerKey, timer); }

std::vector<Project*> Client::projects() const { return relatedObjects<Project>(projectsKey); }

Project* Attachment::project() const { return relatedObject<Project>(projectKey); }
void Attachment::setProject(Project* project) { setToOne(projectKey, project); }

Client* Project::client() const { return relatedObject<Client>(clientKey); }
void Project::setClient(Client* client) { setToOne(clientKey, client); }
std::vector<Timer*> Project::timers() const { return relatedObjects<Timer>(timersKey); }
std::vector<Attachment*> Project::attachments() const { return relatedObjects<Attachment>(attachmentsKey); }
// clang-format on

void Project::awakeFromInsert()
{
    // Counted without this project: the new one goes last, the first one gets 0.
    setSortOrder(highestSortOrder<Project>(*context(), this) + 1);
    setName(std::string("New project"));
}

void Client::awakeFromInsert()
{
    setSortOrder(highestSortOrder<Client>(*context(), this) + 1);
    setName(std::string("New Client"));
    // Copied, not linked: a later change of the preferences leaves existing clients alone.
    const Preferences& preferences = Preferences::standard();
    setHourlyRate(preferences.defaultProjectHourlyRate());
    setCurrency(preferences.defaultProjectHourlyRateCurrency());
}

Project* projectWithSortOrder(std::int64_t sortOrder, const data::ObjectContext& context)
{
    Project* found = nullptr;
    for (data::Object* object : context.objects(*context.model().entity(Project::entityName))) {
        auto* project = static_cast<Project*>(object);
        if (project->sortOrder() == sortOrder && (!found || project->primaryKey() < found->primaryKey()))
            found = project;
    }
    return found;
}

void moveProject(data::ObjectContext& context, Project& project, const Project* target, const Project* lastListed)
{
    std::vector<Project*> projects = fetchAll<Project>(context);
    const auto position = [&projects](const Project* wanted) {
        return static_cast<std::size_t>(std::find(projects.begin(), projects.end(), wanted) - projects.begin());
    };
    const std::size_t source = position(&project);
    if (source == projects.size())
        return;
    std::size_t destination = projects.size();
    if (target) {
        destination = position(target);
        if (destination == projects.size())
            return;
    } else if (lastListed && position(lastListed) < projects.size()) {
        destination = position(lastListed) + 1;
    }
    // The destination counts the moved project; once it is taken out, everything after it is one up.
    if (source < destination)
        --destination;
    projects.erase(projects.begin() + static_cast<std::ptrdiff_t>(source));
    projects.insert(projects.begin() + static_cast<std::ptrdiff_t>(destination), &project);
    std::int64_t order = 0;
    for (Project* each : projects) {
        if (each->sortOrder() != order)
            each->setSortOrder(order);
        ++order;
    }
}

} // namespace model

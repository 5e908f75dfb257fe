// The five entities of the store with their delete rules: a project takes its timers and
// attachments with it, a timer its pauses; a client's projects stay without a client.
#include "model/data_model.h"

#include "model/attachment.h"
#include "model/client.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"

namespace model {
namespace {

using data::AttributeType;
using data::DeleteRule;
using data::EntityDescription;

template <typename T>
data::ObjectClass factory()
{
    return data::ObjectClass::of<T>();
}

constexpr std::monostate absent{};

} // namespace

const data::ManagedObjectModel& managedObjectModel()
{
    // Attribute order must match each class's Attribute enumeration.
    static const data::ManagedObjectModel model({
        EntityDescription("Timer",
                          {{"start", AttributeType::date, absent},
                           {"end", AttributeType::date, absent},
                           {"notes", AttributeType::string, absent},
                           {"type", AttributeType::integer, std::int64_t{0}},
                           {"fixedDuration", AttributeType::integer, absent},
                           {"fixedCost", AttributeType::decimal, absent},
                           {"customHourlyRate", AttributeType::decimal, absent},
                           {"billed", AttributeType::boolean, false},
                           {"billedHourlyRate", AttributeType::decimal, absent}},
                          {{"project", "Project", false, "timers", DeleteRule::nullify},
                           {"pauseEntries", "PauseEntry", true, "timer", DeleteRule::cascade}},
                          factory<Timer>()),
        EntityDescription("Project",
                          {{"name", AttributeType::string, absent},
                           {"notes", AttributeType::string, absent},
                           {"sortOrder", AttributeType::integer, std::int64_t{0}},
                           {"archived", AttributeType::boolean, false},
                           {"expanded", AttributeType::boolean, false},
                           {"customHourlyRate", AttributeType::decimal, absent},
                           {"customCurrency", AttributeType::string, absent}},
                          {{"client", "Client", false, "projects", DeleteRule::nullify},
                           {"timers", "Timer", true, "project", DeleteRule::cascade},
                           {"attachments", "Attachment", true, "project", DeleteRule::cascade}},
                          factory<Project>()),
        EntityDescription("Client",
                          {{"name", AttributeType::string, absent},
                           {"hourlyRate", AttributeType::decimal, absent},
                           {"currency", AttributeType::string, absent},
                           {"sortOrder", AttributeType::integer, std::int64_t{0}}},
                          {{"projects", "Project", true, "client", DeleteRule::nullify}}, factory<Client>()),
        EntityDescription("PauseEntry", {{"start", AttributeType::date, absent}, {"end", AttributeType::date, absent}},
                          {{"timer", "Timer", false, "pauseEntries", DeleteRule::nullify}}, factory<PauseEntry>()),
        EntityDescription(
            "Attachment",
            {{"fileBookmark", AttributeType::binary, absent}, {"originalPath", AttributeType::string, absent}},
            {{"project", "Project", false, "attachments", DeleteRule::nullify}}, factory<Attachment>()),
    });
    return model;
}

data::SqliteStore::Options storeOptions()
{
    data::SqliteStore::Options options;
    options.schemaVersion = 1;
    options.journalMode = "DELETE";
    return options;
}

} // namespace model

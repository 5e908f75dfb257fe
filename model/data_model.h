// The schema of the store "Projects.horavine": the five entities with their stored attributes,
// relationships and delete rules, and the schema version with its upgrade steps.
#pragma once

#include "data/entity_description.h"
#include "data/sqlite_store.h"

namespace model {

const data::ManagedObjectModel& managedObjectModel();

// The schema version this program writes and the steps that bring older stores up to it.
data::SqliteStore::Options storeOptions();

} // namespace model

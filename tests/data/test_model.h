// A small schema for the object layer's tests: folders own notes (cascade), notes own tags
// (cascade), and a folder may have an owner person (nullify on both sides).
#pragma once

#include "data/object_context.h"
#include "data/sqlite_store.h"

#include "support/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace testmodel {

inline const data::ManagedObjectModel& model()
{
    using data::AttributeType;
    using data::DeleteRule;
    static const data::ManagedObjectModel instance({
        data::EntityDescription("Person", {{"name", AttributeType::string, std::monostate{}}},
                                {{"folders", "Folder", true, "person", DeleteRule::nullify}}, {}),
        data::EntityDescription("Folder",
                                {{"name", AttributeType::string, std::string("New folder")},
                                 {"order", AttributeType::integer, std::int64_t{0}},
                                 {"open", AttributeType::boolean, false}},
                                {{"notes", "Note", true, "folder", DeleteRule::cascade},
                                 {"person", "Person", false, "folders", DeleteRule::nullify}},
                                {}),
        data::EntityDescription("Note",
                                {{"text", AttributeType::string, std::monostate{}},
                                 {"when", AttributeType::date, std::monostate{}},
                                 {"amount", AttributeType::decimal, std::monostate{}},
                                 {"weight", AttributeType::real, std::monostate{}},
                                 {"bytes", AttributeType::binary, std::monostate{}}},
                                {{"folder", "Folder", false, "notes", DeleteRule::nullify},
                                 {"tags", "Tag", true, "note", DeleteRule::cascade}},
                                {}),
        data::EntityDescription("Tag", {{"label", AttributeType::string, std::monostate{}}},
                                {{"note", "Note", false, "tags", DeleteRule::nullify}}, {}),
    });
    return instance;
}

inline const data::EntityDescription& entity(const char* name)
{
    return *model().entity(name);
}

using TempDir = testsupport::TempFolder;

inline std::unique_ptr<data::SqliteStore>
openStore(const std::filesystem::path& path, data::StoreError* error = nullptr, data::SqliteStore::Options options = {})
{
    return data::SqliteStore::open(path, model(), options, error);
}

// A context over a store file, loaded; fails the test when the store does not open.
inline std::unique_ptr<data::ObjectContext> openContext(const std::filesystem::path& path,
                                                        foundation::NotificationCenter& center)
{
    data::StoreError error{};
    auto store = openStore(path, &error);
    EXPECT_TRUE(store) << error.message;
    auto context = std::make_unique<data::ObjectContext>(model(), center);
    std::string message;
    EXPECT_TRUE(context->attachStore(std::move(store), message)) << message;
    return context;
}

} // namespace testmodel

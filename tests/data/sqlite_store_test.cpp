// The store file: persistence across contexts, files it must not touch, locking, migration, saves.
#include "test_model.h"

#include "support/damaged_store.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <stdexcept>

using data::Object;
using data::ObjectContext;
using data::SqliteStore;
using data::StoreError;
using foundation::NotificationCenter;
using testmodel::entity;
using testmodel::model;
using testmodel::TempDir;

namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string pragma(const std::filesystem::path& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

// An object of the test model that throws once a number of them have been made: a stand-in for
// anything that fails while a load makes objects (memory running out, say).
struct MadeTooMany : std::runtime_error {
    MadeTooMany() : std::runtime_error("made too many") {}
};
template <int which>
struct FailingObject : data::Object {
    static inline std::atomic<int> madeBeforeFailing = -1; // negative: never fails
    FailingObject()
    {
        if (madeBeforeFailing >= 0 && madeBeforeFailing-- == 0)
            throw MadeTooMany();
    }
};
using FailingNote = FailingObject<0>;
using FailingTag = FailingObject<1>;

// The test model with notes and tags of those classes.
const data::ManagedObjectModel& failingModel()
{
    static const data::ManagedObjectModel instance([] {
        std::vector<data::EntityDescription> entities = model().entities();
        for (auto& description : entities) {
            if (description.name() == "Note" || description.name() == "Tag")
                description =
                    data::EntityDescription(description.name(), description.attributes(), description.relationships(),
                                            description.name() == "Note" ? data::ObjectClass::of<FailingNote>()
                                                                         : data::ObjectClass::of<FailingTag>());
        }
        return entities;
    }());
    return instance;
}

} // namespace

TEST(SqliteStore, EverythingSavedIsReadBackByANewContext)
{
    TempDir dir;
    const auto path = dir.path() / "sub" / "Store.db";
    NotificationCenter center;
    std::string noteUri, folderUri;
    const auto when = foundation::Date(std::chrono::microseconds(1'700'000'000'123'456));
    {
        auto context = testmodel::openContext(path, center);
        Object* person = context->insertObject(entity("Person"));
        person->setValue("name", std::string("Ann \"quoted\" ü"));
        Object* folder = context->insertObject(entity("Folder"));
        folder->setToOne("person", person);
        folder->setValue("open", true);
        Object* note = context->insertObject(entity("Note"));
        note->setToOne("folder", folder);
        note->setValue("when", when);
        note->setValue("amount", *foundation::Decimal::parse("12.345"));
        note->setValue("weight", 0.25);
        note->setValue("bytes", data::Blob{0, 1, 255});
        noteUri = note->uriRepresentation();
        folderUri = folder->uriRepresentation();
        const foundation::Status saved = context->save();
        ASSERT_TRUE(saved.isOk()) << saved.message();
    }
    EXPECT_EQ(pragma(path, "PRAGMA journal_mode"), "delete");
    auto context = testmodel::openContext(path, center);
    Object* note = context->objectWithURI(noteUri);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(std::get<foundation::Date>(note->value("when")), when);
    EXPECT_EQ(std::get<foundation::Decimal>(note->value("amount")).toString(), "12.345");
    EXPECT_EQ(std::get<double>(note->value("weight")), 0.25);
    EXPECT_EQ(std::get<data::Blob>(note->value("bytes")), (data::Blob{0, 1, 255}));
    EXPECT_TRUE(data::isAbsent(note->value("text")));
    Object* folder = note->toOne("folder");
    ASSERT_EQ(folder, context->objectWithURI(folderUri));
    EXPECT_EQ(std::get<bool>(folder->value("open")), true);
    EXPECT_EQ(std::get<std::string>(folder->toOne("person")->value("name")), "Ann \"quoted\" ü");
    EXPECT_EQ(folder->toOne("person")->toMany("folders").size(), 1u);
}

// A table of thousands of rows loads on a thread of its own beside the others: its objects, values
// and links to objects of the other tables come out as from one thread, and keys go on after them.
TEST(SqliteStore, ALargeTableLoadedBesideTheOthersLinksAcrossThem)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    constexpr int notes = 5000, tagsPerNote = 2; // the tags, the largest table, load apart
    {
        auto context = testmodel::openContext(path, center);
        Object* folder = context->insertObject(entity("Folder"));
        for (int n = 0; n < notes; ++n) {
            Object* note = context->insertObject(entity("Note"));
            note->setToOne("folder", folder);
            note->setValue("text", "note " + std::to_string(n));
            note->setValue("amount", foundation::Decimal(n));
            for (int t = 0; t < tagsPerNote; ++t) {
                Object* tag = context->insertObject(entity("Tag"));
                tag->setToOne("note", note);
                tag->setValue("label", "tag " + std::to_string(n) + "/" + std::to_string(t));
            }
        }
        ASSERT_TRUE(context->save().isOk());
    }
    auto context = testmodel::openContext(path, center);
    ASSERT_EQ(context->objects(entity("Note")).size(), static_cast<std::size_t>(notes));
    ASSERT_EQ(context->objects(entity("Tag")).size(), static_cast<std::size_t>(notes * tagsPerNote));
    Object* folder = context->objects(entity("Folder")).at(0);
    EXPECT_EQ(folder->toMany("notes").size(), static_cast<std::size_t>(notes));
    for (std::int64_t key : {1, 2500, 5000}) {
        Object* note = context->objectWithPrimaryKey(entity("Note"), key);
        ASSERT_NE(note, nullptr);
        const std::string n = std::to_string(key - 1);
        EXPECT_EQ(std::get<std::string>(note->value("text")), "note " + n);
        EXPECT_EQ(std::get<foundation::Decimal>(note->value("amount")).toString(), n);
        const auto& tags = note->toMany("tags");
        ASSERT_EQ(tags.size(), static_cast<std::size_t>(tagsPerNote));
        for (Object* tag : tags) {
            EXPECT_EQ(tag->toOne("note"), note);
            EXPECT_EQ(std::get<std::string>(tag->value("label")).rfind("tag " + n + "/", 0), 0u);
        }
    }
    // New objects take the keys after the loaded ones and are saved beside them.
    Object* tag = context->insertObject(entity("Tag"));
    EXPECT_EQ(tag->primaryKey(), notes * tagsPerNote + 1);
    tag->setToOne("note", context->objectWithPrimaryKey(entity("Note"), 7));
    context->deleteObject(context->objectWithPrimaryKey(entity("Tag"), 1));
    ASSERT_TRUE(context->save().isOk());
    context.reset();
    auto reopened = testmodel::openContext(path, center);
    EXPECT_EQ(reopened->objects(entity("Tag")).size(), static_cast<std::size_t>(notes * tagsPerNote));
    EXPECT_EQ(reopened->objectWithPrimaryKey(entity("Tag"), 1), nullptr);
    EXPECT_EQ(reopened->objectWithPrimaryKey(entity("Note"), 7)->toMany("tags").size(), 3u);
}

// A table that cannot be read part way fails the load the same way whether it loads on a thread of
// its own (the largest) or on the calling one: the store's message, and nothing loaded stays.
TEST(SqliteStore, AnUnreadableLargeTableFailsTheLoadAsAnyOtherDoes)
{
    TempDir dir;
    NotificationCenter center;
    const auto check = [&](const char* name, int tagsPerNote) {
        SCOPED_TRACE(tagsPerNote);
        const auto path = dir.path() / name;
        {
            auto context = testmodel::openContext(path, center);
            Object* folder = context->insertObject(entity("Folder"));
            for (int n = 0; n < 3000; ++n) {
                Object* note = context->insertObject(entity("Note"));
                note->setToOne("folder", folder);
                for (int t = 0; t < tagsPerNote; ++t)
                    context->insertObject(entity("Tag"))->setToOne("note", note);
            }
            ASSERT_TRUE(context->save().isOk());
        }
        // A leaf page in the middle of the tags, so some rows load before the read fails.
        const int pageSize = std::stoi(pragma(path, "PRAGMA page_size"));
        const int page = std::stoi(pragma(path, "SELECT pageno FROM dbstat WHERE name = 'Tag' AND pagetype = 'leaf' "
                                                "ORDER BY pageno LIMIT 1 OFFSET (SELECT count(*) / 2 FROM dbstat "
                                                "WHERE name = 'Tag' AND pagetype = 'leaf')"));
        std::string bytes = readFile(path);
        bytes.replace(static_cast<std::size_t>(page - 1) * pageSize, pageSize, pageSize, '\xff');
        writeFile(path, bytes);
        auto store = testmodel::openStore(path);
        ASSERT_TRUE(store);
        ObjectContext context(model(), center);
        std::string error;
        EXPECT_FALSE(context.attachStore(std::move(store), error));
        EXPECT_EQ(error, "The store " + path.string() + " cannot be read: database disk image is malformed");
        for (const char* entityName : {"Person", "Folder", "Note", "Tag"})
            EXPECT_TRUE(context.objects(entity(entityName)).empty()) << entityName;
    };
    check("Apart.db", 3);    // 9,000 tags: the largest table, loaded on a thread of its own
    check("Together.db", 1); // 3,000 tags, below the size that loads apart
}

// An exception while making objects, on the thread that loads the largest table apart or on the
// calling one meanwhile, reaches the caller once that thread is joined; every object made on either
// thread is destroyed in memory still held (the sanitizer build sees any use after free), none is
// found by key afterwards, and the context takes the store once nothing fails.
TEST(SqliteStore, AnExceptionOnEitherLoadingThreadReachesTheCallerAndLeavesNothing)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    constexpr int notes = 5000, tagsPerNote = 2; // the tags, the largest table, load apart
    {
        auto context = testmodel::openContext(path, center);
        Object* folder = context->insertObject(entity("Folder"));
        for (int n = 0; n < notes; ++n) {
            Object* note = context->insertObject(entity("Note"));
            note->setToOne("folder", folder);
            note->setValue("text", "note " + std::to_string(n));
            for (int t = 0; t < tagsPerNote; ++t)
                context->insertObject(entity("Tag"))->setToOne("note", note);
        }
        ASSERT_TRUE(context->save().isOk());
    }
    const auto& failing = failingModel();
    const auto& notesEntity = *failing.entity("Note");
    const auto& tagsEntity = *failing.entity("Tag");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "tags" : "notes");
        auto* madeBeforeFailing = round == 0 ? &FailingTag::madeBeforeFailing : &FailingNote::madeBeforeFailing;
        ObjectContext context(failing, center);
        *madeBeforeFailing = 3000;
        std::string error;
        EXPECT_THROW(context.attachStore(SqliteStore::open(path, failing, {}, nullptr), error), MadeTooMany);
        *madeBeforeFailing = -1;
        for (const auto& description : failing.entities())
            EXPECT_TRUE(context.objects(description).empty()) << description.name();
        EXPECT_EQ(context.objectWithPrimaryKey(notesEntity, 1), nullptr);
        EXPECT_EQ(context.objectWithPrimaryKey(tagsEntity, 1), nullptr);

        // The failed load left no read open on the file, so the store is written again at once.
        SqliteStore::Options quick;
        quick.busyTimeoutMilliseconds = 100;
        ASSERT_TRUE(context.attachStore(SqliteStore::open(path, failing, quick, nullptr), error)) << error;
        EXPECT_EQ(context.objects(tagsEntity).size(), static_cast<std::size_t>(notes * tagsPerNote));
        Object* note = context.objectWithPrimaryKey(notesEntity, 1);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(std::get<std::string>(note->value("text")), "note 0");
        EXPECT_EQ(context.objectWithPrimaryKey(tagsEntity, 1)->toOne("note"), note);
        note->setValue("weight", round + 1.0);
        const auto saved = context.save();
        EXPECT_TRUE(saved.isOk()) << saved.message();
    }
}

TEST(SqliteStore, DeletionsAndKeysSurviveReopening)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    std::string deletedUri;
    {
        auto context = testmodel::openContext(path, center);
        Object* folder = context->insertObject(entity("Folder"));
        for (int i = 0; i < 3; ++i)
            context->insertObject(entity("Note"))->setToOne("folder", folder);
        ASSERT_TRUE(context->save().isOk());
        Object* last = context->insertObject(entity("Folder"));
        deletedUri = last->uriRepresentation();
        ASSERT_TRUE(context->save().isOk());
        context->deleteObject(last);
        context->deleteObject(folder);
        ASSERT_TRUE(context->save().isOk());
    }
    auto context = testmodel::openContext(path, center);
    EXPECT_TRUE(context->fetch(entity("Folder")).empty());
    EXPECT_TRUE(context->fetch(entity("Note")).empty());
    // Keys are never reused, so an old URI cannot come to name a new object.
    Object* fresh = context->insertObject(entity("Folder"));
    EXPECT_NE(fresh->uriRepresentation(), deletedUri);
    EXPECT_EQ(context->objectWithURI(deletedUri), nullptr);
}

TEST(SqliteStore, FilesItDoesNotRecogniseStayByteForByte)
{
    TempDir dir;
    StoreError error{};

    const auto garbage = dir.path() / "garbage.db";
    const std::string junk(4096, '\x5a');
    writeFile(garbage, junk);
    EXPECT_EQ(testmodel::openStore(garbage, &error), nullptr);
    EXPECT_EQ(error.code, StoreError::Code::notADatabase);
    EXPECT_NE(error.message.find("cannot be opened"), std::string::npos);
    EXPECT_EQ(readFile(garbage), junk);
    // Nothing is written beside it either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);

    // A store of a newer schema version.
    const auto newer = dir.path() / "newer.db";
    {
        NotificationCenter center;
        auto context = testmodel::openContext(newer, center);
    }
    sqlite3* db = nullptr;
    sqlite3_open(newer.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string before = readFile(newer);
    EXPECT_EQ(testmodel::openStore(newer, &error), nullptr);
    EXPECT_EQ(error.code, StoreError::Code::newerVersion);
    EXPECT_EQ(readFile(newer), before);

    // Another program's SQLite database.
    const auto foreign = dir.path() / "foreign.db";
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string foreignBytes = readFile(foreign);
    EXPECT_EQ(testmodel::openStore(foreign, &error), nullptr);
    EXPECT_EQ(error.code, StoreError::Code::foreignSchema);
    EXPECT_EQ(readFile(foreign), foreignBytes);
}

TEST(SqliteStore, ASecondOpenerIsRefusedUntilTheFirstCloses)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    auto first = testmodel::openStore(path);
    ASSERT_NE(first, nullptr);
    StoreError error{};
    EXPECT_EQ(testmodel::openStore(path, &error), nullptr);
    EXPECT_EQ(error.code, StoreError::Code::locked);
    first.reset();
    EXPECT_NE(testmodel::openStore(path), nullptr);
}

TEST(SqliteStore, OlderSchemaIsMigratedAfterABackupCopy)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    {
        auto context = testmodel::openContext(path, center);
        context->insertObject(entity("Folder"))->setValue("name", std::string("kept"));
        ASSERT_TRUE(context->save().isOk());
    }
    const std::string versionOne = readFile(path);

    // Version 2 adds nothing the model reads; the step marks the file so the test can see it ran.
    SqliteStore::Options options;
    options.schemaVersion = 2;
    options.migrations.push_back(
        {2, [](sqlite3* db, std::string& problem) {
             char* message = nullptr;
             const bool ok = sqlite3_exec(db, "CREATE TABLE upgraded(x)", nullptr, nullptr, &message) == SQLITE_OK;
             if (!ok)
                 problem = message;
             sqlite3_free(message);
             return ok;
         }});
    StoreError error{};
    auto store = testmodel::openStore(path, &error, options);
    ASSERT_NE(store, nullptr) << error.message;
    store.reset();
    EXPECT_EQ(pragma(path, "PRAGMA user_version"), "2");
    EXPECT_EQ(pragma(path, "SELECT count(*) FROM upgraded"), "0");
    EXPECT_EQ(readFile(dir.path() / "Store.db.v1.backup"), versionOne);

    // A failing step leaves the file at its old version.
    options.schemaVersion = 3;
    options.migrations.push_back({3, [](sqlite3*, std::string& problem) {
                                      problem = "step failed";
                                      return false;
                                  }});
    EXPECT_EQ(testmodel::openStore(path, &error, options), nullptr);
    EXPECT_EQ(error.code, StoreError::Code::migrationFailed);
    EXPECT_EQ(pragma(path, "PRAGMA user_version"), "2");
}

TEST(SqliteStore, FailedSaveKeepsTheChangesForTheNextSave)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    auto context = testmodel::openContext(path, center);
    Object* folder = context->insertObject(entity("Folder"));
    folder->setValue("name", std::string("precious"));

    // Another connection holds the write lock, so the save cannot commit.
    sqlite3* blocker = nullptr;
    sqlite3_open(path.c_str(), &blocker);
    ASSERT_EQ(sqlite3_exec(blocker, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const foundation::Status blocked = context->save();
    EXPECT_EQ(blocked.code(), foundation::StatusCode::unavailable);
    EXPECT_FALSE(blocked.message().empty());
    EXPECT_TRUE(context->hasUnsavedChanges());
    sqlite3_exec(blocker, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(blocker);

    const foundation::Status saved = context->save();
    EXPECT_TRUE(saved.isOk()) << saved.message();
    EXPECT_FALSE(context->hasUnsavedChanges());
    EXPECT_EQ(pragma(path, "SELECT name FROM Folder"), "precious");
}

TEST(SqliteStore, UnreadableValuesAndDanglingReferencesLoadAsEmpty)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    {
        auto context = testmodel::openContext(path, center);
        Object* note = context->insertObject(entity("Note"));
        note->setToOne("folder", context->insertObject(entity("Folder")));
        ASSERT_TRUE(context->save().isOk());
    }
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "UPDATE Note SET \"when\"='yesterday', amount='12,5', folder=999", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    auto context = testmodel::openContext(path, center);
    auto notes = context->fetch(entity("Note"));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(data::isAbsent(notes[0]->value("when")));
    EXPECT_TRUE(data::isAbsent(notes[0]->value("amount")));
    EXPECT_EQ(notes[0]->toOne("folder"), nullptr);
    // Told to the caller, which tells the user.
    EXPECT_EQ(context->loadReport().unreadableValues, 2u);
    EXPECT_EQ(context->loadReport().danglingReferences, 1u);
    // The file itself is sound.
    EXPECT_EQ(context->store()->quickCheck(), std::nullopt);
}

TEST(SqliteStore, TheQuickCheckFindsAFlippedKeyThatEveryRowStillReadsAround)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    {
        auto context = testmodel::openContext(path, center);
        for (const char* name : {"Ann", "Bob", "Cy", "Di"})
            context->insertObject(entity("Person"))->setValue("name", std::string(name));
        ASSERT_TRUE(context->save().isOk());
    }
    ASSERT_TRUE(testsupport::flipKeyBitOfSecondRow(path, "Person"));
    const std::string damaged = readFile(path);
    auto context = testmodel::openContext(path, center);
    const std::optional<std::string> problem = context->store()->quickCheck();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("out of order"), std::string::npos) << *problem;
    EXPECT_EQ(context->fetch(entity("Person")).size(), 4u);
    EXPECT_EQ(readFile(path), damaged) << "the check wrote to the file";
}

TEST(SqliteStore, ACopyNeverTakesTheNameOfAnExistingFileUnlessAskedTo)
{
    TempDir dir;
    NotificationCenter center;
    auto context = testmodel::openContext(dir.path() / "Store.db", center);
    context->insertObject(entity("Person"))->setValue("name", std::string("Ann"));
    const auto target = dir.path() / "Taken.db";
    writeFile(target, "somebody else's file");
    const foundation::Status refused = context->writeCopy(target, false);
    EXPECT_EQ(refused.code(), foundation::StatusCode::ioError);
    EXPECT_NE(refused.message().find("took its name"), std::string::npos) << refused.message();
    EXPECT_EQ(readFile(target), "somebody else's file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file was left";

    const foundation::Status replaced = context->writeCopy(target, true);
    ASSERT_TRUE(replaced.isOk()) << replaced.message();
    EXPECT_EQ(pragma(target, "SELECT name FROM Person"), "Ann");
    EXPECT_EQ(pragma(target, "SELECT value FROM horavine_metadata WHERE key='uuid'"), context->storeIdentifier());
}

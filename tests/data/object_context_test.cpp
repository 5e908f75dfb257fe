// Objects, relationships, delete rules, change notices, fetches and URIs of the in-memory context.
#include "test_model.h"

#include <algorithm>

using data::ChangeSet;
using data::Object;
using data::ObjectContext;
using data::UndoManager;
using data::Value;
using foundation::Notification;
using foundation::NotificationCenter;
using testmodel::entity;
using testmodel::model;
using testmodel::TempDir;

namespace {

std::string text(const Object* object, const char* key)
{
    const data::Value value = object->value(key);
    const auto* stored = std::get_if<std::string>(&value);
    return stored ? *stored : "<absent>";
}

// Collects every change notice a context posts.
struct NoticeRecorder {
    explicit NoticeRecorder(NotificationCenter& center)
        : token(center.addObserver(data::ObjectsDidChangeNotification, nullptr, [this](const Notification& n) {
              notices.push_back(**n.info<std::shared_ptr<const ChangeSet>>("changes"));
          }))
    {}
    std::vector<ChangeSet> notices;
    foundation::ObserverToken token;
};

bool contains(const std::vector<Object*>& list, const Object* object)
{
    return std::find(list.begin(), list.end(), object) != list.end();
}

} // namespace

TEST(ObjectContext, InsertGivesInitialValuesAndDistinctKeys)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* first = context.insertObject(entity("Folder"));
    Object* second = context.insertObject(entity("Folder"));
    EXPECT_EQ(text(first, "name"), "New folder");
    EXPECT_EQ(std::get<std::int64_t>(first->value("order")), 0);
    EXPECT_EQ(std::get<bool>(first->value("open")), false);
    EXPECT_NE(first->primaryKey(), second->primaryKey());
    EXPECT_EQ(first->context(), &context);
    EXPECT_THROW(first->setValue("order", std::string("x")), std::invalid_argument);
    EXPECT_THROW(first->setValue("nope", Value{}), std::invalid_argument);
}

TEST(ObjectContext, RelationshipsKeepBothSidesInStep)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* a = context.insertObject(entity("Folder"));
    Object* b = context.insertObject(entity("Folder"));
    std::vector<Object*> notes;
    for (int i = 0; i < 5; ++i) {
        notes.push_back(context.insertObject(entity("Note")));
        notes.back()->setToOne("folder", a);
    }
    EXPECT_EQ(a->toMany("notes").size(), 5u);

    // Moving from either side updates the other.
    notes[1]->setToOne("folder", b);
    b->addToMany(b->entity().relationshipIndex("notes"), notes[3]);
    a->removeFromMany(a->entity().relationshipIndex("notes"), notes[0]);
    EXPECT_EQ(a->toMany("notes").size(), 2u);
    EXPECT_TRUE(contains(a->toMany("notes"), notes[2]));
    EXPECT_TRUE(contains(a->toMany("notes"), notes[4]));
    EXPECT_EQ(b->toMany("notes").size(), 2u);
    EXPECT_EQ(notes[0]->toOne("folder"), nullptr);
    EXPECT_EQ(notes[3]->toOne("folder"), b);
    // Swap-removal must keep every member's back-pointer right: remove the rest one by one.
    for (Object* note : {notes[4], notes[2]})
        note->setToOne("folder", nullptr);
    EXPECT_TRUE(a->toMany("notes").empty());
    EXPECT_THROW(notes[0]->setToOne("folder", notes[1]), std::invalid_argument);
    // By name, the other kind of relationship reads as empty (a slot holds only its own kind).
    notes[1]->setToOne("folder", a);
    EXPECT_EQ(a->toOne("notes"), nullptr);
    EXPECT_TRUE(notes[1]->toMany("folder").empty());
}

TEST(ObjectContext, DeleteCascadesAndNullifiesAndLeavesInertObjects)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* person = context.insertObject(entity("Person"));
    Object* folder = context.insertObject(entity("Folder"));
    folder->setToOne("person", person);
    Object* note = context.insertObject(entity("Note"));
    note->setToOne("folder", folder);
    Object* tag = context.insertObject(entity("Tag"));
    tag->setToOne("note", note);
    Object* otherFolder = context.insertObject(entity("Folder"));
    otherFolder->setToOne("person", person);

    context.deleteObject(folder);
    EXPECT_TRUE(folder->isDeleted());
    EXPECT_TRUE(note->isDeleted());
    EXPECT_TRUE(tag->isDeleted());
    EXPECT_EQ(folder->context(), nullptr);
    EXPECT_EQ(person->toMany("folders"), std::vector<Object*>{otherFolder});
    EXPECT_TRUE(context.fetch(entity("Note")).empty());
    EXPECT_TRUE(context.fetch(entity("Tag")).empty());

    // Writes to an inert object change nothing; reads still work.
    note->setValue("text", std::string("late"));
    EXPECT_EQ(text(note, "text"), "<absent>");

    // Deleting the person nullifies the remaining folder's reference.
    context.deleteObject(person);
    EXPECT_FALSE(otherFolder->isDeleted());
    EXPECT_EQ(otherFolder->toOne("person"), nullptr);
    context.deleteObject(person); // a second delete is harmless
}

TEST(ObjectContext, DeletedObjectsStayUntilTheContextGoesAndComeBackWithUndo)
{
    // Objects live in the context's arena; the deleted ones are kept (for undo) in a list of their
    // own, so each is destroyed exactly once with the context, restored or not (ASan checks that).
    NotificationCenter center;
    ObjectContext context(model(), center);
    std::vector<Object*> notes;
    for (int i = 0; i < 6; ++i) {
        Object* note = context.insertObject(entity("Note"));
        // Long enough to live on the heap, so an object never destroyed leaks.
        note->setValue("text", std::string(64, static_cast<char>('a' + i)));
        notes.push_back(note);
    }
    context.processPendingChanges();
    for (int i : {1, 3, 4}) {
        context.deleteObject(notes[static_cast<std::size_t>(i)]);
        context.processPendingChanges();
    }
    const auto live = [&] {
        std::vector<Object*> list = context.objects(entity("Note"));
        std::sort(list.begin(), list.end());
        return list;
    };
    const auto sorted = [](std::vector<Object*> list) {
        std::sort(list.begin(), list.end());
        return list;
    };
    EXPECT_EQ(live(), sorted({notes[0], notes[2], notes[5]}));

    UndoManager& undo = context.undoManager();
    undo.undo(); // note 4 back
    undo.undo(); // note 3 back
    EXPECT_EQ(live(), sorted({notes[0], notes[2], notes[3], notes[4], notes[5]}));
    EXPECT_EQ(context.objectWithPrimaryKey(entity("Note"), notes[3]->primaryKey()), notes[3]);
    EXPECT_EQ(text(notes[3], "text"), std::string(64, 'd'));
    undo.redo(); // note 3 deleted again
    context.deleteObject(notes[0]);
    context.processPendingChanges();
    EXPECT_EQ(live(), sorted({notes[2], notes[4], notes[5]}));
    EXPECT_EQ(context.objectWithPrimaryKey(entity("Note"), notes[3]->primaryKey()), nullptr);
    undo.undo();
    EXPECT_EQ(live(), sorted({notes[0], notes[2], notes[4], notes[5]}));

    // A context whose only objects are deleted ones is not empty: no store is attached to it.
    TempDir folder;
    testmodel::openStore(folder.path() / "store.sqlite").reset(); // creates the file
    ObjectContext other(model(), center);
    other.deleteObject(other.insertObject(entity("Folder")));
    other.processPendingChanges();
    std::string message;
    EXPECT_FALSE(other.attachStore(testmodel::openStore(folder.path() / "store.sqlite"), message));
    EXPECT_EQ(message, "a store can only be attached to an empty context");
}

TEST(ObjectContext, OneNoticePerPassWithChangedKeysAndOwners)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    NoticeRecorder recorder(center);
    Object* folder = context.insertObject(entity("Folder"));
    Object* note = context.insertObject(entity("Note"));
    note->setToOne("folder", folder);
    folder->setValue("name", std::string("Work"));
    context.processPendingChanges();
    ASSERT_EQ(recorder.notices.size(), 1u);
    EXPECT_EQ(recorder.notices[0].inserted.size(), 2u);
    EXPECT_TRUE(recorder.notices[0].updated.empty());

    context.processPendingChanges(); // nothing pending: no notice
    EXPECT_EQ(recorder.notices.size(), 1u);

    // A member's stored change shows its owner as updated under the to-many key.
    note->setValue("text", std::string("hello"));
    context.processPendingChanges();
    ASSERT_EQ(recorder.notices.size(), 2u);
    const ChangeSet& second = recorder.notices[1];
    EXPECT_TRUE(second.changed(note, "text"));
    EXPECT_FALSE(second.changed(note, "when"));
    EXPECT_TRUE(second.changed(folder, "notes"));
    EXPECT_FALSE(second.changed(folder, "name"));

    // Inserting and deleting within one pass announces nothing about the object.
    Object* scratch = context.insertObject(entity("Note"));
    context.deleteObject(scratch);
    context.deleteObject(note);
    context.processPendingChanges();
    ASSERT_EQ(recorder.notices.size(), 3u);
    EXPECT_EQ(recorder.notices[2].deleted, std::vector<Object*>{note});
    EXPECT_TRUE(recorder.notices[2].inserted.empty());
    EXPECT_TRUE(recorder.notices[2].changed(folder, "notes"));
}

TEST(ObjectContext, ChangesMadeByObserversGoToTheNextPass)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* folder = context.insertObject(entity("Folder"));
    int passes = 0;
    auto token = center.addObserver(data::ObjectsDidChangeNotification, &context, [&](const Notification&) {
        ++passes;
        if (passes == 1)
            folder->setValue("order", std::int64_t{7});
    });
    context.processPendingChanges();
    EXPECT_EQ(passes, 1);
    EXPECT_TRUE(context.hasPendingChanges());
    context.processPendingChanges();
    EXPECT_EQ(passes, 2);
    EXPECT_FALSE(context.hasPendingChanges());
}

TEST(ObjectContext, FetchFiltersAndSortsWithAbsentFirstAndStableTies)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    auto make = [&](std::optional<std::string> name, std::int64_t order) {
        Object* folder = context.insertObject(entity("Folder"));
        folder->setValue("name", name ? Value(*name) : Value());
        folder->setValue("order", order);
        return folder;
    };
    Object* b1 = make("b", 1);
    Object* none = make(std::nullopt, 5);
    Object* a = make("a", 2);
    Object* b2 = make("b", 0);
    Object* deleted = make("c", 9);
    context.deleteObject(deleted);

    auto byName = context.fetch(entity("Folder"), {}, {{"name", true}});
    EXPECT_EQ(byName, (std::vector<Object*>{none, a, b1, b2}));
    auto byNameThenOrderDescending = context.fetch(entity("Folder"), {}, {{"name", false}, {"order", false}});
    EXPECT_EQ(byNameThenOrderDescending, (std::vector<Object*>{b1, b2, a, none}));
    auto filtered =
        context.fetch(entity("Folder"), [](const Object& o) { return std::get<std::int64_t>(o.value("order")) < 2; },
                      {{"order", true}});
    EXPECT_EQ(filtered, (std::vector<Object*>{b2, b1}));
    EXPECT_THROW(context.fetch(entity("Folder"), {}, {{"bogus", true}}), std::invalid_argument);
}

TEST(ObjectContext, UrisNameLiveObjectsOnly)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* note = context.insertObject(entity("Note"));
    const std::string uri = note->uriRepresentation();
    EXPECT_EQ(uri.rfind("x-horavine://" + context.storeIdentifier() + "/Note/p", 0), 0u);
    EXPECT_EQ(context.objectWithURI(uri), note);

    ObjectContext other(model(), center);
    EXPECT_EQ(other.objectWithURI(uri), nullptr); // another store
    for (const std::string& bad :
         {std::string(""), std::string("x-horavine://"), uri + "x", uri.substr(0, uri.size() - 1) + "0",
          "x-horavine://" + context.storeIdentifier() + "/Nope/p1",
          "x-horavine://" + context.storeIdentifier() + "/Note/1",
          "x-horavine://" + context.storeIdentifier() + "/Note/p-1",
          "x-horavine://" + context.storeIdentifier() + "/Note/p99999999999999999999",
          "http://" + context.storeIdentifier() + "/Note/p1"})
        EXPECT_EQ(context.objectWithURI(bad), nullptr) << bad;
    context.deleteObject(note);
    EXPECT_EQ(context.objectWithURI(uri), nullptr);
}

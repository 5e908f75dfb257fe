// Undo and redo of attribute changes, insertions and cascaded deletions, grouped per pass.
#include "test_model.h"

using data::Object;
using data::ObjectContext;
using data::UndoManager;
using foundation::Notification;
using foundation::NotificationCenter;
using testmodel::entity;
using testmodel::model;
using testmodel::TempDir;

namespace {

std::string name(const Object* object)
{
    const data::Value value = object->value("name");
    const auto* stored = std::get_if<std::string>(&value);
    return stored ? *stored : "<absent>";
}

// A context whose undo history holds one step: the insertion of a folder.
class UndoManagerWithFolder : public ::testing::Test {
protected:
    UndoManagerWithFolder() { context.processPendingChanges(); }

    NotificationCenter center;
    ObjectContext context{model(), center};
    UndoManager& undo = context.undoManager();
    Object* folder = context.insertObject(entity("Folder"));
};

} // namespace

TEST_F(UndoManagerWithFolder, OnePassIsOneStepAndRedoReappliesIt)
{
    ASSERT_EQ(undo.undoCount(), 1u);

    folder->setValue("name", std::string("one"));
    folder->setValue("order", std::int64_t{3});
    folder->setValue("name", std::string("two"));
    context.processPendingChanges();
    EXPECT_EQ(undo.undoCount(), 2u);

    int undoNotices = 0, redoNotices = 0;
    auto undoToken = center.addObserver(data::UndoManagerDidUndoChangeNotification, nullptr,
                                        [&](const Notification&) { ++undoNotices; });
    auto redoToken = center.addObserver(data::UndoManagerDidRedoChangeNotification, nullptr,
                                        [&](const Notification&) { ++redoNotices; });
    undo.undo();
    EXPECT_EQ(name(folder), "New folder");
    EXPECT_EQ(std::get<std::int64_t>(folder->value("order")), 0);
    EXPECT_TRUE(undo.canRedo());
    undo.redo();
    EXPECT_EQ(name(folder), "two");
    EXPECT_EQ(std::get<std::int64_t>(folder->value("order")), 3);
    EXPECT_EQ(undoNotices, 1);
    EXPECT_EQ(redoNotices, 1);

    // Undoing the insertion removes the object; redo brings the same object back.
    undo.undo();
    undo.undo();
    EXPECT_TRUE(folder->isDeleted());
    EXPECT_TRUE(context.fetch(entity("Folder")).empty());
    EXPECT_FALSE(undo.canUndo());
    undo.redo();
    EXPECT_FALSE(folder->isDeleted());
    EXPECT_EQ(context.fetch(entity("Folder")), std::vector<Object*>{folder});
}

TEST_F(UndoManagerWithFolder, RegistrationOffIsNeverUndoneAndKeepsRedo)
{
    folder->setValue("name", std::string("named"));
    context.processPendingChanges();
    undo.undo();
    ASSERT_TRUE(undo.canRedo());

    undo.disableUndoRegistration();
    undo.disableUndoRegistration();
    undo.enableUndoRegistration();
    EXPECT_FALSE(undo.isUndoRegistrationEnabled()); // counted: still off
    folder->setValue("open", true);
    undo.enableUndoRegistration();
    context.processPendingChanges();
    EXPECT_TRUE(undo.canRedo()); // an unregistered change leaves the redo stack alone
    EXPECT_EQ(undo.undoCount(), 1u);

    undo.undo(); // undoes the insertion, not the unregistered change
    undo.redo();
    EXPECT_EQ(std::get<bool>(folder->value("open")), true);

    folder->setValue("order", std::int64_t{4});
    context.processPendingChanges();
    EXPECT_FALSE(undo.canRedo()); // a registered change clears it
}

TEST(UndoManager, UndoneDeletionRestoresObjectsRelationshipsAndFileAcrossReopen)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    std::vector<std::string> uris;
    std::string personUri;
    {
        auto context = testmodel::openContext(path, center);
        Object* person = context->insertObject(entity("Person"));
        Object* folder = context->insertObject(entity("Folder"));
        folder->setValue("name", std::string("Doomed"));
        folder->setToOne("person", person);
        personUri = person->uriRepresentation();
        uris.push_back(folder->uriRepresentation());
        for (int i = 0; i < 3; ++i) {
            Object* note = context->insertObject(entity("Note"));
            note->setValue("text", std::string("note ") + std::to_string(i));
            note->setToOne("folder", folder);
            uris.push_back(note->uriRepresentation());
            Object* tag = context->insertObject(entity("Tag"));
            tag->setToOne("note", note);
            uris.push_back(tag->uriRepresentation());
        }
        context->processPendingChanges();
        ASSERT_TRUE(context->save().isOk());
        context->undoManager().removeAllActions();

        context->deleteObject(folder);
        context->processPendingChanges();
        ASSERT_TRUE(context->save().isOk());
        context->undoManager().undo();
        ASSERT_TRUE(context->save().isOk());
        EXPECT_FALSE(folder->isDeleted());
    }
    {
        auto context = testmodel::openContext(path, center);
        Object* folder = context->objectWithURI(uris[0]);
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(name(folder), "Doomed");
        EXPECT_EQ(folder->toOne("person"), context->objectWithURI(personUri));
        EXPECT_EQ(folder->toMany("notes").size(), 3u);
        for (const auto& uri : uris) {
            Object* object = context->objectWithURI(uri);
            ASSERT_NE(object, nullptr) << uri;
            if (object->entity().name() == "Note") {
                EXPECT_EQ(object->toOne("folder"), folder);
                EXPECT_EQ(object->toMany("tags").size(), 1u);
            }
        }
    }
    {
        // Redo in a fresh session is not possible (history is per session), so redo before closing.
        auto context = testmodel::openContext(path, center);
        context->deleteObject(context->objectWithURI(uris[0]));
        context->processPendingChanges();
        context->undoManager().undo();
        context->undoManager().redo();
        ASSERT_TRUE(context->save().isOk());
    }
    auto context = testmodel::openContext(path, center);
    for (const auto& uri : uris)
        EXPECT_EQ(context->objectWithURI(uri), nullptr) << uri;
    EXPECT_TRUE(context->objectWithURI(personUri)->toMany("folders").empty());
}

TEST(UndoManager, UndoOfRelationshipChangesRestoresTheOldOwner)
{
    NotificationCenter center;
    ObjectContext context(model(), center);
    Object* a = context.insertObject(entity("Folder"));
    Object* b = context.insertObject(entity("Folder"));
    Object* note = context.insertObject(entity("Note"));
    note->setToOne("folder", a);
    context.processPendingChanges();
    note->setToOne("folder", b);
    context.processPendingChanges();
    context.undoManager().undo();
    EXPECT_EQ(note->toOne("folder"), a);
    EXPECT_EQ(a->toMany("notes"), std::vector<Object*>{note});
    EXPECT_TRUE(b->toMany("notes").empty());
    context.undoManager().redo();
    EXPECT_EQ(note->toOne("folder"), b);
    EXPECT_TRUE(a->toMany("notes").empty());
}

TEST_F(UndoManagerWithFolder, TheScopedSwitchTurnsRegistrationBackOnWhenItsScopeEnds)
{
    ASSERT_EQ(undo.undoCount(), 1u);

    try {
        const data::UndoRegistrationDisabled outer(undo);
        {
            const data::UndoRegistrationDisabled inner(undo);
        }
        EXPECT_FALSE(undo.isUndoRegistrationEnabled()); // the outer one still holds
        folder->setValue("open", true);
        throw std::runtime_error("left early");
    } catch (const std::runtime_error&) {}
    EXPECT_TRUE(undo.isUndoRegistrationEnabled());
    context.processPendingChanges();
    EXPECT_EQ(undo.undoCount(), 1u); // the change made inside is no step

    folder->setValue("name", std::string("registered"));
    context.processPendingChanges();
    EXPECT_EQ(undo.undoCount(), 2u);
}

TEST_F(UndoManagerWithFolder, AnEditWrittenInStepsDuringASessionIsOneStep)
{
    const std::size_t before = undo.undoCount();

    undo.beginCoalescing();
    folder->setValue("name", std::string("dra"));
    context.processPendingChanges();
    folder->setValue("name", std::string("draft"));
    context.processPendingChanges();
    // Another attribute is a step of its own, and the name after it one more.
    folder->setValue("order", std::int64_t{2});
    context.processPendingChanges();
    folder->setValue("name", std::string("draft 2"));
    undo.endCoalescing(); // the change still pending joins
    context.processPendingChanges();
    EXPECT_EQ(undo.undoCount(), before + 3);
    EXPECT_FALSE(undo.isCoalescing());

    // After the session every pass is a step again.
    folder->setValue("name", std::string("final"));
    context.processPendingChanges();
    EXPECT_EQ(undo.undoCount(), before + 4);
    undo.undo();
    EXPECT_EQ(name(folder), "draft 2");
    undo.undo();
    EXPECT_EQ(name(folder), "draft");
    undo.undo();
    EXPECT_EQ(std::get<std::int64_t>(folder->value("order")), 0);
    undo.undo();
    EXPECT_EQ(name(folder), "New folder");
    undo.redo();
    EXPECT_EQ(name(folder), "draft");
}

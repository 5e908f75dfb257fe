// Undo and redo of the model's own changes: a deleted project with its timers and pauses comes back
// whole across a reopen of the store, and undo applies stored values without entity side effects.
#include "model/client.h"
#include "model/data_model.h"
#include "model/fetch_helpers.h"
#include "model/pause_entry.h"
#include "model/persistence_controller.h"
#include "model/project.h"
#include "model/timer.h"

#include <gtest/gtest.h>

#include <random>

using namespace model;
using foundation::NotificationCenter;

namespace {

std::filesystem::path temporaryStore()
{
    std::random_device device;
    return std::filesystem::temp_directory_path() / ("horavine-undo-" + std::to_string(device())) / "Projects.horavine";
}

struct Snapshot {
    std::string projectUri;
    std::vector<std::string> timerUris, pauseUris;
};

} // namespace

TEST(ModelUndo, DeletedProjectComesBackWholeAcrossAReopenAndRedoRemovesItAgain)
{
    const auto path = temporaryStore();
    Snapshot snapshot;
    {
        NotificationCenter center;
        PersistenceController controller(path, center);
        auto& context = controller.managedObjectContext();
        Client* client = initInContext<Client>(context);
        Project* project = initInContext<Project>(context);
        project->setName(std::string("Doomed"));
        project->setClient(client);
        project->setCustomHourlyRate(foundation::Decimal(90));
        for (int i = 0; i < 4; ++i) {
            Timer* timer = project->startNewTimer();
            timer->setNotes("timer " + std::to_string(i));
            PauseEntry* pause = timer->pause();
            timer->stop();
            snapshot.timerUris.push_back(timer->uriRepresentation());
            snapshot.pauseUris.push_back(pause->uriRepresentation());
        }
        snapshot.projectUri = project->uriRepresentation();
        context.processPendingChanges();
        context.undoManager().removeAllActions();

        controller.deleteObjects({project});
        context.processPendingChanges();
        EXPECT_TRUE(fetch<Timer>(context).empty());
        context.undoManager().undo(); // processes and saves
        EXPECT_FALSE(context.hasUnsavedChanges());
    }
    {
        NotificationCenter center;
        PersistenceController controller(path, center);
        auto* project = dynamic_cast<Project*>(controller.objectForURIRepresentation(snapshot.projectUri));
        ASSERT_NE(project, nullptr);
        EXPECT_EQ(project->name(), "Doomed");
        ASSERT_NE(project->client(), nullptr);
        EXPECT_EQ(project->customHourlyRate(), foundation::Decimal(90));
        EXPECT_EQ(project->timers().size(), 4u);
        for (std::size_t i = 0; i < snapshot.timerUris.size(); ++i) {
            auto* timer = dynamic_cast<Timer*>(controller.objectForURIRepresentation(snapshot.timerUris[i]));
            ASSERT_NE(timer, nullptr);
            EXPECT_EQ(timer->project(), project);
            EXPECT_TRUE(timer->notes().has_value());
            ASSERT_EQ(timer->pauseEntries().size(), 1u);
            EXPECT_EQ(timer->pauseEntries()[0]->uriRepresentation(), snapshot.pauseUris[i]);
        }
        // Within this session: delete, undo, redo; the redo is saved.
        auto& context = controller.managedObjectContext();
        controller.deleteObjects({project});
        context.processPendingChanges();
        context.undoManager().undo();
        context.undoManager().redo();
        EXPECT_FALSE(context.hasUnsavedChanges());
    }
    NotificationCenter center;
    PersistenceController controller(path, center);
    EXPECT_EQ(controller.objectForURIRepresentation(snapshot.projectUri), nullptr);
    EXPECT_TRUE(fetch<Timer>(controller.managedObjectContext()).empty());
    EXPECT_TRUE(fetch<PauseEntry>(controller.managedObjectContext()).empty());
    std::filesystem::remove_all(path.parent_path());
}

TEST(ModelUndo, UndoRestoresValuesWithoutSideEffects)
{
    NotificationCenter center;
    data::ObjectContext context(managedObjectModel(), center);
    Client* client = initInContext<Client>(context);
    client->setHourlyRate(foundation::Decimal(80));
    Project* project = initInContext<Project>(context);
    project->setClient(client);
    Timer* timer = initInContext<Timer>(context);
    timer->setProject(project);
    context.processPendingChanges();

    timer->setBilled(true); // freezes 80
    context.processPendingChanges();
    client->setHourlyRate(foundation::Decimal(100));
    context.processPendingChanges();
    context.undoManager().undo(); // the client's rate goes back; the timer is not touched
    EXPECT_EQ(timer->billedHourlyRate(), foundation::Decimal(80));
    context.undoManager().undo(); // billing undone: flag and frozen rate go back together
    EXPECT_FALSE(timer->billed());
    EXPECT_FALSE(timer->billedHourlyRate().has_value());
    context.undoManager().redo();
    EXPECT_TRUE(timer->billed());
    EXPECT_EQ(timer->billedHourlyRate(), foundation::Decimal(80));

    // Undoing a deletion does not renumber: the project keeps its own sort order.
    Project* second = initInContext<Project>(context);
    second->setSortOrder(7);
    context.processPendingChanges();
    context.deleteObject(second);
    context.processPendingChanges();
    context.undoManager().undo();
    EXPECT_FALSE(second->isDeleted());
    EXPECT_EQ(second->sortOrder(), 7);
    EXPECT_EQ(second->name(), "New project");
}

// The application's store: what one process saves another reads, deletion rules in the file,
// and files that must be left alone.
#include "model/attachment.h"
#include "model/client.h"
#include "model/data_model.h"
#include "model/fetch_helpers.h"
#include "model/pasteboard_types.h"
#include "model/pause_entry.h"
#include "model/persistence_controller.h"
#include "model/project.h"
#include "model/timer.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace model;
using foundation::NotificationCenter;

namespace {

class StoreDir : public testsupport::TempFolder {
public:
    StoreDir() : TempFolder("horavine-model") {}
    std::filesystem::path store() const { return path() / "Documents" / "Projects.horavine"; }
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int countRows(const std::filesystem::path& path, const std::string& table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    int count = -1;
    const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        count = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}

} // namespace

TEST(PersistenceController, ProjectsSavedByOneProcessAreReadByTheNext)
{
    StoreDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NotificationCenter center;
        PersistenceController controller(dir.store(), center);
        auto& context = controller.managedObjectContext();
        initInContext<Project>(context)->setName(std::string("First"));
        initInContext<Project>(context)->setName(std::string("Second"));
        context.processPendingChanges(); // the change notice saves
        _exit(controller.status() == PersistenceController::Status::ok && !context.hasUnsavedChanges() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    NotificationCenter center;
    PersistenceController controller(dir.store(), center);
    ASSERT_TRUE(controller.storeIsOpen()) << controller.statusMessage();
    auto projects = fetchAll<Project>(controller.managedObjectContext());
    ASSERT_EQ(projects.size(), 2u);
    EXPECT_EQ(projects[0]->name(), "First");
    EXPECT_EQ(projects[0]->sortOrder(), 0);
    EXPECT_EQ(projects[1]->name(), "Second");
    EXPECT_EQ(projects[1]->sortOrder(), 1);

    sqlite3* db = nullptr;
    sqlite3_open_v2(dir.store().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "delete");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST(PersistenceController, DeletingAProjectTakesItsTimersPausesAndAttachmentsFromTheFile)
{
    StoreDir dir;
    NotificationCenter center;
    PersistenceController controller(dir.store(), center);
    auto& context = controller.managedObjectContext();
    Client* client = initInContext<Client>(context);
    Project* kept = initInContext<Project>(context);
    kept->setClient(client);
    Project* doomed = initInContext<Project>(context);
    doomed->setClient(client);
    for (int i = 0; i < 3; ++i) {
        Timer* timer = initInContext<Timer>(context);
        timer->setProject(doomed);
        initInContext<PauseEntry>(context)->setTimer(timer);
    }
    initInContext<Attachment>(context)->setProject(doomed);
    context.processPendingChanges();
    ASSERT_EQ(countRows(dir.store(), "Timer"), 3);

    controller.deleteObjects({doomed});
    context.processPendingChanges();
    EXPECT_TRUE(fetch<Timer>(context).empty());
    EXPECT_TRUE(fetch<PauseEntry>(context).empty());
    EXPECT_TRUE(fetch<Attachment>(context).empty());
    EXPECT_EQ(countRows(dir.store(), "Timer"), 0);
    EXPECT_EQ(countRows(dir.store(), "PauseEntry"), 0);
    EXPECT_EQ(countRows(dir.store(), "Attachment"), 0);
    EXPECT_EQ(countRows(dir.store(), "Project"), 1);

    controller.deleteObjects({client});
    context.processPendingChanges();
    EXPECT_EQ(kept->client(), nullptr);
    EXPECT_FALSE(kept->isDeleted());
    EXPECT_EQ(countRows(dir.store(), "Project"), 1);
}

TEST(PersistenceController, UnreadableNewerOrLockedStoresAreLeftAlone)
{
    StoreDir dir;
    std::filesystem::create_directories(dir.store().parent_path());
    const std::string junk = "this is not a database, but it is somebody's file\n";
    std::ofstream(dir.store(), std::ios::binary) << junk;
    {
        NotificationCenter center;
        PersistenceController controller(dir.store(), center);
        EXPECT_EQ(controller.status(), PersistenceController::Status::cannotOpen);
        EXPECT_NE(controller.statusMessage().find("Projects.horavine"), std::string::npos);
        initInContext<Project>(controller.managedObjectContext());
        controller.managedObjectContext().processPendingChanges();
        EXPECT_FALSE(controller.save());
        EXPECT_TRUE(controller.managedObjectContext().hasUnsavedChanges()); // kept, never written
    }
    EXPECT_EQ(readFile(dir.store()), junk);

    std::filesystem::remove(dir.store());
    {
        NotificationCenter center;
        PersistenceController controller(dir.store(), center);
        ASSERT_TRUE(controller.storeIsOpen());
        NotificationCenter otherCenter;
        PersistenceController second(dir.store(), otherCenter);
        EXPECT_EQ(second.status(), PersistenceController::Status::storeInUse);
        initInContext<Project>(second.managedObjectContext());
        EXPECT_FALSE(second.save());
    }
    sqlite3* db = nullptr;
    sqlite3_open(dir.store().c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string newer = readFile(dir.store());
    {
        NotificationCenter center;
        PersistenceController controller(dir.store(), center);
        EXPECT_EQ(controller.status(), PersistenceController::Status::cannotOpen);
        EXPECT_NE(controller.statusMessage().find("newer version"), std::string::npos);
    }
    EXPECT_EQ(readFile(dir.store()), newer);

    // A store the user may not read is told in those words (as root, by a child that is nobody).
    std::filesystem::permissions(dir.store(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const testsupport::ChildOutcome child = testsupport::runInChild([&dir] {
        if (::geteuid() != 0)
            std::filesystem::permissions(dir.store(), std::filesystem::perms::none);
        else if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return std::string("could not become nobody");
        NotificationCenter center;
        const PersistenceController controller(dir.store(), center);
        return controller.statusMessage();
    });
    EXPECT_NE(child.report.find("cannot be opened: you may not read it"), std::string::npos) << child.report;
    EXPECT_EQ(child.report.find("unable to open"), std::string::npos) << child.report;
    std::filesystem::permissions(dir.store(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(readFile(dir.store()), newer);
}

// The launch opens and loads the store on a thread of its own while the main thread goes on with
// the same notification center and a context of its own; the loaded context then passes to the main
// thread and works there like one loaded in place. Under ThreadSanitizer this is the check that the
// load touches nothing the main thread uses meanwhile.
TEST(PersistenceController, AStoreLoadedOnAnotherThreadWorksOnceHandedOver)
{
    StoreDir dir;
    NotificationCenter center;
    {
        PersistenceController writer(dir.store(), center);
        auto& context = writer.managedObjectContext();
        Client* client = initInContext<Client>(context);
        for (int p = 0; p < 20; ++p) {
            Project* project = initInContext<Project>(context);
            project->setName("Project " + std::to_string(p));
            project->setClient(client);
            for (int t = 0; t < 50; ++t) {
                Timer* timer = initInContext<Timer>(context);
                timer->setProject(project);
                initInContext<PauseEntry>(context)->setTimer(timer);
            }
        }
        context.processPendingChanges();
        ASSERT_FALSE(context.hasUnsavedChanges());
    }

    int notices = 0;
    const auto token = center.addObserver("MainThreadNotice", nullptr, [&notices](const auto&) { ++notices; });
    PersistenceController::LoadedStore loaded;
    std::thread loader([&loaded, &center, path = dir.store()] {
        loaded = PersistenceController::loadStore(PersistenceController::openStore(path), center);
    });
    // Meanwhile the main thread posts on the same center and works in a context of the same model.
    PersistenceController scratch(dir.path() / "scratch.horavine", center);
    for (int i = 0; i < 200; ++i) {
        center.post("MainThreadNotice");
        initInContext<Project>(scratch.managedObjectContext())->setName(std::string("Scratch"));
        scratch.managedObjectContext().processPendingChanges();
    }
    loader.join();
    EXPECT_EQ(notices, 200);

    ASSERT_EQ(loaded.status, PersistenceController::Status::ok) << loaded.message;
    PersistenceController controller(std::move(loaded));
    ASSERT_TRUE(controller.storeIsOpen());
    auto& context = controller.managedObjectContext();
    const auto projects = fetchAll<Project>(context);
    ASSERT_EQ(projects.size(), 20u);
    for (Project* project : projects) {
        EXPECT_EQ(project->timers().size(), 50u);
        ASSERT_NE(project->client(), nullptr);
    }
    // The change notice of the main thread's pass saves through the handed-over store.
    projects[3]->setName(std::string("Renamed"));
    controller.deleteObjects({projects[7]});
    context.processPendingChanges();
    EXPECT_FALSE(context.hasUnsavedChanges());
    EXPECT_EQ(countRows(dir.store(), "Project"), 19);
    EXPECT_EQ(countRows(dir.store(), "Timer"), 19 * 50);
    EXPECT_EQ(context.undoManager().canUndo(), true);

    // A store another launch holds is found in use on the loading thread; the controller made of
    // the result says so and writes nothing.
    PersistenceController::LoadedStore locked;
    std::thread([&locked, &center, path = dir.store()] {
        locked = PersistenceController::loadStore(PersistenceController::openStore(path), center);
    }).join();
    PersistenceController second(std::move(locked));
    EXPECT_EQ(second.status(), PersistenceController::Status::storeInUse);
    EXPECT_FALSE(second.statusMessage().empty());
    initInContext<Project>(second.managedObjectContext());
    EXPECT_FALSE(second.save());
    EXPECT_EQ(countRows(dir.store(), "Project"), 19);
}

TEST(PersistenceController, RenumberingClosesTheGapsAndKeepsTheOrder)
{
    StoreDir dir;
    NotificationCenter center;
    PersistenceController controller(dir.store(), center);
    auto& context = controller.managedObjectContext();
    std::vector<Project*> projects;
    for (int i = 0; i < 5; ++i)
        projects.push_back(initInContext<Project>(context));
    Client* client = initInContext<Client>(context);
    client->setSortOrder(7);
    projects[3]->setArchived(true);
    projects[4]->setSortOrder(9);
    context.deleteObject(projects[1]);
    context.processPendingChanges();

    renumberSortOrders<Project>(context);
    EXPECT_EQ(fetchAll<Project>(context), (std::vector<Project*>{projects[0], projects[2], projects[3], projects[4]}));
    EXPECT_EQ((std::vector<std::int64_t>{projects[0]->sortOrder(), projects[2]->sortOrder(), projects[3]->sortOrder(),
                                         projects[4]->sortOrder()}),
              (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(client->sortOrder(), 7); // other entities keep their numbers
    EXPECT_EQ(highestSortOrder<Project>(context), 3);
}

// Drag and drop moves a project to the place of the project shown at the gap, or after the last shown
// one; every project of the store is numbered again, hidden and archived ones included.
TEST(PersistenceController, MovingAProjectPlacesItByIdentityAndRenumbersAll)
{
    NotificationCenter center;
    data::ObjectContext context(managedObjectModel(), center);
    auto make = [&](std::int64_t order) {
        Project* project = initInContext<Project>(context);
        project->setSortOrder(order);
        return project;
    };
    auto orders = [&] {
        std::vector<std::int64_t> result;
        for (Project* project : fetchAll<Project>(context))
            result.push_back(project->sortOrder());
        return result;
    };
    Project* a = make(0);
    Project* b = make(1);
    Project* c = make(2);
    Project* d = make(3);
    using List = std::vector<Project*>;

    moveProject(context, *a, d, d); // A to the gap before D
    EXPECT_EQ(fetchAll<Project>(context), (List{b, c, a, d}));
    EXPECT_EQ(orders(), (std::vector<std::int64_t>{0, 1, 2, 3}));
    moveProject(context, *b, nullptr, d); // B after the last shown project
    EXPECT_EQ(fetchAll<Project>(context), (List{c, a, d, b}));
    moveProject(context, *b, nullptr, b); // the last one to the end: no change
    EXPECT_EQ(fetchAll<Project>(context), (List{c, a, d, b}));
    moveProject(context, *a, a, b); // before itself: no change
    moveProject(context, *a, d, b); // before the project right after it: no change
    EXPECT_EQ(fetchAll<Project>(context), (List{c, a, d, b}));
    moveProject(context, *b, c, b); // to the front
    EXPECT_EQ(fetchAll<Project>(context), (List{b, c, a, d}));

    // Only B and D shown (a client's): B after D lands after D, not at the store's end position 2.
    moveProject(context, *b, nullptr, d);
    EXPECT_EQ(fetchAll<Project>(context), (List{c, a, d, b}));
    moveProject(context, *d, a, b);
    EXPECT_EQ(fetchAll<Project>(context), (List{c, d, a, b}));

    // Numbers with gaps and duplicates (an older store): still only the dragged project moves.
    c->setSortOrder(0);
    d->setSortOrder(5);
    a->setSortOrder(9);
    b->setSortOrder(9);
    const List before = fetchAll<Project>(context);
    moveProject(context, *before.back(), before.front(), before.back());
    EXPECT_EQ(fetchAll<Project>(context), (List{before[3], before[0], before[1], before[2]}));
    EXPECT_EQ(orders(), (std::vector<std::int64_t>{0, 1, 2, 3}));

    // A target or a project of another store changes nothing.
    data::ObjectContext other(managedObjectModel(), center);
    Project* stranger = initInContext<Project>(other);
    const List now = fetchAll<Project>(context);
    moveProject(context, *a, stranger, nullptr);
    moveProject(context, *stranger, a, nullptr);
    EXPECT_EQ(fetchAll<Project>(context), now);
    EXPECT_EQ(stranger->sortOrder(), 0);
}

TEST(PersistenceController, SortOrderHelpersAndDraggedObjects)
{
    StoreDir dir;
    NotificationCenter center;
    PersistenceController controller(dir.store(), center);
    auto& context = controller.managedObjectContext();
    EXPECT_EQ(highestSortOrder<Project>(context), -1);
    Project* first = initInContext<Project>(context);
    Project* second = initInContext<Project>(context);
    Project* third = initInContext<Project>(context);
    EXPECT_EQ(first->sortOrder(), 0);
    EXPECT_EQ(third->sortOrder(), 2);
    third->setSortOrder(5);
    EXPECT_EQ(initInContext<Project>(context)->sortOrder(), 6);
    EXPECT_EQ(projectWithSortOrder(1, context), second);
    EXPECT_EQ(projectWithSortOrder(3, context), nullptr);
    first->setArchived(true);
    auto archived = fetchAll<Project>(context, [](const Project& p) { return p.archived(); });
    EXPECT_EQ(archived, std::vector<Project*>{first});
    EXPECT_EQ(initInContext<Client>(context)->name(), "New Client");

    Timer* timer = initInContext<Timer>(context);
    EXPECT_EQ(timer->type(), 0);
    EXPECT_FALSE(timer->billed());
    const std::string projectUri = first->uriRepresentation(), timerUri = timer->uriRepresentation();
    auto both = [&](std::string_view type) -> std::optional<std::string> {
        if (type == PasteboardTypes::project)
            return projectUri;
        if (type == PasteboardTypes::timer)
            return timerUri;
        return std::nullopt;
    };
    EXPECT_EQ(controller.draggedObject(both), first);
    auto timerOnly = [&](std::string_view type) -> std::optional<std::string> {
        return type == PasteboardTypes::timer ? std::optional<std::string>(timerUri) : std::nullopt;
    };
    EXPECT_EQ(controller.draggedObject(timerOnly), timer);
    auto garbage = [](std::string_view) -> std::optional<std::string> { return "not a uri"; };
    EXPECT_EQ(controller.draggedObject(garbage), nullptr);
}

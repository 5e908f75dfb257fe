// The store loading beside the window: a window shown before the load ends offers nothing (no click,
// key or shortcut reaches a store that is not there), and works on the store once it is handed over;
// a store that cannot be opened is known before the load.
#include "app/store_loader.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_view_controller.h"
#include "model/fetch_helpers.h"
#include "model/project.h"

#include "foundation/defaults_store.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <stdexcept>
#include <thread>

using model::PersistenceController;

namespace {

class StoreLoaderTest : public ::testing::Test {
protected:
    std::filesystem::path folder() const { return directory_.path().toStdString(); }
    std::filesystem::path storePath() const { return folder() / "Projects.horavine"; }

    // A store of one project, written and closed.
    void writeStore()
    {
        PersistenceController writer(storePath(), center_);
        model::initInContext<model::Project>(writer.managedObjectContext())->setName(std::string("Existing"));
        writer.managedObjectContext().processPendingChanges();
        ASSERT_FALSE(writer.hasUnsavedChanges());
    }

    QTemporaryDir directory_;
    foundation::NotificationCenter center_;
};

// Every key a person would reach for, sent to the window, the outline and the search field.
void pressEverything(mainwindow::MainWindowController& window)
{
    const QList<QWidget*> targets{&window, window.searchField(),
                                  window.splitViewController()->projectsViewController()->findChild<QTreeView*>()};
    for (QWidget* target : targets) {
        if (!target)
            continue;
        for (Qt::Key key : {Qt::Key_N, Qt::Key_T, Qt::Key_E, Qt::Key_Z, Qt::Key_P})
            QTest::keyClick(target, key, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(target, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(target, Qt::Key_Delete);
        QTest::keyClick(target, Qt::Key_Space);
        QTest::keyClicks(target, "Existing");
    }
}

TEST_F(StoreLoaderTest, TheWindowShownBeforeTheLoadEndsOffersNothingUntilTheStoreIsIn)
{
    writeStore();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    app::StoreLoader loader([path = storePath()] { return PersistenceController::openStore(path); },
                            [released, this](PersistenceController::OpenedStore opened) {
                                released.wait();
                                return PersistenceController::loadStore(std::move(opened), center_);
                            });
    ASSERT_TRUE(loader.waitUntilOpened());
    EXPECT_FALSE(loader.isLoaded());

    foundation::DefaultsStore defaults(folder() / "defaults.json");
    mainwindow::MainWindowController window(nullptr, defaults);
    window.waitForStore(QStringLiteral("Projects.horavine"));
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // It says that the store loads, not that it is empty.
    const auto* waiting = window.splitViewController()->projectsViewController();
    EXPECT_EQ(waiting->loadingText(), QString::fromUtf8("Loading Projects.horavine…"));
    EXPECT_FALSE(waiting->isEmptyViewShown());
    QApplication::processEvents(); // a paint
    EXPECT_EQ(waiting->countsStatusText(), "");
    EXPECT_EQ(waiting->durationStatusText(), "");

    int triggered = 0;
    for (QAction* action : window.findChildren<QAction*>())
        QObject::connect(action, &QAction::triggered, [&triggered] { ++triggered; });
    // A menu, popover or dialog that opens is counted and closed, so the test goes on.
    int opened = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&opened] {
        for (QWidget* up : {QApplication::activePopupWidget(), QApplication::activeModalWidget()}) {
            if (up) {
                ++opened;
                up->close();
            }
        }
    });
    closer.start(20);
    pressEverything(window);
    // Every button of the toolbar and every row place of the outline, clicked.
    for (QToolButton* button : window.findChildren<QToolButton*>())
        QTest::mouseClick(button, Qt::LeftButton);
    if (auto* outline = window.splitViewController()->projectsViewController()->findChild<QTreeView*>())
        QTest::mouseDClick(outline->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QApplication::processEvents();
    closer.stop();
    EXPECT_EQ(triggered, 0);
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(window.searchField()->text().isEmpty());
    EXPECT_FALSE(loader.isLoaded()); // all of it happened while the load was held back

    QSignalSpy loaded(&loader, &app::StoreLoader::loaded);
    release.set_value();
    ASSERT_TRUE(loaded.wait(10'000));
    PersistenceController controller(loader.take());
    ASSERT_EQ(controller.status(), PersistenceController::Status::ok) << controller.statusMessage();
    data::ObjectContext& context = controller.managedObjectContext();
    window.attachContext(context);
    // Nothing of the above reached the store.
    EXPECT_FALSE(context.hasPendingChanges());
    EXPECT_FALSE(context.undoManager().canUndo());
    ASSERT_EQ(model::fetchAll<model::Project>(context).size(), 1u);
    EXPECT_EQ(window.splitViewController()->projectsViewController()->countsStatusText(), "1 project, 0 timers");
    EXPECT_FALSE(window.splitViewController()->projectsViewController()->isLoadingShown());

    // Handed over, the same shortcut makes a project, and the search field reaches the new outline.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    context.processPendingChanges();
    EXPECT_EQ(model::fetchAll<model::Project>(context).size(), 2u);
    EXPECT_EQ(triggered, 1);
    QTest::keyClicks(window.searchField(), "Existing");
    EXPECT_EQ(window.splitViewController()->projectsViewController()->searchTerm(), "Existing");
}

// A start that ends while the store loads (a signal, a load that fails) leaves the defaults as they
// were: the waiting window keeps no frame; once the store is in, it does.
TEST_F(StoreLoaderTest, AWindowThatNeverGotItsStoreKeepsNoFrame)
{
    writeStore();
    foundation::DefaultsStore defaults(folder() / "defaults.json");
    {
        mainwindow::MainWindowController window(nullptr, defaults);
        window.waitForStore(QStringLiteral("Projects.horavine"));
        window.show();
        window.move(40, 30);
        window.close();
    }
    EXPECT_FALSE(defaults.stringValue(mainwindow::MainWindowController::frameAutosaveName));
    EXPECT_FALSE(std::filesystem::exists(folder() / "defaults.json"));

    PersistenceController controller(storePath(), center_);
    {
        mainwindow::MainWindowController window(nullptr, defaults);
        window.waitForStore(QStringLiteral("Projects.horavine"));
        window.show();
        window.attachContext(controller.managedObjectContext());
    }
    EXPECT_TRUE(defaults.stringValue(mainwindow::MainWindowController::frameAutosaveName));
}

TEST_F(StoreLoaderTest, AStoreThatCannotBeOpenedIsKnownBeforeTheLoad)
{
    writeStore();
    {
        // Held by another launch: in use, and nothing is loaded.
        PersistenceController holder(storePath(), center_);
        ASSERT_TRUE(holder.storeIsOpen());
        app::StoreLoader loader(storePath(), center_);
        EXPECT_FALSE(loader.waitUntilOpened());
        PersistenceController failed(loader.take());
        EXPECT_EQ(failed.status(), PersistenceController::Status::storeInUse);
        EXPECT_NE(failed.statusMessage().find("in use"), std::string::npos);
        EXPECT_TRUE(model::fetchAll<model::Project>(failed.managedObjectContext()).empty());
    }
    // Not a database: cannot be opened, and the file stays as it was.
    const std::string junk = "somebody's notes, not a store\n";
    std::ofstream(storePath(), std::ios::binary | std::ios::trunc) << junk;
    {
        app::StoreLoader loader(storePath(), center_);
        QSignalSpy loaded(&loader, &app::StoreLoader::loaded);
        EXPECT_FALSE(loader.waitUntilOpened());
        EXPECT_TRUE(loaded.wait(10'000)); // told as any load is, so the launch never waits for nothing
        PersistenceController failed(loader.take());
        EXPECT_EQ(failed.status(), PersistenceController::Status::cannotOpen);
        model::initInContext<model::Project>(failed.managedObjectContext());
        EXPECT_FALSE(failed.save()); // kept in memory, never written over somebody's file
    }
    std::ifstream in(storePath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), junk);
}

// A quit during the load (the loader goes before the load is in) stops the reads at once rather than
// after every row, and a stopped load is no damage: no copy of the file, no finding to tell.
TEST_F(StoreLoaderTest, ALoaderThatGoesDuringTheLoadStopsItAndCallsNothingDamaged)
{
    constexpr std::size_t written = 3000;
    {
        PersistenceController writer(storePath(), center_);
        for (std::size_t i = 0; i < written; ++i)
            model::initInContext<model::Project>(writer.managedObjectContext())->setName("P" + std::to_string(i));
        writer.managedObjectContext().processPendingChanges();
        ASSERT_FALSE(writer.hasUnsavedChanges());
    }
    bool sawStop = false;
    PersistenceController::Status status = PersistenceController::Status::ok;
    std::optional<PersistenceController::StoreDamage> damage;
    std::size_t loadedProjects = written;
    {
        app::StoreLoader loader([path = storePath()] { return PersistenceController::openStore(path); },
                                [&](app::StoreLoader::OpenedStore opened) {
                                    // The load starts once the loader is on its way out.
                                    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                                    while (!opened.store->stopToken().stop_requested()
                                           && std::chrono::steady_clock::now() < deadline)
                                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                    sawStop = opened.store->stopToken().stop_requested();
                                    auto loaded = PersistenceController::loadStore(std::move(opened), center_);
                                    status = loaded.status;
                                    damage = loaded.damage;
                                    loadedProjects = model::fetchAll<model::Project>(*loaded.context).size();
                                    return loaded;
                                });
        ASSERT_TRUE(loader.waitUntilOpened());
    }
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(status, PersistenceController::Status::cannotOpen);
    EXPECT_LT(loadedProjects, written);
    EXPECT_FALSE(damage);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder()))
        ++files;
    EXPECT_EQ(files, 1u); // the store alone
    // Loaded to the end when nothing stops it.
    app::StoreLoader loader(storePath(), center_);
    PersistenceController controller(loader.take());
    EXPECT_EQ(model::fetchAll<model::Project>(controller.managedObjectContext()).size(), written);
}

// An error thrown on the loading thread is met on the main thread where it would have been met
// loading there: by the question whether the store opened, or by the hand-over; the loader tells of
// the end either way, so the launch never waits for a load that is over.
TEST_F(StoreLoaderTest, AnErrorOnTheLoadingThreadIsMetOnTheMainThread)
{
    {
        app::StoreLoader loader([]() -> app::StoreLoader::OpenedStore { throw std::runtime_error("open"); },
                                [](app::StoreLoader::OpenedStore) -> app::StoreLoader::LoadedStore {
                                    throw std::logic_error("loaded what did not open");
                                });
        QSignalSpy loaded(&loader, &app::StoreLoader::loaded);
        EXPECT_THROW(loader.waitUntilOpened(), std::runtime_error);
        EXPECT_TRUE(loaded.wait(10'000));
        ASSERT_TRUE(loader.isLoaded()); // take() would not block
        EXPECT_THROW(loader.take(), std::runtime_error);
    }
    writeStore();
    app::StoreLoader loader(
        [path = storePath()] { return PersistenceController::openStore(path); },
        [](app::StoreLoader::OpenedStore) -> app::StoreLoader::LoadedStore { throw std::runtime_error("load"); });
    QSignalSpy loaded(&loader, &app::StoreLoader::loaded);
    EXPECT_TRUE(loader.waitUntilOpened());
    EXPECT_TRUE(loaded.wait(10'000));
    ASSERT_TRUE(loader.isLoaded());
    EXPECT_THROW(loader.take(), std::runtime_error);
}

} // namespace

// The projects view controller: status line, empty view, timer creation, selection reporting,
// remembered expansion (also after a restart), row look-ups, context menus, the refresh tick, the
// pulse of running dots and how a selected row is painted.
#include "mainwindow/column_identifier.h"
#include "mainwindow/projects_outline_delegate.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"
#include "mainwindow/projects_view_controller_delegate.h"

#include "model/persistence_controller.h"
#include "model/preferences.h"

#include "foundation/diagnostics.h"
#include "ui/modal_test_hook.h"

#include "store_fixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>

using namespace mainwindow;
using testsupport::march;

namespace {

class RecordingDelegate : public ProjectsViewControllerDelegate {
public:
    void projectsViewControllerDidSelectProject(ProjectsViewController&, model::Project& project) override
    {
        calls.push_back("project " + project.name().value_or(""));
    }
    void projectsViewControllerDidSelectTimer(ProjectsViewController&, model::Timer& timer) override
    {
        calls.push_back("timer " + timer.notes().value_or(""));
    }
    void projectsViewControllerDidCreateTimer(ProjectsViewController&, model::Timer& timer) override
    {
        calls.push_back("created " + std::to_string(timer.type().value_or(-1)));
    }
    void projectsViewControllerDidDeselect(ProjectsViewController&) override { calls.push_back("deselect"); }

    std::vector<std::string> calls;
};

class ProjectsViewControllerTest : public testsupport::StoreFixture {
protected:
    ProjectsViewControllerTest()
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::day));
    }

    std::unique_ptr<ProjectsViewController> makeController()
    {
        auto controller = std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
        controller->resize(800, 500);
        return controller;
    }
    // The name editor open in a project row, if any.
    static QLineEdit* openNameEditor(ProjectsViewController& controller)
    {
        for (QLineEdit* editor : controller.outlineView()->viewport()->findChildren<QLineEdit*>("projectNameEditor"))
            if (!editor->isHidden())
                return editor;
        return nullptr;
    }
    static bool isExpanded(ProjectsViewController& controller, model::Project* project)
    {
        return controller.outlineView()->isExpanded(controller.outlineModel()->indexOf(project));
    }
    int changeNotices() { return notices_; }

    int notices_ = 0;
    foundation::ObserverToken noticeToken_ = center_.addObserver(
        data::ObjectsDidChangeNotification, nullptr, [this](const foundation::Notification&) { ++notices_; });
};

TEST_F(ProjectsViewControllerTest, StatusLineCountsListedProjectsAndTimersAndSumsTheirDurations)
{
    auto controller = makeController();
    EXPECT_EQ(controller->countsStatusText(), "0 projects, 0 timers");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 00:00");
    EXPECT_TRUE(controller->isEmptyViewShown());

    model::Project* website = project("Website");
    periodTimer(website, march(6, 8), 90);
    controller->updateProjectsList(true);
    EXPECT_EQ(controller->countsStatusText(), "1 project, 1 timer");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:30");
    EXPECT_FALSE(controller->isEmptyViewShown());

    // Projects without timers in the range count; timers of other days and billed ones (while
    // hidden) do not.
    project("Empty");
    project("Third");
    fixedTimer(website, march(6, 11), 1410);
    periodTimer(website, march(5, 8), 60);
    periodTimer(website, march(6, 12), 60)->setBilled(true);
    controller->updateProjectsList(true);
    EXPECT_EQ(controller->countsStatusText(), "3 projects, 2 timers");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 25:00");

    model::Preferences(*defaults_).setShowsBilledTimers(true);
    controller->updateProjectsList(false);
    EXPECT_EQ(controller->countsStatusText(), "3 projects, 3 timers");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 26:00");
}

TEST_F(ProjectsViewControllerTest, DurationsFollowEditedAndResumedTimersOnceTheirRowsAreReloaded)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* fixed = fixedTimer(website, march(6, 8), 30);
    model::Timer* stopped = periodTimer(website, march(6, 9), 60);
    auto controller = makeController();
    const QModelIndex row = controller->outlineModel()->indexOf(website);
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:30");

    fixed->setFixedDuration(90);
    controller->reloadDurationForProject(*website);
    controller->updateStatusLabels();
    EXPECT_EQ(row.data(ProjectsOutlineModel::ProjectDurationRole).toString(), "02:30");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 02:30");

    // Resumed: its minutes grow with the clock again (09:00 to 10:17).
    stopped->setEnd(std::nullopt);
    controller->reloadItem(*stopped);
    controller->updateStatusLabels();
    EXPECT_EQ(controller->durationStatusText(), "Duration: 02:47");
    clock_->advance(std::chrono::minutes(10));
    controller->updateStatusLabels();
    EXPECT_EQ(controller->durationStatusText(), "Duration: 02:57");
    EXPECT_EQ(row.data(ProjectsOutlineModel::ProjectDurationRole).toString(), "02:57");
}

TEST_F(ProjectsViewControllerTest, NewProjectRemovesTheEmptyViewAndIsSelected)
{
    auto controller = makeController();
    RecordingDelegate delegate;
    controller->setDelegate(&delegate);
    ASSERT_TRUE(controller->isEmptyViewShown());
    model::Project* created = controller->newProject();
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(controller->isEmptyViewShown());
    EXPECT_EQ(controller->selectedItem(), created);
    EXPECT_EQ(controller->projects(), std::vector<model::Project*>{created});

    // Its name is open for typing at once.
    QLineEdit* editor = openNameEditor(*controller);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->selectedText(), "New project");
    QTest::keyClicks(editor, "Deck");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // Return commits on the next turn
    EXPECT_EQ(created->name(), "Deck");
}

// F2, Return or a double click on the name open the name in the row; Return stores the typed name
// as one undo step, Escape and an empty name change nothing; a double click elsewhere opens nothing.
TEST_F(ProjectsViewControllerTest, AProjectIsRenamedInItsRowByKeyboardAsOneUndoStep)
{
    model::Project* garden = project("Garden");
    periodTimer(garden, march(6, 8), 30);
    context_->processPendingChanges();
    auto controller = makeController();
    controller->show();
    ProjectsOutlineView& view = *controller->outlineView();
    controller->selectItem(*garden);
    const auto rename = [&](Qt::Key opening, const QString& typed, Qt::Key closing) {
        QTest::keyClick(&view, opening);
        QLineEdit* editor = openNameEditor(*controller);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), "Garden");
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, closing);
        QCoreApplication::processEvents(); // Return commits on the next turn
        EXPECT_EQ(openNameEditor(*controller), nullptr);
        context_->processPendingChanges();
    };
    auto& undo = context_->undoManager();
    const auto steps = undo.undoCount();

    rename(Qt::Key_Return, "Orchard", Qt::Key_Escape);
    rename(Qt::Key_F2, " ", Qt::Key_Return);
    EXPECT_EQ(garden->name(), "Garden");
    EXPECT_EQ(undo.undoCount(), steps);

    rename(Qt::Key_F2, "  Shed ", Qt::Key_Return);
    EXPECT_EQ(garden->name(), "Shed");
    EXPECT_EQ(undo.undoCount(), steps + 1);
    EXPECT_EQ(controller->outlineModel()->indexOf(garden).data().toString(), "Shed");
    undo.undo();
    context_->processPendingChanges();
    EXPECT_EQ(garden->name(), "Garden");
    EXPECT_EQ(controller->outlineModel()->indexOf(garden).data().toString(), "Garden");

    const QModelIndex row = controller->outlineModel()->indexOf(garden);
    const QRect rect = view.visualRect(row);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, rect.topLeft() + QPoint(12, rect.height() / 2));
    ASSERT_NE(openNameEditor(*controller), nullptr);
    QTest::keyClick(openNameEditor(*controller), Qt::Key_Escape);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                       rect.topRight() + QPoint(-60, rect.height() / 2));
    EXPECT_EQ(openNameEditor(*controller), nullptr);
    EXPECT_EQ(garden->name(), "Garden");
}

TEST_F(ProjectsViewControllerTest, CreatedTimersAreListedInStartOrderExpandedAndSelected)
{
    model::Project* website = project("Website");
    periodTimer(website, march(6, 8), 30, "before");
    periodTimer(website, march(6, 11), 30, "after");
    auto controller = makeController();
    RecordingDelegate delegate;
    controller->setDelegate(&delegate);

    model::Timer* period = controller->createTimer(*website, model::TimerType::period);
    ASSERT_NE(period, nullptr);
    EXPECT_EQ(period->start(), march(6, 10, 17));
    EXPECT_FALSE(period->end());
    EXPECT_EQ(period->notes(), "");
    EXPECT_TRUE(isExpanded(*controller, website));
    EXPECT_TRUE(website->expanded());
    EXPECT_EQ(controller->selectedItem(), period);
    EXPECT_EQ(controller->outlineModel()->indexOf(period).row(), 1);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"created 0", "timer "}));

    model::Timer* fixed = controller->createTimer(*website, model::TimerType::duration, "typed");
    EXPECT_EQ(fixed->end(), fixed->start());
    EXPECT_EQ(fixed->type(), 1);
    EXPECT_EQ(fixed->notes(), "typed");
    model::Timer* expense = controller->createTimer(*website, model::TimerType::expense);
    EXPECT_EQ(expense->end(), expense->start());
    EXPECT_EQ(expense->type(), 2);
    EXPECT_EQ(controller->outlineModel()->timers(*website), website->timers(controller->filter()));
    EXPECT_EQ(controller->selectedItem(), expense);

    // A search term goes first, so the new timer is listed and selected.
    controller->setSearchTerm("before");
    QSignalSpy cleared(controller.get(), &ProjectsViewController::searchTermCleared);
    model::Timer* searched = controller->createTimer(*website, model::TimerType::period);
    ASSERT_NE(searched, nullptr);
    EXPECT_FALSE(controller->searchTerm().has_value());
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_EQ(controller->selectedItem(), searched);

    // A timer outside the shown range gets no row, and nothing is selected for it.
    controller->setDateFilterReferenceDate(march(1, 12));
    controller->updateDateFilter();
    model::Timer* hidden = controller->createTimer(*website, model::TimerType::period);
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(controller->outlineModel()->indexOf(hidden).isValid());
    EXPECT_NE(controller->selectedItem(), hidden);
    EXPECT_EQ(cleared.count(), 1);
}

TEST_F(ProjectsViewControllerTest, SelectionIsReportedAndSurvivesListUpdates)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* timer = periodTimer(website, march(6, 8), 30, "work");
    auto controller = makeController();
    RecordingDelegate delegate;
    controller->setDelegate(&delegate);

    controller->selectItem(*timer);
    EXPECT_EQ(delegate.calls.back(), "timer work");
    EXPECT_EQ(controller->selectedProject(), website);
    controller->updateProjectsList(true);
    EXPECT_EQ(controller->selectedItem(), timer);
    EXPECT_EQ(delegate.calls.back(), "timer work");

    controller->selectItem(*website);
    EXPECT_EQ(delegate.calls.back(), "project Website");
    controller->outlineView()->selectionModel()->clearSelection();
    EXPECT_EQ(delegate.calls.back(), "deselect");
    EXPECT_EQ(controller->selectedItem(), nullptr);
    EXPECT_EQ(controller->selectedProject(), nullptr);
}

// A timer's start edited (in the pane) so that its row moves among its project's timers stays
// selected, in view, and the pane is not told of any other selection meanwhile.
TEST_F(ProjectsViewControllerTest, AnEditedTimerWhoseRowMovesStaysSelected)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    periodTimer(website, march(6, 8), 30, "early");
    model::Timer* late = periodTimer(website, march(6, 9), 30, "late");
    context_->processPendingChanges();
    auto controller = makeController();
    controller->show();
    RecordingDelegate delegate;
    controller->setDelegate(&delegate);
    controller->selectItem(*late);
    ASSERT_EQ(delegate.calls, std::vector<std::string>{"timer late"});

    late->setStart(march(6, 7));
    context_->processPendingChanges();
    EXPECT_EQ(controller->rowIndexOf(*late).row(), 0);
    EXPECT_EQ(controller->selectedItem(), late);
    const QModelIndexList rows = controller->outlineView()->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first(), controller->rowIndexOf(*late));
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"timer late"});
}

// Grid lines part the timer cells down to the bottom of the third row from the end: the last two
// rows have none, and with fewer than three rows there are none at all.
TEST_F(ProjectsViewControllerTest, GridLinesEndAtTheThirdRowFromTheEnd)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    for (int hour : {6, 7, 8, 9})
        periodTimer(website, march(6, hour), 30);
    context_->processPendingChanges();
    auto controller = makeController();
    controller->show();
    ProjectsOutlineView& view = *controller->outlineView();
    const auto timers = controller->currentTimersForProject(*website);
    ASSERT_EQ(timers.size(), 4u);
    const auto rowRect = [&](model::Timer* timer) { return view.visualRect(controller->rowIndexOf(*timer)); };
    EXPECT_EQ(view.gridArea().bottom(), rowRect(timers[1]).bottom()); // 5 rows: the third from the end

    const int date = static_cast<int>(ColumnIdentifier::date);
    const int x = view.header()->sectionViewportPosition(date) + view.header()->sectionSize(date) - 1;
    const QImage painted = view.viewport()->grab().toImage();
    EXPECT_EQ(painted.pixelColor(x, rowRect(timers[0]).center().y()).rgb(), ProjectsOutlineView::gridColour().rgb());
    EXPECT_NE(painted.pixelColor(x, rowRect(timers[2]).center().y()).rgb(), ProjectsOutlineView::gridColour().rgb());

    view.collapse(controller->outlineModel()->indexOf(website));
    EXPECT_TRUE(view.gridArea().isEmpty());
}

TEST_F(ProjectsViewControllerTest, ItemsWithoutARowAreNeitherSelectedNorReloaded)
{
    model::Project* website = project("Website");
    model::Timer* collapsedChild = periodTimer(website, march(6, 8), 30, "inside");
    model::Timer* otherDay = periodTimer(website, march(2, 8), 30, "other day");
    model::Project* archived = project("Old", true);
    auto controller = makeController();
    controller->selectItem(*website);
    QSignalSpy changes(controller->outlineModel(), &QAbstractItemModel::dataChanged);

    for (data::Object* item : std::initializer_list<data::Object*>{collapsedChild, otherDay, archived}) {
        EXPECT_FALSE(controller->rowIndexOf(*item).isValid());
        controller->selectItem(*item);
        EXPECT_EQ(controller->selectedItem(), website);
        controller->reloadItem(*item);
    }
    controller->reloadDurationForProject(*archived);
    EXPECT_EQ(changes.count(), 0);

    controller->reloadItem(*website);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(ProjectsViewControllerTest, ExpansionIsSavedWithoutUndoAndRememberedAfterARestart)
{
    const std::filesystem::path storePath = std::filesystem::path(folder_.path().toStdString()) / "Projects.horavine";
    auto persistence = std::make_unique<model::PersistenceController>(storePath, center_);
    data::ObjectContext& context = persistence->managedObjectContext();
    auto* website = model::initInContext<model::Project>(context);
    website->setName("Website");
    auto* app = model::initInContext<model::Project>(context);
    app->setName("App");
    context.processPendingChanges();
    context.undoManager().removeAllActions();
    const auto makeControllerOver = [this](data::ObjectContext& store) {
        auto controller = std::make_unique<ProjectsViewController>(&store, *defaults_);
        controller->resize(800, 500);
        return controller;
    };
    {
        auto controller = makeControllerOver(context);
        EXPECT_FALSE(isExpanded(*controller, website));
        controller->outlineView()->expand(controller->outlineModel()->indexOf(website));
        context.processPendingChanges();
        EXPECT_TRUE(website->expanded());
        EXPECT_FALSE(context.undoManager().canUndo());
        EXPECT_EQ(defaults_->stringArray(ProjectsOutlineViewAutosaveName),
                  std::vector<std::string>{website->uriRepresentation()});

        // A registered change, then an expansion in a later turn, then Undo: the Undo takes back the
        // change and the project stays expanded, in the store and in the outline.
        app->setName("App 2");
        context.processPendingChanges();
        controller->outlineView()->expand(controller->outlineModel()->indexOf(app));
        context.processPendingChanges();
        ASSERT_TRUE(context.undoManager().canUndo());
        context.undoManager().undo();
        EXPECT_EQ(app->name(), "App");
        EXPECT_FALSE(context.undoManager().canUndo());
        EXPECT_TRUE(app->expanded());
        EXPECT_TRUE(isExpanded(*controller, app));
        EXPECT_TRUE(isExpanded(*controller, website));

        controller->outlineView()->collapse(controller->outlineModel()->indexOf(app));
        context.processPendingChanges();
        EXPECT_FALSE(app->expanded());
        // Every list update re-applies the remembered state.
        controller->updateProjectsList(true);
        EXPECT_TRUE(isExpanded(*controller, website));
        EXPECT_FALSE(isExpanded(*controller, app));
    }
    // A restart: the store opened again from its file, the defaults read again from theirs.
    persistence.reset();
    defaults_ = std::make_unique<foundation::DefaultsStore>(defaultsPath(), center_);
    persistence = std::make_unique<model::PersistenceController>(storePath, center_);
    ASSERT_EQ(persistence->status(), model::PersistenceController::Status::ok);
    data::ObjectContext& reopened = persistence->managedObjectContext();
    const int noticesBefore = changeNotices();
    auto restarted = makeControllerOver(reopened);
    reopened.processPendingChanges();
    EXPECT_EQ(changeNotices(), noticesBefore);
    ASSERT_EQ(restarted->projects().size(), 2u);
    model::Project* websiteAgain = restarted->projects()[0];
    model::Project* appAgain = restarted->projects()[1];
    ASSERT_EQ(websiteAgain->name(), "Website");
    EXPECT_TRUE(websiteAgain->expanded());
    EXPECT_TRUE(isExpanded(*restarted, websiteAgain));
    EXPECT_FALSE(isExpanded(*restarted, appAgain));

    restarted->outlineView()->collapse(restarted->outlineModel()->indexOf(websiteAgain));
    EXPECT_FALSE(websiteAgain->expanded());
    EXPECT_EQ(defaults_->stringArray(ProjectsOutlineViewAutosaveName), std::vector<std::string>{});
}

// The remembered list is written the moment a project is expanded or collapsed, the store's flag
// only with the next save: where they disagree (a save lost in a crash) the list decides, and
// applying it writes nothing to the store. Without a list the flags decide.
TEST_F(ProjectsViewControllerTest, RememberedListDecidesOverStoredFlagsAndTheFlagsSeedAMissingList)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Project* app = project("App");
    model::Project* docs = project("Docs");
    docs->setExpanded(true);
    context_->processPendingChanges();
    {
        const std::vector<std::string> saved{app->uriRepresentation(), docs->uriRepresentation()};
        defaults_->set(ProjectsOutlineViewAutosaveName, foundation::DefaultsArray(saved.begin(), saved.end()));
        const int noticesBefore = changeNotices();
        auto controller = makeController();
        for (int update = 0; update < 2; ++update) {
            EXPECT_FALSE(isExpanded(*controller, website)) << update;
            EXPECT_TRUE(isExpanded(*controller, app)) << update;
            EXPECT_TRUE(isExpanded(*controller, docs)) << update;
            controller->updateProjectsList(true);
        }
        context_->processPendingChanges();
        EXPECT_EQ(changeNotices(), noticesBefore);
        EXPECT_FALSE(app->expanded());
    }
    {
        defaults_->remove(ProjectsOutlineViewAutosaveName);
        auto controller = makeController();
        EXPECT_TRUE(isExpanded(*controller, website));
        EXPECT_FALSE(isExpanded(*controller, app));
        // The first expansion writes the list with the projects the flags had expanded.
        controller->outlineView()->expand(controller->outlineModel()->indexOf(app));
        EXPECT_EQ(defaults_->stringArray(ProjectsOutlineViewAutosaveName),
                  (std::vector<std::string>{website->uriRepresentation(), docs->uriRepresentation(),
                                            app->uriRepresentation()}));
        controller->updateProjectsList(true);
        EXPECT_TRUE(isExpanded(*controller, website));
        EXPECT_TRUE(isExpanded(*controller, app));
    }
}

// A settings file that cannot be written (here a folder took its name) is told once per run of
// failures: the expansion and the billed setting still change, and the first write that works again
// ends the run, so the next failure is told again.
TEST_F(ProjectsViewControllerTest, FailedSettingsWritesAreToldOnceUntilAWriteWorksAgain)
{
    model::Project* website = project("Website");
    model::Project* app = project("App");
    periodTimer(website, march(6, 8), 30);
    periodTimer(app, march(6, 9), 30);
    auto controller = makeController();
    ui::ModalTestHook hook;
    foundation::DiagnosticCapture diagnostics;
    const auto blockSettingsFile = [&] {
        std::filesystem::remove(defaultsPath());
        std::filesystem::create_directory(defaultsPath());
    };
    const auto indexOf = [&](model::Project* project) { return controller->outlineModel()->indexOf(project); };

    blockSettingsFile();
    controller->outlineView()->expand(indexOf(website));
    ASSERT_EQ(hook.alerts.size(), 1u);
    EXPECT_TRUE(hook.alerts[0].windowModal);
    EXPECT_EQ(hook.alerts[0].window, controller->window());
    EXPECT_EQ(hook.alerts[0].alert.alertStyle, ui::AlertStyle::warning);
    EXPECT_EQ(hook.alerts[0].alert.messageText, "A setting could not be saved.");
    EXPECT_TRUE(hook.alerts[0].alert.informativeText.startsWith("Which projects are expanded could not be written"));
    EXPECT_TRUE(hook.alerts[0].alert.informativeText.contains(QString::fromStdString(defaultsPath().string())));
    EXPECT_TRUE(isExpanded(*controller, website));

    const bool showedBilled = model::Preferences(*defaults_).showsBilledTimers();
    controller->outlineView()->expand(indexOf(app));
    controller->toggleShowBilledTimers();
    EXPECT_EQ(hook.alerts.size(), 1u) << "the same run of failures";
    EXPECT_NE(model::Preferences(*defaults_).showsBilledTimers(), showedBilled) << "kept in memory";
    EXPECT_FALSE(diagnostics.lines().empty());

    std::filesystem::remove(defaultsPath());
    controller->outlineView()->collapse(indexOf(website));
    EXPECT_EQ(hook.alerts.size(), 1u);
    foundation::DefaultsStore reread(defaultsPath());
    EXPECT_EQ(reread.stringArray(ProjectsOutlineViewAutosaveName), std::vector<std::string>{app->uriRepresentation()});

    blockSettingsFile();
    controller->toggleShowBilledTimers();
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_TRUE(hook.alerts[1].alert.informativeText.startsWith("Whether billed timers are shown could not be"));
}

TEST_F(ProjectsViewControllerTest, AutosavedEntriesOfDeletedOrUnknownProjectsAreSkipped)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Project* gone = project("Gone");
    const std::string goneURI = gone->uriRepresentation();
    context_->deleteObject(gone);
    context_->processPendingChanges();
    const std::vector<std::string> saved{goneURI, "not a uri", "x-horavine://other/Project/p1",
                                         website->uriRepresentation()};
    defaults_->set(ProjectsOutlineViewAutosaveName, foundation::DefaultsArray(saved.begin(), saved.end()));
    auto controller = makeController();
    EXPECT_TRUE(isExpanded(*controller, website));
    EXPECT_EQ(controller->projects().size(), 1u);
    // Restoring writes nothing back.
    EXPECT_EQ(defaults_->stringArray(ProjectsOutlineViewAutosaveName), saved);
}

TEST_F(ProjectsViewControllerTest, ContextMenuFollowsTheRowUnderTheMouse)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* timer = periodTimer(website, march(6, 8), 30);
    model::Project* archived = project("Old", true);
    archived->setExpanded(true);
    model::Timer* archivedTimer = periodTimer(archived, march(6, 8), 30);
    auto controller = makeController();
    controller->setProjectsPredicate({});
    controller->show();
    ProjectsOutlineView& view = *controller->outlineView();
    const auto menuAt = [&](const data::Object* item) {
        const QPoint point = item ? view.visualRect(controller->outlineModel()->indexOf(item)).center()
                                  : QPoint(10, view.viewport()->height() - 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, view.viewport()->mapToGlobal(point));
        return view.menuForEvent(event);
    };

    EXPECT_EQ(menuAt(website), controller->projectContextMenu());
    EXPECT_EQ(controller->selectedItem(), website);
    EXPECT_EQ(menuAt(timer), controller->timerContextMenu());
    EXPECT_EQ(controller->selectedItem(), timer);
    // A timer of an archived project is selected but gets no menu; empty space changes nothing.
    EXPECT_EQ(menuAt(archivedTimer), nullptr);
    EXPECT_EQ(controller->selectedItem(), archivedTimer);
    EXPECT_EQ(menuAt(nullptr), nullptr);
    EXPECT_EQ(controller->selectedItem(), archivedTimer);
}

// Collects the regions the outline repaints.
class PaintRecorder : public QObject {
public:
    QRegion painted;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return QObject::eventFilter(watched, event);
    }
};

TEST_F(ProjectsViewControllerTest, RefreshTickRepaintsOnlyRunningDurationsAndTheirProjects)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* running = runningTimer(website, march(6, 9));
    model::Timer* stopped = periodTimer(website, march(6, 8), 30);
    model::Project* quiet = project("Quiet");
    periodTimer(quiet, march(6, 8), 30);
    auto controller = makeController();
    controller->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(controller->durationStatusText(), "Duration: 02:17");
    ProjectsOutlineView& view = *controller->outlineView();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    PaintRecorder recorder;
    view.viewport()->installEventFilter(&recorder);

    clock_->advance(std::chrono::minutes(13));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    QCoreApplication::processEvents();

    const QRect runningDuration = view.visualRect(outline.indexOf(running, ColumnIdentifier::duration));
    EXPECT_TRUE(recorder.painted.contains(runningDuration));
    EXPECT_TRUE(recorder.painted.contains(view.visualRect(outline.indexOf(website))));
    EXPECT_FALSE(recorder.painted.intersects(view.visualRect(outline.indexOf(running, ColumnIdentifier::notes))));
    EXPECT_FALSE(recorder.painted.intersects(view.visualRect(outline.indexOf(stopped, ColumnIdentifier::duration))));
    EXPECT_FALSE(recorder.painted.intersects(view.visualRect(outline.indexOf(quiet))));
    EXPECT_EQ(outline.indexOf(running, ColumnIdentifier::duration).data().toString(), "01:30");
    EXPECT_EQ(outline.indexOf(website).data(ProjectsOutlineModel::ProjectDurationRole).toString(), "02:00");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 02:30");

    // Without running timers nothing is repainted for the tick.
    running->setEnd(march(6, 10, 40));
    recorder.painted = QRegion();
    view.viewport()->removeEventFilter(&recorder);
    QCoreApplication::processEvents();
    view.viewport()->installEventFilter(&recorder);
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.painted.isEmpty());
}

TEST_F(ProjectsViewControllerTest, PaintedRowButtonsReportTheirRowsItem)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* running = runningTimer(website, march(6, 9));
    model::Project* old = project("Old", true);
    auto controller = makeController();
    controller->setProjectsPredicate({});
    controller->show();
    QCoreApplication::processEvents();
    ProjectsOutlineView& view = *controller->outlineView();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    std::vector<data::Object*> newTimer, togglePause, stop;
    QObject::connect(controller.get(), &ProjectsViewController::newTimerButtonClicked,
                     [&](model::Project* p) { newTimer.push_back(p); });
    QObject::connect(controller.get(), &ProjectsViewController::togglePauseButtonClicked,
                     [&](model::Timer* t) { togglePause.push_back(t); });
    QObject::connect(controller.get(), &ProjectsViewController::stopButtonClicked,
                     [&](model::Timer* t) { stop.push_back(t); });

    const QRect websiteRow = view.visualRect(outline.indexOf(website));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      ProjectsOutlineDelegate::newTimerButtonRect(websiteRow).center());
    EXPECT_EQ(newTimer, std::vector<data::Object*>{website});
    // An archived project's button is disabled.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      ProjectsOutlineDelegate::newTimerButtonRect(view.visualRect(outline.indexOf(old))).center());
    EXPECT_EQ(newTimer.size(), 1u);

    const QRect actions = view.visualRect(outline.indexOf(running, ColumnIdentifier::actions));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      ProjectsOutlineDelegate::togglePauseButtonRect(actions).center());
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, ProjectsOutlineDelegate::stopButtonRect(actions).center());
    EXPECT_EQ(togglePause, std::vector<data::Object*>{running});
    EXPECT_EQ(stop, std::vector<data::Object*>{running});
}

TEST_F(ProjectsViewControllerTest, RunningDotsPulseOnlyWhileARunningTimersRowIsOnScreen)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    for (int minute = 0; minute < 80; minute += 2)
        periodTimer(website, march(6, 0, minute), 1);
    context_->processPendingChanges();
    auto controller = makeController();
    controller->show();
    ProjectsOutlineView& view = *controller->outlineView();
    const auto pulsing = [&view] {
        QCoreApplication::processEvents();
        return view.isPulsing();
    };
    EXPECT_FALSE(pulsing());

    // The new running timer is the last of 41 rows, below the fold until scrolled to.
    controller->startNewTimer(website);
    context_->processPendingChanges();
    model::Timer* running = controller->outlineModel()->timers(*website).back();
    ASSERT_FALSE(running->end());
    view.scrollToTop();
    EXPECT_FALSE(pulsing());
    view.scrollToBottom();
    EXPECT_TRUE(pulsing());

    view.collapse(controller->outlineModel()->indexOf(website));
    EXPECT_FALSE(pulsing());
    view.expand(controller->outlineModel()->indexOf(website));
    view.scrollToBottom();
    EXPECT_TRUE(pulsing());

    running->stop();
    context_->processPendingChanges();
    EXPECT_FALSE(pulsing());
    running->resumeFromStopped();
    context_->processPendingChanges();
    EXPECT_TRUE(pulsing());
    controller->hide();
    EXPECT_FALSE(pulsing());
}

TEST_F(ProjectsViewControllerTest, SelectedTimerRowKeepsItsIndentationWhiteWithTheBarAtTheFirstColumnOnScreen)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* timer = periodTimer(website, march(6, 8), 30, "work");
    auto controller = makeController();
    controller->show();
    ProjectsOutlineView& view = *controller->outlineView();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    controller->selectItem(*timer);
    QCoreApplication::processEvents();
    const QColor selection = ProjectsOutlineDelegate::selectionColour(&view, view.palette());
    const QColor tint = ProjectsOutlineDelegate::selectionTint(selection);
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2
               && std::abs(a.blue() - b.blue()) <= 2;
    };
    const auto expectRow = [&](ColumnIdentifier first, ColumnIdentifier other, const std::string& layout) {
        const QImage image = view.viewport()->grab().toImage();
        const QRect firstCell = view.visualRect(outline.indexOf(timer, first));
        const QRect otherCell = view.visualRect(outline.indexOf(timer, other));
        const int y = firstCell.center().y();
        const auto at = [&](int x) { return QColor(image.pixel(x, y)); };
        EXPECT_GT(firstCell.left(), view.indentation()) << layout;
        EXPECT_EQ(at(firstCell.left() - view.indentation() - 3), QColor(Qt::white)) << layout;
        EXPECT_EQ(at(firstCell.left() - 2), QColor(Qt::white)) << layout;
        EXPECT_TRUE(near(at(firstCell.left() + 2), selection))
            << layout << ": " << at(firstCell.left() + 2).name().toStdString();
        EXPECT_TRUE(near(at(firstCell.left() + ProjectsOutlineDelegate::selectionBarWidth + 1), tint)) << layout;
        EXPECT_TRUE(near(at(otherCell.left() + 2), tint)) << layout;
    };
    expectRow(ColumnIdentifier::date, ColumnIdentifier::notes, "date first");

    // With the date column dragged to the end, the indentation and the bar move to the notes column.
    QHeaderView* header = view.header();
    header->moveSection(header->visualIndex(static_cast<int>(ColumnIdentifier::date)), header->count() - 1);
    QCoreApplication::processEvents();
    expectRow(ColumnIdentifier::notes, ColumnIdentifier::date, "notes first");
}

TEST_F(ProjectsViewControllerTest, FocusingTheOutlinePaintsNoRowSelectedWhileNothingIsSelected)
{
    project("Website");
    project("Garden");
    auto controller = makeController();
    controller->show();
    QApplication::setActiveWindow(controller.get());
    ProjectsOutlineView& view = *controller->outlineView();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    QCoreApplication::processEvents();
    const auto rowColour = [&](int row) {
        const QImage image = view.viewport()->grab().toImage();
        const QRect cell = view.visualRect(outline.index(row, 0));
        return QColor(image.pixel(cell.left() + 1, cell.center().y())).name().toStdString();
    };
    const std::string unselected = rowColour(1);
    ASSERT_EQ(rowColour(0), unselected);

    view.setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    ASSERT_TRUE(view.hasFocus());
    EXPECT_FALSE(view.selectionModel()->hasSelection());
    EXPECT_EQ(controller->selectedItem(), nullptr);
    EXPECT_EQ(rowColour(0), unselected);

    // The keyboard still starts at the first row, which then is selected and painted so.
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(controller->selectedItem(), controller->projects().front());
    EXPECT_NE(rowColour(0), unselected);
}

TEST_F(ProjectsViewControllerTest, WithoutAStoreNothingIsListedOrCreated)
{
    ProjectsViewController controller(nullptr, *defaults_);
    EXPECT_TRUE(controller.projects().empty());
    EXPECT_EQ(controller.newProject(), nullptr);
    controller.refreshDurationsInList();
    controller.updateProjectsList(true);
    EXPECT_EQ(controller.countsStatusText(), "0 projects, 0 timers");
}

TEST_F(ProjectsViewControllerTest, ColumnFixesPutStatusBeforeDurationAndFillTheWidthWithNotes)
{
    auto controller = makeController();
    QHeaderView* header = controller->outlineView()->header();
    const int status = static_cast<int>(ColumnIdentifier::status);
    const int duration = static_cast<int>(ColumnIdentifier::duration);
    header->moveSection(header->visualIndex(status), 4);
    ASSERT_EQ(header->visualIndex(duration), 2);
    controller->fixColumnOrder();
    EXPECT_EQ(header->visualIndex(status), 2);
    EXPECT_EQ(header->visualIndex(duration), 3);

    controller->show();
    controller->resize(800, 400);
    controller->fixOutlineSize();
    int others = 0;
    for (ColumnIdentifier column :
         {ColumnIdentifier::date, ColumnIdentifier::status, ColumnIdentifier::duration, ColumnIdentifier::actions})
        others += controller->outlineView()->columnWidth(static_cast<int>(column));
    EXPECT_EQ(controller->outlineView()->columnWidth(static_cast<int>(ColumnIdentifier::notes)),
              controller->outlineView()->width() - others - 15);
}

} // namespace

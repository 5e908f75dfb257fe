// The outline's actions on projects and timers driven as the user does (toolbar, menus, context
// menus, row buttons, requests from elsewhere), checked in the store, the outline's rows, the status
// line, the undo history and the usage events; and the outline following the store's change notices.
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/enums.h"
#include "model/fetch_helpers.h"
#include "model/preferences.h"

#include "kits/analytics/tally.h"

#include "store_fixture.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <random>

using namespace mainwindow;
using testsupport::march;

namespace {

// Records each usage event together with what a probe reads from the store at that moment, so a
// test can tell that the event came after the change.
class ProbingEventController : public kits::TLYEventController {
public:
    struct Entry {
        std::string name;
        foundation::PropertyListDictionary attributes;
        std::string probe;
    };
    void logEvent(std::shared_ptr<const kits::TLYEvent> event) override
    {
        if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
            entries.push_back({custom->customEventName().value_or(""),
                               custom->customAttributes().dictionaryRepresentation(), probe ? probe() : std::string()});
    }
    void logCrashEvent(std::shared_ptr<const kits::TLYCrashEvent>) override {}
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const Entry& entry : entries)
            result.push_back(entry.name);
        return result;
    }

    std::function<std::string()> probe;
    std::vector<Entry> entries;
};

class ProjectActionsTest : public testsupport::StoreFixture {
protected:
    ProjectActionsTest()
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::day));
        kits::Tally::setEventControllerForTesting(events_);
    }
    ~ProjectActionsTest() override { kits::Tally::setEventControllerForTesting(nullptr); }

    std::unique_ptr<ProjectsViewController> makeController()
    {
        context_->processPendingChanges();
        auto controller = std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
        controller->resize(900, 600);
        return controller;
    }
    // The end of the event-loop turn: one notice, one undo group.
    void endTurn() { context_->processPendingChanges(); }

    static QString title(ProjectsViewController& controller, ProjectsAction which)
    {
        controller.validateActions();
        return controller.action(which)->text();
    }
    static bool enabled(ProjectsViewController& controller, ProjectsAction which)
    {
        controller.validateActions();
        return controller.action(which)->isEnabled();
    }
    static bool visible(ProjectsViewController& controller, ProjectsAction which)
    {
        controller.validateActions();
        return controller.action(which)->isVisible();
    }
    static int timerStatus(ProjectsViewController& controller, model::Timer* timer)
    {
        return controller.outlineModel()->indexOf(timer).data(ProjectsOutlineModel::TimerStatusRole).toInt();
    }

    int notices_ = 0;
    foundation::ObserverToken noticeToken_ = center_.addObserver(
        data::ObjectsDidChangeNotification, nullptr, [this](const foundation::Notification&) { ++notices_; });
    std::shared_ptr<ProbingEventController> events_ = std::make_shared<ProbingEventController>();
};

TEST_F(ProjectActionsTest, ToolbarNewTimerStartsARunningTimerInTheSelectedProjectAndSelectsIt)
{
    model::Project* website = project("Website");
    context_->processPendingChanges();
    MainWindowController window(context_.get(), *defaults_);
    ProjectsViewController& projects = *window.splitViewController()->projectsViewController();
    projects.selectItem(*website);
    const auto undoSteps = context_->undoManager().undoCount();
    const int notices = notices_;
    events_->probe = [website] { return std::to_string(website->timers().size()); };

    window.startNewTimerAction()->trigger();
    endTurn();

    ASSERT_EQ(website->timers().size(), 1u);
    model::Timer* timer = website->timers().front();
    EXPECT_TRUE(timer->running());
    EXPECT_EQ(timer->start(), march(6, 10, 17));
    EXPECT_EQ(projects.selectedItem(), timer);
    EXPECT_EQ(window.splitViewController()->editedItem(), timer);
    EXPECT_TRUE(website->expanded());
    EXPECT_EQ(projects.countsStatusText(), "1 project, 1 timer");
    // The expansion is stored with the new timer, in the same notice, and is no step of its own.
    EXPECT_EQ(notices_, notices + 1);
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    ASSERT_EQ(events_->entries.size(), 1u);
    EXPECT_EQ(events_->entries[0].name, "Start Timer");
    EXPECT_EQ(events_->entries[0].attributes,
              (foundation::PropertyListDictionary{{"timer type", std::string("Period")}}));
    EXPECT_EQ(events_->entries[0].probe, "1");
}

TEST_F(ProjectActionsTest, ANewTimerClearsTheSearchTermSoItsRowIsShownAndSelected)
{
    model::Project* website = project("Website");
    periodTimer(website, march(6, 8), 30, "design review");
    context_->processPendingChanges();
    MainWindowController window(context_.get(), *defaults_);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ProjectsViewController& projects = *window.splitViewController()->projectsViewController();
    QTest::keyClicks(window.searchField(), "zzz");
    ASSERT_EQ(projects.searchTerm(), "zzz");
    ASSERT_EQ(projects.countsStatusText(), "1 project, 0 timers");
    projects.selectItem(*website);

    QTest::keyClick(window.searchField(), Qt::Key_T, Qt::ControlModifier);
    endTurn();

    ASSERT_EQ(website->timers().size(), 2u);
    model::Timer* created = website->timers().back();
    EXPECT_TRUE(created->running());
    EXPECT_EQ(window.searchField()->text(), "");
    EXPECT_FALSE(projects.searchTerm().has_value());
    EXPECT_EQ(projects.selectedItem(), created);
    EXPECT_TRUE(projects.rowIndexOf(*created).isValid());
    EXPECT_EQ(projects.countsStatusText(), "1 project, 2 timers");

    // The row's "+" and the toolbar's New Timer do the same; no press leaves a hidden running timer.
    QTest::keyClicks(window.searchField(), "zzz");
    emit projects.newTimerButtonClicked(website);
    endTurn();
    EXPECT_EQ(window.searchField()->text(), "");
    EXPECT_EQ(projects.countsStatusText(), "1 project, 3 timers");
    QTest::keyClicks(window.searchField(), "zzz");
    projects.selectItem(*website); // the term hid the selected timer's row
    window.startNewTimerAction()->trigger();
    endTurn();
    EXPECT_EQ(window.searchField()->text(), "");
    ASSERT_EQ(website->timers().size(), 4u);
    EXPECT_EQ(projects.selectedItem(), website->timers().back());
    EXPECT_EQ(projects.countsStatusText(), "1 project, 4 timers");
}

TEST_F(ProjectActionsTest, TheWindowsUndoItemIsEnabledByAChangeThatLeavesTheSelectionAlone)
{
    model::Project* website = project("Website");
    model::Timer* timer = runningTimer(website, march(6, 9));
    context_->processPendingChanges();
    context_->undoManager().removeAllActions();
    MainWindowController window(context_.get(), *defaults_);
    ASSERT_FALSE(window.undoAction()->isEnabled());

    emit window.splitViewController()->projectsViewController()->stopButtonClicked(timer);
    endTurn();
    EXPECT_TRUE(window.undoAction()->isEnabled());
    window.undoAction()->trigger();
    EXPECT_TRUE(timer->running());
    EXPECT_FALSE(window.undoAction()->isEnabled());
    EXPECT_TRUE(window.redoAction()->isEnabled());
}

TEST_F(ProjectActionsTest, PauseResumeStopAndResumeFromStoppedChangeTheRowAndTheStatusLine)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* timer = runningTimer(website, march(6, 9, 17)); // 60 minutes so far
    periodTimer(website, march(6, 8), 30);
    auto controller = makeController();
    controller->selectItem(*timer);
    events_->probe = [timer] { return std::string(timer->end() ? "ended" : timer->paused() ? "paused" : "running"); };
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:30");
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Pause");

    controller->action(ProjectsAction::togglePauseSelectedTimer)->trigger();
    endTurn();
    EXPECT_TRUE(timer->paused());
    EXPECT_EQ(timerStatus(*controller, timer), static_cast<int>(model::TimerStatus::paused));
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Resume");
    clock_->advance(std::chrono::minutes(20));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:30"); // the pause holds the time

    controller->action(ProjectsAction::togglePauseSelectedTimer)->trigger();
    endTurn();
    EXPECT_FALSE(timer->paused());
    EXPECT_EQ(timerStatus(*controller, timer), static_cast<int>(model::TimerStatus::running));
    clock_->advance(std::chrono::minutes(10));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:40");

    controller->action(ProjectsAction::stopSelectedTimer)->trigger();
    endTurn();
    EXPECT_EQ(timer->end(), march(6, 10, 47));
    EXPECT_EQ(timerStatus(*controller, timer), static_cast<int>(model::TimerStatus::closed));
    EXPECT_FALSE(enabled(*controller, ProjectsAction::stopSelectedTimer));
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Resume");
    clock_->advance(std::chrono::minutes(5));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    EXPECT_EQ(controller->durationStatusText(), "Duration: 01:40");

    controller->action(ProjectsAction::togglePauseSelectedTimer)->trigger();
    endTurn();
    EXPECT_TRUE(timer->running());
    EXPECT_EQ(timer->pauseDuration(), 20 + 5);
    EXPECT_EQ(timerStatus(*controller, timer), static_cast<int>(model::TimerStatus::running));

    EXPECT_EQ(events_->names(),
              (std::vector<std::string>{"Toggle Pause", "Toggle Pause", "Stop Timer", "Resume from stopped"}));
    EXPECT_EQ(events_->entries[0].probe, "paused");
    EXPECT_EQ(events_->entries[1].probe, "running");
    EXPECT_EQ(events_->entries[2].probe, "ended");
    EXPECT_EQ(events_->entries[3].probe, "running");
    for (const auto& entry : events_->entries)
        EXPECT_EQ(entry.attributes,
                  (foundation::PropertyListDictionary{{"navigationContext", std::string("contextMenu")}}));
}

TEST_F(ProjectActionsTest, ABilledTimerThatStillRunsIsPausedAndResumedAndAnEndedOneResumesFromStopped)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* running = runningTimer(website, march(6, 9));
    running->setBilled(true);
    model::Timer* ended = periodTimer(website, march(6, 8), 30);
    ended->setBilled(true);
    model::Preferences(*defaults_).setShowsBilledTimers(true);
    auto controller = makeController();

    controller->selectItem(*running);
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Pause");
    controller->togglePauseSelectedTimer();
    endTurn();
    EXPECT_TRUE(running->paused());
    EXPECT_TRUE(running->running());
    EXPECT_TRUE(running->billed());
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Resume");
    controller->togglePauseSelectedTimer();
    endTurn();
    EXPECT_FALSE(running->paused());
    EXPECT_TRUE(running->billed());

    controller->selectItem(*ended);
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Resume");
    controller->togglePauseSelectedTimer();
    endTurn();
    EXPECT_TRUE(ended->running());
    EXPECT_FALSE(ended->billed());
    EXPECT_EQ(events_->names(), (std::vector<std::string>{"Toggle Pause", "Toggle Pause", "Resume from stopped"}));
}

TEST_F(ProjectActionsTest, RowButtonsStartPauseAndStopWithTheirOwnEvents)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Timer* timer = runningTimer(website, march(6, 9));
    model::Preferences(*defaults_).setDefaultTimerType(model::rawValue(model::TimerType::expense));
    auto controller = makeController();

    emit controller->togglePauseButtonClicked(timer);
    endTurn();
    EXPECT_TRUE(timer->paused());
    emit controller->stopButtonClicked(timer);
    endTurn();
    EXPECT_FALSE(timer->running());
    emit controller->newTimerButtonClicked(website);
    endTurn();
    ASSERT_EQ(website->timers().size(), 2u);
    model::Timer* expense = website->timers().back();
    EXPECT_TRUE(expense->isExpenseTimer());
    EXPECT_EQ(controller->selectedItem(), expense);

    // A stored type that names none starts a period timer.
    model::Preferences(*defaults_).setDefaultTimerType(7);
    emit controller->newTimerButtonClicked(website);
    endTurn();
    EXPECT_EQ(website->timers().back()->type(), model::rawValue(model::TimerType::period));

    ASSERT_EQ(events_->entries.size(), 4u);
    EXPECT_EQ(events_->entries[0].name, "Toggle Pause");
    EXPECT_EQ(events_->entries[0].attributes,
              (foundation::PropertyListDictionary{{"navigationContext", std::string("projectList")}}));
    EXPECT_EQ(events_->entries[1].name, "Stop Timer");
    EXPECT_EQ(events_->entries[1].attributes,
              (foundation::PropertyListDictionary{{"navigationContext", std::string("projectList")}}));
    EXPECT_EQ(events_->entries[2].attributes,
              (foundation::PropertyListDictionary{{"timer type", std::string("Expense")}}));
    EXPECT_EQ(events_->entries[3].attributes,
              (foundation::PropertyListDictionary{{"timer type", std::string("Period")}}));
}

TEST_F(ProjectActionsTest, MarkingAThousandTimersBilledIsOneNoticeAndOneUndoStepAndLeavesOthersAlone)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    website->setCustomHourlyRate(foundation::Decimal::parse("40"));
    std::vector<model::Timer*> today;
    for (int i = 0; i < 1000; ++i)
        today.push_back(periodTimer(website, march(6, 0) + std::chrono::seconds(30 * i), 1));
    model::Timer* running = runningTimer(website, march(6, 9));
    model::Timer* yesterday = periodTimer(website, march(5, 9), 60);
    auto controller = makeController();
    controller->selectItem(*website);
    EXPECT_EQ(controller->countsStatusText(), "1 project, 1001 timers");
    const auto undoSteps = context_->undoManager().undoCount();
    const int notices = notices_;

    controller->action(ProjectsAction::markAllTimersInSelectedProjectAsBilled)->trigger();
    endTurn();

    EXPECT_EQ(notices_, notices + 1);
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    for (model::Timer* timer : today) {
        ASSERT_TRUE(timer->billed());
        ASSERT_EQ(timer->billedHourlyRate(), foundation::Decimal::parse("40"));
    }
    EXPECT_FALSE(running->billed());
    EXPECT_FALSE(yesterday->billed());
    // Billed timers are not shown: their rows leave and the status line counts the running one.
    EXPECT_EQ(controller->outlineModel()->rowCount(controller->outlineModel()->indexOf(website)), 1);
    EXPECT_EQ(controller->countsStatusText(), "1 project, 1 timer");
    EXPECT_EQ(events_->names(), std::vector<std::string>{"Mark all Timers in Project billed"});

    context_->undoManager().undo();
    for (model::Timer* timer : today)
        ASSERT_FALSE(timer->billed());
    EXPECT_EQ(controller->countsStatusText(), "1 project, 1001 timers");
}

TEST_F(ProjectActionsTest, DeletingAProjectRenumbersAllProjectsAndUndoBringsItAndItsTimersBack)
{
    model::Project* first = project("First");
    model::Project* middle = project("Middle");
    middle->setExpanded(true);
    model::Project* archived = project("Archived", true);
    model::Project* last = project("Last");
    model::Timer* work = periodTimer(middle, march(6, 8), 45);
    periodTimer(middle, march(6, 9), 15);
    auto controller = makeController();
    ASSERT_EQ(
        (std::vector<std::int64_t>{first->sortOrder(), middle->sortOrder(), archived->sortOrder(), last->sortOrder()}),
        (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_FALSE(enabled(*controller, ProjectsAction::deleteItem));
    controller->deleteSelectedItem(); // nothing selected: nothing happens
    endTurn();
    EXPECT_EQ(controller->projects().size(), 3u);

    controller->selectItem(*middle);
    EXPECT_TRUE(enabled(*controller, ProjectsAction::deleteItem));
    const int notices = notices_;
    controller->action(ProjectsAction::deleteItem)->trigger();
    endTurn();
    EXPECT_EQ(notices_, notices + 1);
    EXPECT_TRUE(middle->isDeleted());
    EXPECT_TRUE(work->isDeleted());
    EXPECT_EQ(controller->projects(), (std::vector<model::Project*>{first, last}));
    EXPECT_EQ((std::vector<std::int64_t>{first->sortOrder(), archived->sortOrder(), last->sortOrder()}),
              (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(controller->countsStatusText(), "2 projects, 0 timers");
    EXPECT_EQ(controller->selectedItem(), nullptr);

    context_->undoManager().undo();
    EXPECT_FALSE(middle->isDeleted());
    EXPECT_EQ(controller->projects(), (std::vector<model::Project*>{first, middle, last}));
    EXPECT_EQ(controller->outlineModel()->timers(*middle).size(), 2u);
    EXPECT_TRUE(controller->rowIndexOf(*work).isValid());
    EXPECT_EQ(
        (std::vector<std::int64_t>{first->sortOrder(), middle->sortOrder(), archived->sortOrder(), last->sortOrder()}),
        (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(controller->countsStatusText(), "3 projects, 2 timers");

    // Deleting a timer removes its row and renumbers nothing.
    controller->selectItem(*work);
    controller->deleteSelectedItem();
    endTurn();
    EXPECT_TRUE(work->isDeleted());
    EXPECT_EQ(controller->outlineModel()->timers(*middle).size(), 1u);
    EXPECT_EQ(
        (std::vector<std::int64_t>{first->sortOrder(), middle->sortOrder(), archived->sortOrder(), last->sortOrder()}),
        (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_TRUE(events_->entries.empty());
}

TEST_F(ProjectActionsTest, AProjectDeletedElsewhereLeavesTheListAtTheNextChangePass)
{
    model::Project* kept = project("Kept");
    model::Project* doomed = project("Doomed");
    periodTimer(doomed, march(6, 8), 30);
    auto controller = makeController();
    ASSERT_EQ(controller->projects().size(), 2u);
    context_->deleteObject(doomed); // e.g. from the clients sidebar or an inspector, not the outline
    endTurn();
    EXPECT_EQ(controller->projects(), std::vector<model::Project*>{kept});
    EXPECT_FALSE(controller->outlineModel()->indexOf(doomed).isValid());
    EXPECT_EQ(controller->countsStatusText(), "1 project, 0 timers");
}

TEST_F(ProjectActionsTest, ANewTimerRequestMovesTheFilterToTodayAndStartsARunningTimerWithItsNotes)
{
    model::Project* website = project("Website");
    auto controller = makeController();
    controller->setDateFilterReferenceDate(march(1, 12));
    controller->updateDateFilter();
    auto& center = foundation::NotificationCenter::defaultCenter();

    // Requests without a project, or with a type of another kind, are ignored.
    center.post(CreateNewTimerNotification, nullptr, {{"type", model::TimerType::period}});
    center.post(CreateNewTimerNotification, nullptr, {{"project", website}, {"type", 0}});
    endTurn();
    EXPECT_TRUE(website->timers().empty());

    center.post(CreateNewTimerNotification, nullptr,
                {{"project", website}, {"type", model::TimerType::period}, {"notes", std::string("Call the client")}});
    endTurn();
    ASSERT_EQ(website->timers().size(), 1u);
    model::Timer* timer = website->timers().front();
    EXPECT_TRUE(timer->running());
    EXPECT_EQ(timer->type(), model::rawValue(model::TimerType::period));
    EXPECT_EQ(timer->notes(), "Call the client");
    EXPECT_EQ(controller->dateFilterStartDate(), march(6, 0));
    EXPECT_EQ(controller->selectedItem(), timer);

    center.post(CreateNewTimerNotification, nullptr, {{"project", website}, {"type", model::TimerType::duration}});
    endTurn();
    ASSERT_EQ(website->timers().size(), 2u);
    EXPECT_EQ(website->timers().back()->notes(), "");
    EXPECT_EQ(events_->names(), (std::vector<std::string>{"Start Timer", "Start Timer"}));
}

TEST_F(ProjectActionsTest, MenuItemsFollowTheSelectionWithTheirTitles)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Project* old = project("Old", true);
    model::Timer* running = runningTimer(website, march(6, 9));
    model::Timer* fixed = fixedTimer(website, march(6, 8), 30);
    model::Timer* paused = pausedTimer(website, march(6, 7), march(6, 7, 30));
    auto controller = makeController();
    controller->setProjectsPredicate({});

    const std::vector<ProjectsAction> projectActions{
        ProjectsAction::pauseTimersInSelectedProject, ProjectsAction::resumeTimersInSelectedProject,
        ProjectsAction::stopTimersInSelectedProject, ProjectsAction::markAllTimersInSelectedProjectAsBilled};
    EXPECT_FALSE(enabled(*controller, ProjectsAction::togglePauseSelectedTimer));
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Pause");
    EXPECT_FALSE(enabled(*controller, ProjectsAction::stopSelectedTimer));
    EXPECT_FALSE(enabled(*controller, ProjectsAction::toggleArchiveProject));
    for (ProjectsAction which : projectActions)
        EXPECT_FALSE(enabled(*controller, which));

    controller->selectItem(*website);
    EXPECT_EQ(title(*controller, ProjectsAction::toggleArchiveProject), "Archive Project");
    for (ProjectsAction which : projectActions)
        EXPECT_TRUE(enabled(*controller, which));
    controller->selectItem(*old);
    EXPECT_EQ(title(*controller, ProjectsAction::toggleArchiveProject), "Unarchive Project");
    for (ProjectsAction which : projectActions)
        EXPECT_FALSE(enabled(*controller, which));

    // A timer row: the project items follow its project but act on nothing.
    controller->selectItem(*running);
    for (ProjectsAction which : projectActions)
        EXPECT_TRUE(enabled(*controller, which));
    controller->stopTimersInSelectedProject();
    endTurn();
    EXPECT_TRUE(running->running());
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Pause");
    EXPECT_TRUE(enabled(*controller, ProjectsAction::stopSelectedTimer));

    controller->selectItem(*paused);
    EXPECT_EQ(title(*controller, ProjectsAction::togglePauseSelectedTimer), "Resume");
    controller->selectItem(*fixed);
    EXPECT_FALSE(visible(*controller, ProjectsAction::togglePauseSelectedTimer));
    EXPECT_FALSE(visible(*controller, ProjectsAction::stopSelectedTimer));
    controller->togglePauseSelectedTimer();
    endTurn();
    EXPECT_FALSE(fixed->running());
    EXPECT_TRUE(events_->entries.empty());
}

TEST_F(ProjectActionsTest, AllRunningTimersArePausedResumedAndStoppedAtTheMinute)
{
    model::Project* website = project("Website");
    model::Project* shop = project("Shop");
    model::Timer* running = runningTimer(website, march(6, 9));
    model::Timer* paused = pausedTimer(shop, march(6, 8), march(6, 8, 30));
    model::Timer* billedPaused = pausedTimer(shop, march(6, 8), march(6, 8, 40));
    billedPaused->setBilled(true);
    auto controller = makeController();
    clock_->advance(std::chrono::seconds(45));

    controller->pauseAllRunningTimers();
    endTurn();
    ASSERT_NE(running->activePauseEntry(), nullptr);
    EXPECT_EQ(running->activePauseEntry()->start(), march(6, 10, 17));
    EXPECT_EQ(paused->pauseEntries().size(), 1u);

    controller->resumeAllRunningTimers();
    endTurn();
    EXPECT_FALSE(running->paused());
    EXPECT_FALSE(paused->paused());
    EXPECT_TRUE(billedPaused->paused()); // resume all leaves billed timers paused

    controller->stopAllRunningTimers();
    endTurn();
    for (model::Timer* timer : {running, paused, billedPaused})
        EXPECT_EQ(timer->end(), march(6, 10, 17));
    EXPECT_EQ(controller->runningTimerIndex().size(), 0u);
    EXPECT_EQ(events_->names(), (std::vector<std::string>{"Pause All Running Timers", "Resume All Running Timers",
                                                          "Stop All Running Timers"}));
}

TEST_F(ProjectActionsTest, ProjectTimersArePausedResumedAndStoppedFromTheProjectRow)
{
    model::Project* website = project("Website");
    model::Timer* first = runningTimer(website, march(6, 9));
    model::Timer* second = pausedTimer(website, march(6, 8), march(6, 8, 30));
    second->setBilled(true);
    model::Timer* elsewhere = runningTimer(project("Shop"), march(6, 9));
    auto controller = makeController();
    controller->selectItem(*website);

    controller->pauseTimersInSelectedProject();
    endTurn();
    EXPECT_TRUE(first->paused());
    EXPECT_EQ(second->pauseEntries().size(), 1u);
    controller->resumeTimersInSelectedProject();
    endTurn();
    EXPECT_FALSE(first->paused());
    EXPECT_FALSE(second->paused()); // billed ones included here
    controller->stopTimersInSelectedProject();
    endTurn();
    EXPECT_FALSE(first->running());
    EXPECT_FALSE(second->running());
    EXPECT_TRUE(elsewhere->running());
    EXPECT_EQ(events_->names(), (std::vector<std::string>{"Pause Timers in Project", "Resume Timers in Project",
                                                          "Stop Timers in Project"}));
}

TEST_F(ProjectActionsTest, NewProjectArchiveAndTheBilledToggleSendTheirEvents)
{
    model::Client* acme = client("Acme");
    model::Project* website = project("Website");
    model::Timer* running = runningTimer(website, march(6, 9));
    context_->processPendingChanges();
    MainWindowController window(context_.get(), *defaults_);
    ProjectsViewController& projects = *window.splitViewController()->projectsViewController();

    projects.setSelectedClient(acme);
    window.newProjectAction()->trigger();
    endTurn();
    ASSERT_EQ(projects.projects().size(), 2u);
    model::Project* created = projects.projects().back();
    EXPECT_EQ(created->client(), acme);
    EXPECT_EQ(projects.selectedItem(), created);

    projects.selectItem(*website);
    projects.action(ProjectsAction::toggleArchiveProject)->trigger();
    endTurn();
    EXPECT_TRUE(website->archived());
    EXPECT_FALSE(running->running());
    EXPECT_EQ(projects.projects(), std::vector<model::Project*>{created});

    EXPECT_FALSE(model::Preferences(*defaults_).showsBilledTimers());
    window.billedToggle()->click();
    EXPECT_TRUE(model::Preferences(*defaults_).showsBilledTimers());
    EXPECT_TRUE(window.billedToggle()->isChecked());
    EXPECT_TRUE(projects.action(ProjectsAction::toggleShowBilledTimers)->isChecked());
    projects.action(ProjectsAction::toggleShowBilledTimers)->trigger();
    EXPECT_FALSE(model::Preferences(*defaults_).showsBilledTimers());
    EXPECT_FALSE(window.billedToggle()->isChecked());

    ASSERT_EQ(events_->names(),
              (std::vector<std::string>{"New Project", "Archive Project", "Toggle show only billed timers",
                                        "Toggle show only billed timers"}));
    EXPECT_EQ(events_->entries[2].attributes, (foundation::PropertyListDictionary{{"value", true}}));
    EXPECT_EQ(events_->entries[3].attributes, (foundation::PropertyListDictionary{{"value", false}}));
}

TEST_F(ProjectActionsTest, ChangedRowsAreRedrawnInRangesAndRowsOfCollapsedProjectsAreSkipped)
{
    model::Project* open = project("Open");
    open->setExpanded(true);
    model::Project* closed = project("Closed");
    std::vector<model::Timer*> openTimers, closedTimers;
    for (int i = 0; i < 6; ++i) {
        openTimers.push_back(periodTimer(open, march(6, i), 10));
        closedTimers.push_back(periodTimer(closed, march(6, i), 10));
    }
    auto controller = makeController();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    QSignalSpy changed(&outline, &QAbstractItemModel::dataChanged);

    for (int i : {1, 2, 3, 5}) {
        openTimers[static_cast<std::size_t>(i)]->setNotes("edited");
        openTimers[static_cast<std::size_t>(i)]->setEnd(march(6, i, 20));
    }
    closedTimers[0]->setEnd(march(6, 0, 40));
    endTurn();

    std::vector<std::pair<int, int>> timerRanges;
    for (const auto& signal : changed) {
        const QModelIndex from = signal[0].value<QModelIndex>();
        const QModelIndex to = signal[1].value<QModelIndex>();
        if (from.parent().isValid()) {
            EXPECT_EQ(from.parent(), outline.indexOf(open));
            timerRanges.emplace_back(from.row(), to.row());
        }
    }
    EXPECT_EQ(timerRanges, (std::vector<std::pair<int, int>>{{1, 3}, {5, 5}}));
    // Both projects' sums follow the new ends.
    EXPECT_EQ(outline.indexOf(open).data(ProjectsOutlineModel::ProjectDurationRole).toString(), "01:40");
    EXPECT_EQ(outline.indexOf(closed).data(ProjectsOutlineModel::ProjectDurationRole).toString(), "01:30");
    EXPECT_EQ(controller->durationStatusText(), "Duration: 03:10");
}

// Every kind of timer change, made elsewhere than in the outline and closed by its change pass,
// leaves the status line and each project row equal to a fresh filtering of the store.
TEST_F(ProjectActionsTest, StatusLineAndProjectRowsMatchAFreshComputationAfterEveryKindOfTimerChange)
{
    model::Project* website = project("Website");
    website->setExpanded(true);
    model::Project* app = project("App");
    model::Timer* stopped = periodTimer(website, march(6, 8), 40);
    model::Timer* edited = periodTimer(website, march(6, 9), 20);
    model::Timer* fixed = fixedTimer(app, march(6, 7), 30);
    model::Timer* doomed = periodTimer(app, march(6, 6), 15);
    auto controller = makeController();
    const auto expectFresh = [&](const std::string& change) {
        const model::Filter filter = controller->filter();
        std::size_t count = 0;
        std::int64_t minutes = 0;
        for (model::Project* listed :
             model::fetchAll<model::Project>(*context_, [](const model::Project& p) { return !p.archived(); })) {
            const std::int64_t projectMinutes = listed->duration(filter);
            count += listed->timers(filter).size();
            minutes += projectMinutes;
            EXPECT_EQ(controller->outlineModel()
                          ->indexOf(listed)
                          .data(ProjectsOutlineModel::ProjectDurationRole)
                          .toString()
                          .toStdString(),
                      clockText(projectMinutes))
                << change << ", " << *listed->name();
        }
        EXPECT_EQ(controller->countsStatusText().toStdString(), countsStatusText(2, count)) << change;
        EXPECT_EQ(controller->durationStatusText().toStdString(), durationStatusText(minutes)) << change;
    };
    // The clock moves on between ticks; running minutes reach the status line with the next tick.
    const auto tick = [&](int minutes) {
        clock_->advance(std::chrono::minutes(minutes));
        foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    };
    expectFresh("start");

    context_->deleteObject(doomed);
    endTurn();
    expectFresh("a timer deleted in the store");

    model::Timer* created = app->startNewTimer();
    endTurn();
    tick(25);
    expectFresh("a timer created elsewhere");
    context_->undoManager().undo();
    expectFresh("undo of the timer's creation");
    ASSERT_TRUE(created->isDeleted());

    stopped->resumeFromStopped();
    endTurn();
    tick(5);
    expectFresh("a stopped timer resumed");

    edited->setEnd(march(6, 9, 50));
    fixed->setFixedDuration(75);
    endTurn();
    expectFresh("timers edited");

    // A pause opened on a stopped timer (its minutes now run to the clock's pause start), then closed.
    auto* pause = model::initInContext<model::PauseEntry>(*context_);
    pause->setStart(march(6, 9, 30));
    pause->setTimer(edited);
    endTurn();
    tick(3);
    expectFresh("a pause opened on a stopped timer");
    pause->setEnd(march(6, 9, 40));
    endTurn();
    expectFresh("the pause closed");

    edited->setProject(app);
    endTurn();
    expectFresh("a timer moved to another project");
}

// Random edits through the actions and straight on the model, each turn closed by its notice; the
// outline's children and cached sums must always equal a fresh filtering of the store.
TEST_F(ProjectActionsTest, CachedChildrenAndSumsMatchAFreshComputationAfterRandomChanges)
{
    std::vector<model::Project*> all;
    for (int p = 0; p < 4; ++p) {
        model::Project* item = project(std::to_string(p).insert(0, 1, 'P'));
        item->setExpanded(p % 2 == 0);
        all.push_back(item);
        for (int t = 0; t < 8; ++t) {
            if (t % 3 == 0)
                runningTimer(item, march(6, t));
            else
                periodTimer(item, march(5 + t % 2, t), 10 + t, t % 2 ? "alpha" : "beta");
        }
    }
    auto controller = makeController();
    std::mt19937 random(20240306);
    auto pick = [&random](const auto& list) { return list[random() % list.size()]; };
    for (int step = 0; step < 300; ++step) {
        model::Project* target = pick(all);
        const auto timers = target->timers();
        model::Timer* timer = timers.empty() ? nullptr : pick(timers);
        switch (random() % 12) {
        case 0:
            if (timer)
                timer->stop();
            break;
        case 1:
            if (timer)
                timer->togglePause();
            break;
        case 2:
            if (timer)
                timer->resumeFromStopped();
            break;
        case 3:
            if (timer)
                timer->setBilled(!timer->billed());
            break;
        case 4:
            if (timer)
                timer->setStart(march(5 + static_cast<int>(random() % 2), static_cast<int>(random() % 10)));
            break;
        case 5:
            if (timer)
                timer->setNotes(random() % 2 ? "alpha" : "beta");
            break;
        case 6:
            controller->selectItem(*target);
            controller->markAllTimersInSelectedProjectAsBilled();
            break;
        case 7: controller->startNewTimer(target); break;
        case 8:
            if (timer) {
                controller->selectItem(*timer);
                controller->deleteSelectedItem();
            }
            break;
        case 9: controller->toggleShowBilledTimers(); break;
        case 10: controller->searchAction(random() % 3 ? "" : "alp"); break;
        case 11: clock_->advance(std::chrono::minutes(random() % 7)); break;
        }
        endTurn();
        foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
        const model::Filter filter = controller->filter();
        std::int64_t total = 0;
        std::size_t count = 0;
        for (model::Project* listed : controller->projects()) {
            ASSERT_EQ(controller->outlineModel()->timers(*listed), listed->timers(filter)) << "step " << step;
            ASSERT_EQ(controller->outlineModel()->duration(*listed), listed->duration(filter)) << "step " << step;
            total += listed->duration(filter);
            count += listed->timers(filter).size();
        }
        ASSERT_EQ(controller->outlineModel()->totalDuration(), total) << "step " << step;
        ASSERT_EQ(controller->outlineModel()->timerCount(), count) << "step " << step;
        std::vector<model::Timer*> running = model::Timer::runningTimers(*context_);
        std::sort(running.begin(), running.end(), [](auto* a, auto* b) { return a->primaryKey() < b->primaryKey(); });
        ASSERT_EQ(controller->runningTimerIndex().runningTimers(), running) << "step " << step;
    }
}

} // namespace

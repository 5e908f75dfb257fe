// The projects outline over a store: which projects and timers it lists in which order under the
// filter, the cache of filtered children against the model's own filtering, in-place edits, and the
// texts of every column for each timer type and state.
#include "mainwindow/column_identifier.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"

#include "store_fixture.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QLabel>

#include <algorithm>

using namespace mainwindow;
using testsupport::march;

namespace {

// Faults the item-model tester finds are reported as warnings that start with "FAIL!".
int modelFaults = 0;
void countModelFaults(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && message.contains("FAIL!")) {
        ++modelFaults;
        ADD_FAILURE() << message.toStdString();
    }
}

class ProjectsOutlineTest : public testsupport::StoreFixture {
protected:
    void SetUp() override
    {
        modelFaults = 0;
        previousHandler_ = qInstallMessageHandler(countModelFaults);
    }
    void TearDown() override
    {
        tester_.reset();
        qInstallMessageHandler(previousHandler_);
        EXPECT_EQ(modelFaults, 0);
    }

    std::unique_ptr<ProjectsViewController> makeController()
    {
        auto controller = std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
        tester_ = std::make_unique<QAbstractItemModelTester>(controller->outlineModel(),
                                                             QAbstractItemModelTester::FailureReportingMode::Warning);
        return controller;
    }
    void setRange(model::DateFilterRange range, ProjectsViewController& controller)
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(range));
        controller.dateFilterRangeChanged();
    }
    static std::vector<std::string> names(const std::vector<model::Project*>& projects)
    {
        std::vector<std::string> result;
        for (const model::Project* project : projects)
            result.push_back(project->name().value_or(""));
        return result;
    }
    static std::vector<std::string> notes(const std::vector<model::Timer*>& timers)
    {
        std::vector<std::string> result;
        for (const model::Timer* timer : timers)
            result.push_back(timer->notes().value_or(""));
        return result;
    }
    // The outline's children of a project, read through the Qt model.
    static std::vector<std::string> rowNotes(ProjectsViewController& controller, model::Project* project)
    {
        const ProjectsOutlineModel& outline = *controller.outlineModel();
        const QModelIndex parent = outline.indexOf(project);
        std::vector<std::string> result;
        for (int row = 0; row < outline.rowCount(parent); ++row)
            result.push_back(
                outline.index(row, static_cast<int>(ColumnIdentifier::notes), parent).data().toString().toStdString());
        return result;
    }
    void expectCacheMatchesFilter(ProjectsViewController& controller)
    {
        const model::Filter filter = controller.filter();
        for (model::Project* project : controller.projects())
            EXPECT_EQ(controller.outlineModel()->timers(*project), project->timers(filter)) << *project->name();
    }
    QString cell(ProjectsViewController& controller, model::Timer* timer, ColumnIdentifier column,
                 int role = Qt::DisplayRole)
    {
        return controller.outlineModel()->indexOf(timer, column).data(role).toString();
    }
    int cellValue(ProjectsViewController& controller, model::Timer* timer, int role)
    {
        return controller.outlineModel()->indexOf(timer).data(role).toInt();
    }

    std::unique_ptr<QAbstractItemModelTester> tester_;
    QtMessageHandler previousHandler_ = nullptr;
};

TEST_F(ProjectsOutlineTest, ListsUnarchivedProjectsBySortOrderWithTheirTimersOfTheRangeByStart)
{
    model::Project* website = project("Website");
    project("Old", true);
    model::Project* app = project("App");
    periodTimer(website, march(6, 14), 30, "afternoon");
    periodTimer(website, march(6, 8), 30, "morning");
    periodTimer(website, march(5, 9), 30, "yesterday");
    periodTimer(website, march(6, 0, 0), 30, "midnight");
    periodTimer(website, march(6, 23, 59), 30, "last minute");
    periodTimer(app, march(7, 0, 0), 30, "tomorrow");

    auto controller = makeController();
    setRange(model::DateFilterRange::day, *controller);

    EXPECT_EQ(names(controller->projects()), (std::vector<std::string>{"Website", "App"}));
    EXPECT_EQ(rowNotes(*controller, website),
              (std::vector<std::string>{"midnight", "morning", "afternoon", "last minute"}));
    EXPECT_TRUE(rowNotes(*controller, app).empty());
    // A project without timers in the range still has its disclosure control.
    EXPECT_TRUE(controller->outlineModel()->hasChildren(controller->outlineModel()->indexOf(app)));

    setRange(model::DateFilterRange::week, *controller);
    EXPECT_EQ(rowNotes(*controller, website),
              (std::vector<std::string>{"yesterday", "midnight", "morning", "afternoon", "last minute"}));
    EXPECT_EQ(rowNotes(*controller, app), (std::vector<std::string>{"tomorrow"}));
}

TEST_F(ProjectsOutlineTest, DateBoundsOfTheRanges)
{
    auto controller = makeController();
    const auto expectBounds = [&](model::DateFilterRange range, std::optional<foundation::Date> from,
                                  std::optional<foundation::Date> to) {
        setRange(range, *controller);
        EXPECT_EQ(controller->currentDateFilterRange(), range);
        EXPECT_EQ(controller->dateFilterStartDate(), from);
        EXPECT_EQ(controller->dateFilterEndDate(), to);
        EXPECT_EQ(controller->filter().fromDate, from);
        EXPECT_EQ(controller->filter().toDate, to);
    };
    using namespace std::chrono;
    const auto endOf = [](foundation::Date day) { return day + hours(23) + minutes(59) + seconds(59); };
    expectBounds(model::DateFilterRange::day, march(6, 0), endOf(march(6, 0)));
    // en_US weeks start on Sunday.
    expectBounds(model::DateFilterRange::week, march(3, 0), endOf(march(9, 0)));
    expectBounds(model::DateFilterRange::month, march(1, 0), endOf(march(31, 0)));
    expectBounds(model::DateFilterRange::year, march(1, 0) - days(31 + 29),
                 endOf(march(31, 0) + days(30 + 31 + 30 + 31 + 31 + 30 + 31 + 30 + 31)));
    // Custom keeps the bounds of the range shown before.
    expectBounds(model::DateFilterRange::custom, march(1, 0) - days(31 + 29), endOf(march(31, 0) + days(275)));
    expectBounds(model::DateFilterRange::all, std::nullopt, std::nullopt);

    // A stored value that names no range means day.
    model::Preferences(*defaults_).setDateFilterRange(9);
    controller->dateFilterRangeChanged();
    EXPECT_EQ(controller->currentDateFilterRange(), model::DateFilterRange::day);

    // Today moves the reference date back to the current minute.
    controller->setDateFilterReferenceDate(march(20, 12));
    controller->updateDateFilter();
    EXPECT_EQ(controller->dateFilterStartDate(), march(20, 0));
    controller->navigateToToday();
    EXPECT_EQ(controller->dateFilterReferenceDate(), march(6, 10, 17));
    EXPECT_EQ(controller->dateFilterStartDate(), march(6, 0));
}

TEST_F(ProjectsOutlineTest, CacheEqualsTheFilteredTimersAfterEveryListUpdate)
{
    model::Project* website = project("Website");
    model::Project* app = project("App");
    model::Project* old = project("Old", true);
    for (int day = 1; day <= 20; ++day) {
        periodTimer(website, march(day, 9), 60, day % 3 ? "design" : "Meeting");
        periodTimer(app, march(day, 7), 30, "code review")->setBilled(day % 2 == 0);
        periodTimer(old, march(day, 7), 30, "archived work");
    }
    auto controller = makeController();
    setRange(model::DateFilterRange::all, *controller);
    expectCacheMatchesFilter(*controller);

    setRange(model::DateFilterRange::week, *controller);
    expectCacheMatchesFilter(*controller);

    controller->setSearchTerm("meeting");
    expectCacheMatchesFilter(*controller);
    EXPECT_EQ(notes(controller->outlineModel()->timers(*website)),
              (std::vector<std::string>{"Meeting", "Meeting", "Meeting"}));

    controller->setSearchTerm("");
    model::Preferences(*defaults_).setShowsBilledTimers(false);
    controller->updateProjectsList(false);
    expectCacheMatchesFilter(*controller);
    for (const model::Timer* timer : controller->outlineModel()->timers(*app))
        EXPECT_FALSE(timer->billed());

    controller->setProjectsPredicate({});
    EXPECT_EQ(controller->projects().size(), 3u);
    expectCacheMatchesFilter(*controller);

    // A timer edited out of the filter stays listed until the next list update, then leaves.
    model::Timer* moved = controller->outlineModel()->timers(*website).front();
    moved->setStart(march(28, 9));
    EXPECT_EQ(controller->outlineModel()->timers(*website).front(), moved);
    controller->updateProjectsList(false);
    expectCacheMatchesFilter(*controller);
    EXPECT_NE(controller->outlineModel()->timers(*website).front(), moved);
}

TEST_F(ProjectsOutlineTest, InPlaceEditsKeepTheTreeConsistent)
{
    model::Project* website = project("Website");
    model::Project* app = project("App");
    model::Timer* first = periodTimer(website, march(6, 8), 30, "first");
    model::Timer* second = periodTimer(website, march(6, 9), 30, "second");
    model::Timer* other = periodTimer(app, march(6, 9), 30, "other");
    auto controller = makeController();
    ProjectsOutlineModel& outline = *controller->outlineModel();

    model::Timer* middle = periodTimer(website, march(6, 8, 30), 30, "middle");
    EXPECT_EQ(outline.insertionIndex(*website, *middle), 1);
    outline.insertTimer(*website, 1, *middle);
    EXPECT_EQ(rowNotes(*controller, website), (std::vector<std::string>{"first", "middle", "second"}));
    // Listing the same timer twice, or at a place that does not exist, is refused.
    outline.insertTimer(*website, 0, *middle);
    outline.insertTimer(*app, 5, *periodTimer(app, march(6, 10), 5));
    EXPECT_EQ(outline.rowCount(outline.indexOf(website)), 3);
    EXPECT_EQ(outline.rowCount(outline.indexOf(app)), 1);

    outline.moveTimer(*first, *website, *website, 2);
    EXPECT_EQ(rowNotes(*controller, website), (std::vector<std::string>{"middle", "second", "first"}));
    outline.moveTimer(*second, *website, *app, 0);
    second->setProject(app);
    EXPECT_EQ(rowNotes(*controller, website), (std::vector<std::string>{"middle", "first"}));
    EXPECT_EQ(rowNotes(*controller, app), (std::vector<std::string>{"second", "other"}));

    outline.removeTimer(*other);
    EXPECT_EQ(rowNotes(*controller, app), (std::vector<std::string>{"second"}));
    EXPECT_FALSE(outline.indexOf(other).isValid());

    outline.removeProject(*website);
    EXPECT_EQ(names(outline.projects()), (std::vector<std::string>{"App"}));
    EXPECT_EQ(outline.indexOf(app).row(), 0);
    EXPECT_EQ(outline.parent(outline.indexOf(second)), outline.indexOf(app));
    outline.insertProject(0, *website);
    EXPECT_EQ(names(outline.projects()), (std::vector<std::string>{"Website", "App"}));
    EXPECT_EQ(outline.indexOf(second).parent().row(), 1);
}

TEST_F(ProjectsOutlineTest, AProjectRowMovesWithItsChildren)
{
    model::Project* a = project("A");
    model::Project* b = project("B");
    model::Project* c = project("C");
    periodTimer(a, march(6, 8), 30, "a1");
    periodTimer(c, march(6, 9), 30, "c1");
    periodTimer(c, march(6, 10), 30, "c2");
    auto controller = makeController();
    ProjectsOutlineModel& outline = *controller->outlineModel();
    ProjectsOutlineView& view = *controller->outlineView();
    view.expand(outline.indexOf(c));
    const QPersistentModelIndex c2(outline.index(1, 0, outline.indexOf(c)));

    outline.moveProject(*c, 0);
    EXPECT_EQ(names(outline.projects()), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_EQ(rowNotes(*controller, c), (std::vector<std::string>{"c1", "c2"}));
    EXPECT_EQ(c2.parent().row(), 0);
    EXPECT_TRUE(view.isExpanded(outline.indexOf(c)));
    outline.moveProject(*c, 2);
    EXPECT_EQ(names(outline.projects()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(outline.indexOf(c).row(), 2);
    EXPECT_EQ(rowNotes(*controller, a), std::vector<std::string>{"a1"});

    // Its own row, a row past the end or a project not listed: nothing moves.
    outline.moveProject(*b, 1);
    outline.moveProject(*b, 3);
    outline.moveProject(*b, -1);
    outline.moveProject(*project("Unlisted"), 0);
    EXPECT_EQ(names(outline.projects()), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(outline.rowCount(), 3);
}

TEST_F(ProjectsOutlineTest, ColumnTextsOfEachTimerTypeAndState)
{
    model::Project* website = project("Website", false, client("Acme"));
    website->setCustomCurrency("€");
    model::Timer* running = runningTimer(website, march(6, 9), "running work");
    model::Timer* paused = pausedTimer(website, march(6, 8), march(6, 8, 45));
    model::Timer* billed = periodTimer(website, march(6, 7), 90, "billed work");
    billed->setBilled(true);
    model::Timer* closed = periodTimer(website, march(6, 6), 1500);
    model::Timer* fixed = fixedTimer(website, march(6, 5), 45, "typed in");
    fixed->setFixedCost(foundation::Decimal(99));
    model::Timer* expense = expenseTimer(website, march(6, 4), "12.5", "train ticket");
    model::Timer* expenseWithoutCost = expenseTimer(website, march(6, 3), std::nullopt, "free lunch");
    // An end 46 minutes before the start, as a stored file may hold it.
    model::Project* repair = project("Repair");
    model::Timer* backwards = periodTimer(repair, march(6, 2), -46);
    model::Preferences(*defaults_).setShowsBilledTimers(true);
    auto controller = makeController();

    EXPECT_EQ(cell(*controller, running, ColumnIdentifier::date), "3/6/24, 9:00\u202FAM");
    EXPECT_EQ(cell(*controller, running, ColumnIdentifier::notes), "running work");
    EXPECT_EQ(cell(*controller, running, ColumnIdentifier::duration), "01:17");
    EXPECT_EQ(cell(*controller, paused, ColumnIdentifier::duration), "00:45");
    EXPECT_EQ(cell(*controller, billed, ColumnIdentifier::duration), "01:30");
    EXPECT_EQ(cell(*controller, closed, ColumnIdentifier::duration), "25:00");
    EXPECT_EQ(cell(*controller, fixed, ColumnIdentifier::duration), "00:45");
    EXPECT_EQ(cell(*controller, expense, ColumnIdentifier::duration), "");
    // A negative duration is its sign and magnitude (the floor split would read "-1:14").
    EXPECT_EQ(cell(*controller, backwards, ColumnIdentifier::duration), "-0:46");
    EXPECT_EQ(controller->outlineModel()->indexOf(repair).data(ProjectsOutlineModel::ProjectDurationRole).toString(),
              "-0:46");

    const int costRole = ProjectsOutlineModel::CostTextRole;
    EXPECT_EQ(cell(*controller, expense, ColumnIdentifier::notes, costRole), "€12.50");
    EXPECT_EQ(cell(*controller, expense, ColumnIdentifier::notes), "train ticket");
    EXPECT_FALSE(
        controller->outlineModel()->indexOf(expenseWithoutCost, ColumnIdentifier::notes).data(costRole).isValid());
    EXPECT_FALSE(controller->outlineModel()->indexOf(fixed, ColumnIdentifier::notes).data(costRole).isValid());

    const int image = ProjectsOutlineModel::StatusImageRole;
    EXPECT_EQ(cellValue(*controller, running, image), static_cast<int>(StatusImage::runningDot));
    EXPECT_EQ(cellValue(*controller, paused, image), static_cast<int>(StatusImage::pausedDot));
    EXPECT_EQ(cellValue(*controller, billed, image), static_cast<int>(StatusImage::checkMark));
    EXPECT_EQ(cellValue(*controller, closed, image), static_cast<int>(StatusImage::none));
    const int button = ProjectsOutlineModel::ActionButtonRole;
    EXPECT_EQ(cellValue(*controller, running, button), static_cast<int>(TimerActionButton::pause));
    EXPECT_EQ(cellValue(*controller, paused, button), static_cast<int>(TimerActionButton::play));
    EXPECT_EQ(cellValue(*controller, billed, button), static_cast<int>(TimerActionButton::hidden));
    EXPECT_EQ(cellValue(*controller, expense, button), static_cast<int>(TimerActionButton::hidden));

    // The project row: its name, client and the duration of the listed timers (77+45+90+1500+45, the expenses counting 0).
    const QModelIndex row = controller->outlineModel()->indexOf(website);
    EXPECT_EQ(row.data().toString(), "Website");
    EXPECT_EQ(row.data(ProjectsOutlineModel::ProjectClientRole).toString(), "Acme");
    EXPECT_EQ(row.data(ProjectsOutlineModel::ProjectDurationRole).toString(), "29:17");
    EXPECT_TRUE(controller->outlineView()->isFirstColumnSpanned(row.row(), {}));
}

// The outline makes a project's children only when someone looks into it, and sums a project's
// timers on first need; the tests below run without the item-model tester, which looks into every
// project.
class LazyOutlineTest : public testsupport::StoreFixture {
protected:
    std::unique_ptr<ProjectsViewController> makeController(model::DateFilterRange range)
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(range));
        return std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
    }
    // The outline's figures against the model's own filtering, in total (first, so the outline sums
    // every project it has no sums of at once) and project by project.
    static void expectSumsOfTheFilter(ProjectsViewController& controller, const std::string& step)
    {
        const model::Filter filter = controller.filter();
        std::int64_t total = 0;
        std::size_t count = 0;
        for (model::Project* listed : controller.projects()) {
            total += listed->duration(filter);
            count += listed->timers(filter).size();
        }
        EXPECT_EQ(controller.durationStatusText().toStdString(), mainwindow::durationStatusText(total)) << step;
        EXPECT_EQ(controller.countsStatusText().toStdString(),
                  mainwindow::countsStatusText(controller.projects().size(), count))
            << step;
        EXPECT_EQ(controller.outlineModel()->totalDuration(), total) << step;
        EXPECT_EQ(controller.outlineModel()->timerCount(), count) << step;
        for (model::Project* listed : controller.projects())
            EXPECT_EQ(controller.outlineModel()->duration(*listed), listed->duration(filter))
                << *listed->name() << ", " << step;
    }
    void endTurn() { context_->processPendingChanges(); }
};

TEST_F(LazyOutlineTest, OnlyExpandedProjectsOrOnesAskedForHaveTheirChildrenMade)
{
    model::Project* open = project("Open");
    model::Project* closed = project("Closed");
    open->setExpanded(true);
    for (int day = 1; day <= 6; ++day) {
        periodTimer(open, march(day, 9), 60, "open work");
        periodTimer(closed, march(day, 9), 30 * day, "closed work");
    }
    endTurn();
    auto controller = makeController(model::DateFilterRange::week);
    ProjectsOutlineModel& outline = *controller->outlineModel();

    EXPECT_TRUE(outline.childrenMade(*open));
    EXPECT_TRUE(controller->outlineView()->isExpanded(outline.indexOf(open)));
    EXPECT_FALSE(outline.childrenMade(*closed));
    // Its duration, the counts and the total come without its children: week of 3 to 9 March.
    EXPECT_EQ(outline.duration(*closed), 30 * (3 + 4 + 5 + 6));
    expectSumsOfTheFilter(*controller, "first fill");
    EXPECT_FALSE(outline.childrenMade(*closed));

    // Asked for, they are made as the filter has them.
    EXPECT_EQ(outline.timers(*closed), closed->timers(controller->filter()));
    EXPECT_TRUE(outline.childrenMade(*closed));
    EXPECT_EQ(outline.rowCount(outline.indexOf(closed)), 4);

    // A list update forgets them again; the expanded project is laid out again at once.
    controller->updateProjectsList(false);
    EXPECT_FALSE(outline.childrenMade(*closed));
    EXPECT_TRUE(outline.childrenMade(*open));

    // Project rows span the columns, timer rows do not, and timers say they have no children.
    const QModelIndex openRow = outline.indexOf(open);
    EXPECT_TRUE(controller->outlineView()->isFirstColumnSpanned(openRow.row(), {}));
    EXPECT_TRUE(controller->outlineView()->isFirstColumnSpanned(outline.indexOf(closed).row(), {}));
    EXPECT_FALSE(controller->outlineView()->isFirstColumnSpanned(0, openRow));
    EXPECT_TRUE(outline.flags(outline.index(0, 0, openRow)) & Qt::ItemNeverHasChildren);
    EXPECT_FALSE(outline.flags(openRow) & Qt::ItemNeverHasChildren);
}

TEST_F(LazyOutlineTest, SumsOfProjectsNobodyLookedIntoFollowEveryChange)
{
    model::Project* open = project("Open");
    model::Project* closed = project("Closed");
    open->setExpanded(true);
    periodTimer(open, march(6, 7), 20, "open work");
    model::Timer* running = runningTimer(closed, march(6, 9), "running");
    model::Timer* stopped = periodTimer(closed, march(6, 8), 30, "stopped");
    model::Timer* fixed = fixedTimer(closed, march(6, 6), 45, "typed in");
    model::Timer* older = periodTimer(closed, march(1, 8), 90, "last week");
    model::Preferences(*defaults_).setShowsBilledTimers(false);
    endTurn();
    auto controller = makeController(model::DateFilterRange::day);
    ProjectsOutlineModel& outline = *controller->outlineModel();
    expectSumsOfTheFilter(*controller, "first fill");

    // The clock moves: the running timer's minutes are read live, the status line at the tick.
    clock_->advance(std::chrono::minutes(40));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    expectSumsOfTheFilter(*controller, "clock");

    running->stop();
    endTurn();
    expectSumsOfTheFilter(*controller, "stop");

    running->resumeFromStopped();
    endTurn();
    clock_->advance(std::chrono::minutes(5));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    expectSumsOfTheFilter(*controller, "resume from stopped");

    fixed->setFixedDuration(50);
    endTurn();
    expectSumsOfTheFilter(*controller, "typed duration");

    stopped->setBilled(true); // leaves the filter: billed timers are not shown
    endTurn();
    expectSumsOfTheFilter(*controller, "billed");

    older->setStart(march(6, 5)); // joins the day
    endTurn();
    expectSumsOfTheFilter(*controller, "moved into the day");

    context_->deleteObject(fixed);
    endTurn();
    expectSumsOfTheFilter(*controller, "deleted");

    model::Timer* added = periodTimer(closed, march(6, 4), 15, "added");
    outline.insertTimer(*closed, 0, *added);
    endTurn();
    expectSumsOfTheFilter(*controller, "added");

    context_->undoManager().undo();
    expectSumsOfTheFilter(*controller, "undo");
    context_->undoManager().redo();
    expectSumsOfTheFilter(*controller, "redo");

    model::Preferences(*defaults_).setShowsBilledTimers(true);
    controller->updateProjectsList(false);
    expectSumsOfTheFilter(*controller, "billed shown");

    controller->setSearchTerm("stop");
    expectSumsOfTheFilter(*controller, "search term");

    EXPECT_FALSE(outline.childrenMade(*closed));
}

TEST_F(LazyOutlineTest, ManyProjectsAreSummedInOneWalkAsTheFilterHasThem)
{
    // Enough projects that their sums are made in one walk over every timer of the store.
    std::vector<model::Project*> projects;
    for (int p = 0; p < 24; ++p) {
        projects.push_back(project("Project " + std::to_string(p)));
        for (int t = 0; t < 6; ++t) {
            model::Timer* timer = periodTimer(projects.back(), march(1 + static_cast<unsigned>((p + t) % 9), 8 + t),
                                              10 + p + t, t % 2 ? "Review" : "code");
            timer->setBilled((p + t) % 4 == 0);
        }
    }
    projects.front()->setExpanded(true);
    runningTimer(projects[3], march(6, 9), "running review");
    periodTimer(project("Archived", true), march(6, 8), 600, "archived review");
    periodTimer(nullptr, march(6, 8), 700, "review of nothing");
    endTurn();
    auto controller = makeController(model::DateFilterRange::week);
    ProjectsOutlineModel& outline = *controller->outlineModel();
    expectSumsOfTheFilter(*controller, "week");

    // A project summed before the rest (its row was painted) keeps its sums through the walk.
    controller->setSearchTerm("review");
    EXPECT_EQ(outline.duration(*projects[2]), projects[2]->duration(controller->filter()));
    expectSumsOfTheFilter(*controller, "search term");
    model::Preferences(*defaults_).setShowsBilledTimers(false);
    controller->setSearchTerm("");
    expectSumsOfTheFilter(*controller, "billed left out");
    model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
    controller->dateFilterRangeChanged();
    expectSumsOfTheFilter(*controller, "all dates");
    clock_->advance(std::chrono::minutes(30));
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    expectSumsOfTheFilter(*controller, "clock");

    // One project changed afterwards is summed on its own.
    projects[5]->timers().front()->setBilled(true);
    endTurn();
    expectSumsOfTheFilter(*controller, "one project changed");
    EXPECT_TRUE(outline.childrenMade(*projects.front()));
    EXPECT_FALSE(outline.childrenMade(*projects[5]));
}

TEST_F(LazyOutlineTest, ATimerMovedBetweenAMadeAndAnUnmadeProjectIsListedOnce)
{
    model::Project* open = project("Open");
    model::Project* closed = project("Closed");
    open->setExpanded(true);
    model::Timer* early = periodTimer(open, march(6, 7), 20, "early");
    model::Timer* late = periodTimer(open, march(6, 9), 20, "late");
    periodTimer(closed, march(6, 8), 30, "closed work");
    endTurn();
    auto controller = makeController(model::DateFilterRange::day);
    ProjectsOutlineModel& outline = *controller->outlineModel();
    ASSERT_FALSE(outline.childrenMade(*closed));

    // Out of the made project into the unmade one, whose children are made after the move (for the
    // timer's place there): the row leaves the source and is listed once in the target.
    // Checked before the change notice too, which filters both projects again.
    controller->moveTimer(*late, *closed);
    EXPECT_EQ(outline.timers(*open), std::vector<model::Timer*>{early});
    EXPECT_EQ(outline.rowCount(outline.indexOf(open)), 1);
    EXPECT_EQ(outline.timers(*closed), closed->timers(controller->filter()));
    expectSumsOfTheFilter(*controller, "into the unmade project");
    endTurn();
    EXPECT_EQ(outline.timers(*closed), closed->timers(controller->filter()));
    EXPECT_EQ(std::count(outline.timers(*closed).begin(), outline.timers(*closed).end(), late), 1);

    // Back from an unmade project into the made one: the row arrives at its place by start.
    controller->updateProjectsList(false);
    ASSERT_FALSE(outline.childrenMade(*closed));
    late->setProject(open);
    outline.moveTimer(*late, *closed, *open, outline.insertionIndex(*open, *late));
    EXPECT_EQ(outline.timers(*open), (std::vector<model::Timer*>{early, late}));
    EXPECT_EQ(outline.rowCount(outline.indexOf(open)), 2);
    expectSumsOfTheFilter(*controller, "back into the made project");
    endTurn();
    EXPECT_EQ(outline.timers(*open), (std::vector<model::Timer*>{early, late}));
}

TEST_F(LazyOutlineTest, TheStatusLineOfAListUpdateWaitsForTheOutlinesPaint)
{
    model::Project* website = project("Website");
    periodTimer(website, march(6, 8), 90);
    periodTimer(website, march(4, 8), 30);
    endTurn();
    auto controller = makeController(model::DateFilterRange::day);
    controller->resize(800, 400);
    controller->show();
    auto* label = controller->findChild<QLabel*>("durationStatusLabel");
    ASSERT_NE(label, nullptr);
    const auto settle = [&](const QString& wanted) {
        for (int turn = 0; turn < 100 && label->text() != wanted; ++turn)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    settle(QStringLiteral("Duration: 01:30"));
    EXPECT_EQ(label->text(), QStringLiteral("Duration: 01:30"));

    // A list update leaves the old text in place until the outline has painted.
    model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::week));
    controller->dateFilterRangeChanged();
    EXPECT_EQ(label->text(), QStringLiteral("Duration: 01:30"));
    settle(QStringLiteral("Duration: 02:00"));
    EXPECT_EQ(label->text(), QStringLiteral("Duration: 02:00"));

    // Reading the texts brings them up to date at once, as does the refresh tick.
    controller->setDateFilterReferenceDate(march(4, 12));
    model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::day));
    controller->dateFilterRangeChanged();
    EXPECT_EQ(controller->durationStatusText(), QStringLiteral("Duration: 00:30"));
    EXPECT_EQ(label->text(), QStringLiteral("Duration: 00:30"));
    controller->navigateToToday();
    foundation::NotificationCenter::defaultCenter().post(RefreshTimerFiredNotification);
    EXPECT_EQ(label->text(), QStringLiteral("Duration: 01:30"));
}

} // namespace

// The mini window: its placement and shape, the toggle from the tray item with its usage events, closing
// on the loss of activation, the list of running period timers with its row actions and height, the
// new-timer form, the refresh tick and the first-launch hint.
#include "app_shell_fixture.h"

#include "app/mini_window.h"
#include "app/mini_window_background_view.h"
#include "app/mini_window_hint.h"
#include "app/mini_window_placement.h"
#include "app/mini_window_timer_cells.h"
#include "app/mini_window_view_controller.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "mainwindow/projects_view_controller.h"
#include "model/client.h"
#include "model/managed_object.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"
#include "ui/hover_button.h"
#include "ui/tray_status_item.h"

#include "data/object_context.h"
#include "foundation/clock.h"
#include "support/dates.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

namespace {

using app::ArrowEdge;
using std::chrono::minutes;

const QRectF screen1280(0, 0, 1280, 800);
const QSizeF panel300(300, 200);

TEST(MiniWindowPlacementTest, HangsUnderTheIconAndStaysOnScreenWithTheArrowAtTheIcon)
{
    // Room everywhere: centred under the icon, 2 px below it, the arrow in the middle.
    auto placement = app::placeMiniWindow(QRectF(1000, 0, 22, 24), panel300, screen1280);
    EXPECT_EQ(placement.topLeft, QPointF(861, 26));
    EXPECT_EQ(placement.arrowEdge, ArrowEdge::top);
    EXPECT_DOUBLE_EQ(placement.arrowTip, 150);

    // At the right edge: moved inside; the tip as near the icon's centre (1268) as the straight edge allows.
    placement = app::placeMiniWindow(QRectF(1257, 1, 22, 22), panel300, screen1280);
    EXPECT_EQ(placement.topLeft, QPointF(980, 25));
    EXPECT_EQ(placement.arrowEdge, ArrowEdge::top);
    EXPECT_DOUBLE_EQ(placement.arrowTip, 281.5);

    // A bottom panel: no room below, so above the icon with the arrow at the bottom.
    placement = app::placeMiniWindow(QRectF(1200, 776, 24, 24), panel300, screen1280);
    EXPECT_EQ(placement.topLeft, QPointF(980, 574));
    EXPECT_EQ(placement.arrowEdge, ArrowEdge::bottom);
    EXPECT_DOUBLE_EQ(placement.arrowTip, 232);

    // A left-hand icon: the tip stops at the left end of the straight edge.
    placement = app::placeMiniWindow(QRectF(0, 0, 10, 24), panel300, screen1280);
    EXPECT_EQ(placement.topLeft, QPointF(0, 26));
    EXPECT_DOUBLE_EQ(placement.arrowTip, 18.5);
}

TEST(MiniWindowPlacementTest, WithoutAnIconRectangleItHangsFromThePointerOrTheTopRightCorner)
{
    const QRectF available(0, 30, 1280, 770); // a top panel takes 30 px
    const QRectF atPointer = app::anchorWithoutIcon(QPointF(640, 400), available);
    auto placement = app::placeMiniWindow(atPointer, panel300, available);
    EXPECT_EQ(placement.topLeft, QPointF(490, 402));
    EXPECT_TRUE(available.contains(QRectF(placement.topLeft, panel300)));

    placement = app::placeMiniWindow(app::anchorWithoutIcon(std::nullopt, available), panel300, available);
    EXPECT_EQ(placement.topLeft, QPointF(980, 32));
    EXPECT_TRUE(available.contains(QRectF(placement.topLeft, panel300)));

    // A pointer low on the screen opens it above the pointer, still on screen.
    placement = app::placeMiniWindow(app::anchorWithoutIcon(QPointF(5, 790), available), panel300, available);
    EXPECT_EQ(placement.arrowEdge, ArrowEdge::bottom);
    EXPECT_TRUE(available.contains(QRectF(placement.topLeft, panel300)));
}

TEST(MiniWindowShapeTest, ArrowBodyAndTopBarOfAPanel)
{
    app::MiniWindowBackgroundView view;
    view.resize(300, 200);
    const app::MiniWindowShape shape = view.shape();
    EXPECT_EQ(shape.arrowTip, QPointF(150, 0));
    EXPECT_EQ(shape.arrowBaseLeft, QPointF(137.5, 10));
    EXPECT_EQ(shape.arrowBaseRight, QPointF(162.5, 10));
    EXPECT_EQ(shape.body, QRectF(0, 10, 300, 190));
    ASSERT_TRUE(shape.topBar.has_value());
    EXPECT_EQ(*shape.topBar, QRectF(0, 10, 300, 44));

    const QPainterPath body = shape.bodyPath(view.cornerRadius());
    EXPECT_TRUE(body.contains(QPointF(150, 2)));     // inside the arrow
    EXPECT_FALSE(body.contains(QPointF(100, 5)));    // beside it
    EXPECT_FALSE(body.contains(QPointF(0.5, 10.5))); // cut off by the rounded corner
    EXPECT_TRUE(body.contains(QPointF(5, 100)));
    EXPECT_EQ(body.boundingRect(), QRectF(0, 0, 300, 200));
    const QPainterPath topBar = shape.topBarPath(view.cornerRadius());
    EXPECT_EQ(topBar.boundingRect(), QRectF(0, 0, 300, 54));
    EXPECT_TRUE(topBar.contains(QPointF(2, 52))); // the lower edge is straight, not rounded

    // Opened above the icon: the arrow at the bottom, the bar at the top of the body.
    view.setArrow(ArrowEdge::bottom, 232);
    const app::MiniWindowShape above = view.shape();
    EXPECT_EQ(above.arrowTip, QPointF(232, 200));
    EXPECT_EQ(above.body, QRectF(0, 0, 300, 190));
    EXPECT_EQ(*above.topBar, QRectF(0, 0, 300, 44));
    EXPECT_TRUE(above.bodyPath(6).contains(QPointF(232, 198)));
    EXPECT_FALSE(above.bodyPath(6).contains(QPointF(150, 198)));
}

TEST(MiniWindowShapeTest, DrawsTheTopBarGreyOverTheWhiteBodyOrEverythingInOneColour)
{
    app::MiniWindowBackgroundView view;
    view.resize(300, 200);
    const auto render = [&view] {
        QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    };
    QImage image = render();
    EXPECT_EQ(image.pixelColor(150, 4), QColor(240, 240, 240));  // the arrow, in the bar's grey
    EXPECT_EQ(image.pixelColor(150, 40), QColor(240, 240, 240)); // the bar
    EXPECT_EQ(image.pixelColor(150, 120), QColor(Qt::white));    // the body
    EXPECT_EQ(image.pixelColor(20, 4).alpha(), 0);               // beside the arrow: nothing

    view.setTopBarBackgroundColor(std::nullopt);
    image = render();
    EXPECT_EQ(image.pixelColor(150, 4), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(150, 40), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(150, 120), QColor(Qt::white));
}

// A recorder of the analytics kit's events for the length of a test.
class RecordedTally {
public:
    RecordedTally() { kits::Tally::setEventControllerForTesting(recorder); }
    ~RecordedTally() { kits::Tally::setEventControllerForTesting(nullptr); }
    RecordedTally(const RecordedTally&) = delete;
    RecordedTally& operator=(const RecordedTally&) = delete;

    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const auto& event : recorder->events()) {
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
                names.push_back(custom->customEventName().value_or(""));
        }
        return names;
    }
    std::vector<kits::TLYCustomEvent> customEvents() const
    {
        std::vector<kits::TLYCustomEvent> events;
        for (const auto& event : recorder->events()) {
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
                events.push_back(*custom);
        }
        return events;
    }

    std::shared_ptr<kits::TLYRecordingEventController> recorder = std::make_shared<kits::TLYRecordingEventController>();
};

foundation::Date march(unsigned day, int hour, int minute = 0)
{
    return testsupport::utc(2024, 3, day, hour, minute);
}

class MiniWindowTest : public AppShellTest {
protected:
    MiniWindowTest()
    {
        settings.setShowsMenuIcon(true);
        settings.setDidShowMiniWindowHint(true);
    }

    std::unique_ptr<app::AppDelegate> makeMiniWindowDelegate()
    {
        auto delegate = std::make_unique<app::AppDelegate>(app::AppDelegate::Services{
            .persistenceController = persistence,
            .settings = settings,
            .updater = &updater,
            .makeStatusItem =
                [this] {
                    auto item = std::make_unique<FakeStatusItem>();
                    item->geometry = QRect(300, 0, 22, 24);
                    statusItems.push_back(item.get());
                    return item;
                },
            .openLink = [](const QUrl&) { return true; },
            .quit = [] {},
            .monotonicNow = [this] { return monotonic; },
            .hintIconWait = std::chrono::milliseconds(300),
        });
        return delegate;
    }

    data::ObjectContext& context() { return persistence.managedObjectContext(); }
    void endTurn() { context().processPendingChanges(); }

    model::Project* project(const std::string& name, bool archived = false)
    {
        auto* project = model::initInContext<model::Project>(context());
        project->setName(name);
        project->setArchived(archived);
        return project;
    }
    model::Timer* timer(model::Project* project, model::TimerType type, foundation::Date start, bool running = true)
    {
        auto* timer = model::initInContext<model::Timer>(context());
        timer->setProject(project);
        timer->setType(model::rawValue(type));
        timer->setStart(start);
        timer->setEnd(running ? std::nullopt : std::optional(start + minutes(30)));
        if (type == model::TimerType::duration)
            timer->setFixedDuration(45);
        return timer;
    }

    std::shared_ptr<foundation::FixedClock> clock_ = std::make_shared<foundation::FixedClock>(march(6, 10, 17));
    foundation::ScopedClock scopedClock_{clock_};
    std::chrono::steady_clock::time_point monotonic{std::chrono::seconds(1000)};
    RecordedTally tally;
};

TEST_F(MiniWindowTest, TwoTogglesOpenAndCloseThePanelUnderTheIconAndRecordBoth)
{
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(delegate->hasMiniWindowController()); // made on first use
    statusItems[0]->click();
    ASSERT_TRUE(delegate->hasMiniWindowController());
    app::MiniWindow* window = delegate->miniWindowController().window();
    EXPECT_TRUE(delegate->isMiniWindowVisible());
    EXPECT_EQ(window->width(), app::MiniWindow::panelWidth);
    EXPECT_EQ(window->y(), 24 + 2);
    EXPECT_EQ(window->x(), 311 - app::MiniWindow::panelWidth / 2);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));

    statusItems[0]->click();
    EXPECT_FALSE(delegate->isMiniWindowVisible());
    EXPECT_EQ(delegate->hasMiniWindowController(), true);
    EXPECT_EQ(&*delegate->miniWindowController().window(), window); // kept, not made again
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Open Mini Window", "Close Mini Window"}));

    // A double click is one toggle.
    statusItems[0]->doubleClick();
    EXPECT_TRUE(delegate->isMiniWindowVisible());
    EXPECT_EQ(tally.names().size(), 3u);
}

TEST_F(MiniWindowTest, WithTheMenuIconOffNothingOpensAndWithoutATrayTheMenuOpensItInTheCorner)
{
    settings.setShowsMenuIcon(false);
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    delegate->openMiniWindow(app::AppDelegate::MiniWindowToggle::menu);
    EXPECT_FALSE(delegate->hasMiniWindowController());
    EXPECT_TRUE(tally.names().empty());

    // The icon is wanted, but no tray shows it (and says nothing of where it is).
    delegate->setupStatusBarItem();
    statusItems[0]->shown = false;
    delegate->openMiniWindow(app::AppDelegate::MiniWindowToggle::menu);
    ASSERT_TRUE(delegate->isMiniWindowVisible());
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = delegate->miniWindowController().window()->frameGeometry();
    EXPECT_EQ(frame.right(), available.right());
    EXPECT_EQ(frame.top(), available.top() + 2);
}

TEST_F(MiniWindowTest, ActivatingAnotherWindowClosesThePanelWithoutAnEventAndThatClickCountsAsTheClose)
{
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    statusItems[0]->click();
    app::MiniWindow* window = delegate->miniWindowController().window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QWidget other;
    other.show();
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Open Mini Window"}));

    // The tray's press took the focus and closed it; the click arriving now meant to close it.
    monotonic += std::chrono::milliseconds(250);
    statusItems[0]->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Open Mini Window", "Close Mini Window"}));
    // The next click opens it again.
    statusItems[0]->click();
    EXPECT_TRUE(window->isVisible());

    // Long after such a close, a click opens it.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    monotonic += std::chrono::milliseconds(301);
    statusItems[0]->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Open Mini Window", "Close Mini Window", "Open Mini Window",
                                                       "Open Mini Window"}));
}

TEST_F(MiniWindowTest, BecomingActiveBringsAVisibleMainWindowForwardUnlessThePanelIsOpen)
{
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    QWidget mainWindow;
    delegate->setMainWindow(&mainWindow);
    delegate->applicationDidBecomeActive();
    EXPECT_FALSE(mainWindow.isVisible()); // a hidden main window stays hidden

    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    delegate->applicationDidBecomeActive();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&mainWindow));

    statusItems[0]->click();
    app::MiniWindow* window = delegate->miniWindowController().window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    delegate->applicationDidBecomeActive();
    QTest::qWait(50);
    EXPECT_TRUE(window->isActiveWindow());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MiniWindowTest, UndoTypedInThePanelActsOnTheStore)
{
    model::Project* website = project("Website");
    model::Timer* running = timer(website, model::TimerType::period, march(6, 9));
    endTurn();
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    statusItems[0]->click();
    app::MiniWindow* window = delegate->miniWindowController().window();
    app::MiniWindowViewController* content = delegate->miniWindowController().viewController();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    content->timersTableView()->cellAt(0)->stopButton()->click();
    endTurn();
    EXPECT_TRUE(content->timers().empty());

    QTest::keySequence(window, QKeySequence::Undo);
    endTurn();
    EXPECT_FALSE(running->end().has_value());
    EXPECT_EQ(content->timers(), std::vector<model::Timer*>{running});
    QTest::keySequence(window, QKeySequence::Redo);
    endTurn();
    EXPECT_TRUE(running->end().has_value());
    EXPECT_TRUE(content->timers().empty());
}

TEST_F(MiniWindowTest, ThePopUpAndTheActionMenuKeepThePanelOpen)
{
    project("Website");
    endTurn();
    auto delegate = makeMiniWindowDelegate();
    delegate->applicationDidFinishLaunching();
    statusItems[0]->click();
    app::MiniWindow* window = delegate->miniWindowController().window();
    app::MiniWindowViewController* content = delegate->miniWindowController().viewController();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    content->projectPopupButton()->showPopup();
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    content->projectPopupButton()->hidePopup();
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());

    content->showActionMenu(content->actionMenuButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return content->actionMenu()->isVisible(); }));
    const QPoint below = content->actionMenuButton()->mapToGlobal(QPoint(0, content->actionMenuButton()->height() + 5));
    EXPECT_EQ(content->actionMenu()->pos(), below);
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    content->actionMenu()->close();
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Open Mini Window", "Show Mini Window Action Menu"}));
}

TEST_F(MiniWindowTest, TheTableShowsRunningPeriodTimersByStartAndGrowsToTwoAndAHalfRows)
{
    model::Project* website = project("Website");
    timer(website, model::TimerType::period, march(6, 8), false); // stopped
    timer(website, model::TimerType::duration, march(6, 8));      // fixed duration
    timer(website, model::TimerType::expense, march(6, 8));       // expense
    endTurn();
    app::MiniWindowViewController content(&context());
    const auto rows = [&content] {
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return content.timersTableView()->height() == content.tableHeightTarget(); }));
        return content.timersTableView()->height() / double(app::MiniWindowViewController::rowHeight);
    };
    EXPECT_EQ(rows(), 1.0);
    EXPECT_TRUE(content.timers().empty());
    // The one empty row says that nothing runs.
    EXPECT_FALSE(content.emptyLabel()->isHidden());
    EXPECT_EQ(content.emptyLabel()->text(), "No Running Timers");

    std::vector<model::Timer*> running;
    const std::vector<std::pair<int, double>> steps{{1, 1.0}, {2, 2.0}, {3, 2.5}, {5, 2.5}};
    for (const auto& [count, height] : steps) {
        while (static_cast<int>(running.size()) < count)
            running.push_back(timer(website, model::TimerType::period, march(6, 9, 50 - 10 * int(running.size()))));
        endTurn();
        EXPECT_EQ(rows(), height) << count << " timers";
        EXPECT_TRUE(content.emptyLabel()->isHidden());
        EXPECT_EQ(content.timers().size(), static_cast<std::size_t>(count));
    }
    // By start: the last made started first.
    const std::vector<model::Timer*> byStart(running.rbegin(), running.rend());
    EXPECT_EQ(content.timers(), byStart);
    // A paused timer stays listed.
    running[0]->pause();
    endTurn();
    EXPECT_EQ(content.timers().size(), 5u);
    EXPECT_EQ(content.timersTableView()->rowCount(), 5);
}

TEST_F(MiniWindowTest, RowButtonsPauseAndStopTheirOwnRowsTimer)
{
    model::Project* website = project("Website");
    model::Timer* early = timer(website, model::TimerType::period, march(6, 8));
    model::Timer* late = timer(website, model::TimerType::period, march(6, 9));
    endTurn();
    app::MiniWindowViewController content(&context());
    app::MiniWindowTimerTableCellView* lateRow = content.timersTableView()->cellAt(1);
    ASSERT_NE(lateRow, nullptr);
    ASSERT_EQ(lateRow->timer(), late);
    EXPECT_EQ(lateRow->togglePauseButton()->property("imageName").toString(), "pause");
    EXPECT_TRUE(lateRow->durationView()->isEnabled());
    EXPECT_EQ(lateRow->durationView()->fillColor(), lateRow->durationView()->tintColor());
    EXPECT_EQ(lateRow->durationView()->borderWidth(), 0.0);

    lateRow->togglePauseButton()->click();
    ASSERT_NE(late->activePauseEntry(), nullptr);
    EXPECT_EQ(early->activePauseEntry(), nullptr);
    endTurn();
    EXPECT_EQ(lateRow->togglePauseButton()->property("imageName").toString(), "play");
    EXPECT_FALSE(lateRow->durationView()->isEnabled());
    EXPECT_EQ(lateRow->durationView()->fillColor(), std::nullopt);
    EXPECT_EQ(lateRow->durationView()->borderColor(), lateRow->durationView()->tintColor());
    EXPECT_EQ(lateRow->durationView()->borderWidth(), 1.0);
    EXPECT_EQ(lateRow->durationView()->durationLabel()->palette().color(QPalette::WindowText),
              *lateRow->durationView()->tintColor());

    content.timersTableView()->cellAt(0)->stopButton()->click();
    EXPECT_TRUE(early->end().has_value());
    EXPECT_FALSE(late->end().has_value());
    endTurn();
    ASSERT_EQ(content.timers(), std::vector<model::Timer*>{late});
    EXPECT_EQ(content.timersTableView()->rowCount(), 1);
    EXPECT_EQ(content.timersTableView()->cellAt(0)->timer(), late);

    // A view outside any row acts on nothing.
    content.togglePauseTimer(content.addTimerButton());
    EXPECT_NE(late->activePauseEntry(), nullptr);
    EXPECT_EQ(tally.names(), (std::vector<std::string>{"Toggle Pause", "Stop Timer"}));
}

TEST_F(MiniWindowTest, TheFormAsksForOnePeriodTimerWhateverTheDefaultType)
{
    settings.setDefaultTimerType(1);
    model::Project* website = project("Website");
    project("Old", true);
    endTurn();
    app::MiniWindowViewController content(&context());
    EXPECT_EQ(content.projects(), std::vector<model::Project*>{website}); // archived ones are not offered
    EXPECT_EQ(content.chosenProject(), website);

    std::vector<foundation::Notification> requests;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
        mainwindow::CreateNewTimerNotification, nullptr,
        [&requests](const foundation::Notification& notification) { requests.push_back(notification); });

    content.notesTextField()->setText(QStringLiteral("old notes"));
    content.addTimer();
    EXPECT_EQ(content.notesTextField()->text(), QString()); // opening empties the notes
    EXPECT_TRUE(QTest::qWaitFor([&] { return content.newTimerContainerView()->height() == 136; }));
    content.notesTextField()->setText(QStringLiteral("Call"));
    content.newTimerButton()->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(*requests[0].info<model::Project*>("project"), website);
    EXPECT_EQ(*requests[0].info<model::TimerType>("type"), model::TimerType::period);
    EXPECT_EQ(*requests[0].info<std::string>("notes"), "Call");
    EXPECT_TRUE(QTest::qWaitFor([&] { return content.newTimerContainerView()->height() == 0; }));

    const auto recorded = tally.customEvents();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].customEventName(), "Start Timer");
    EXPECT_EQ(recorded[0].customAttributes().dictionaryRepresentation(),
              (foundation::PropertyListDictionary{{"timer type", std::string("Period")},
                                                  {"navigationContext", std::string("miniWindow")}}));

    // Nothing chosen: nothing asked for, the form stays as it is.
    content.chooseProject(nullptr);
    content.confirmAddingTimer();
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(MiniWindowTest, WithTheOutlinePresentTheRequestedTimerJoinsTheList)
{
    model::Project* website = project("Website");
    endTurn();
    mainwindow::ProjectsViewController outline(&context(), defaults);
    app::MiniWindowViewController content(&context());
    content.addTimer();
    content.notesTextField()->setText(QStringLiteral("Call"));
    content.confirmAddingTimer();
    endTurn();
    ASSERT_EQ(content.timers().size(), 1u);
    EXPECT_EQ(content.timers()[0]->project(), website);
    EXPECT_EQ(content.timers()[0]->notes(), "Call");
    EXPECT_EQ(content.timersTableView()->cellAt(0)->notesLabel()->text(), "Call");
    // The outline counts the start as well, before the panel does.
    const auto recorded = tally.customEvents();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].customEventName(), "Start Timer");
    EXPECT_EQ(recorded[1].customEventName(), "Start Timer");
    EXPECT_TRUE(recorded[1].customAttributes().find("navigationContext"));
}

TEST_F(MiniWindowTest, TheProjectChoiceFollowsTheStoreByIdentity)
{
    model::Project* website = project("Website");
    model::Project* shop = project("Shop");
    shop->setSortOrder(5);
    website->setSortOrder(1);
    endTurn();
    app::MiniWindowViewController content(&context());
    EXPECT_EQ(content.projects(), (std::vector<model::Project*>{website, shop}));
    content.chooseProject(shop);

    model::Project* blog = project("Blog");
    blog->setSortOrder(0);
    endTurn();
    EXPECT_EQ(content.projects(), (std::vector<model::Project*>{blog, website, shop}));
    EXPECT_EQ(content.chosenProject(), shop);
    EXPECT_EQ(content.projectPopupButton()->currentText(), "Shop");

    shop->setName("Shop (old)");
    endTurn();
    EXPECT_EQ(content.projectPopupButton()->currentText(), "Shop (old)");

    // Equal names are told apart by their clients, whose new names follow.
    auto* acme = model::initInContext<model::Client>(context());
    acme->setName("ACME");
    shop->setName("Website");
    shop->setClient(acme);
    endTurn();
    EXPECT_EQ(content.projectPopupButton()->itemText(1), "Website");
    EXPECT_EQ(content.projectPopupButton()->currentText(), "Website — ACME");
    acme->setName("ACME Inc.");
    endTurn();
    EXPECT_EQ(content.projectPopupButton()->currentText(), "Website — ACME Inc.");

    // Archived, it leaves the list and the choice is cleared; the button stays enabled.
    shop->setArchived(true);
    endTurn();
    EXPECT_EQ(content.projects(), (std::vector<model::Project*>{blog, website}));
    EXPECT_EQ(content.chosenProject(), nullptr);
    EXPECT_TRUE(content.newTimerButton()->isEnabled());
}

TEST_F(MiniWindowTest, TheRefreshTickShowsTheNewDurationsOfVisibleRows)
{
    model::Project* website = project("Website");
    timer(website, model::TimerType::period, march(6, 10, 17));
    endTurn();
    app::MiniWindowViewController content(&context());
    content.resize(300, 200);
    QLabel* badge = content.timersTableView()->cellAt(0)->durationView()->durationLabel();
    EXPECT_EQ(badge->text(), "00:00");
    clock_->advance(minutes(95));
    EXPECT_EQ(badge->text(), "00:00");
    foundation::NotificationCenter::defaultCenter().post(model::RefreshTimerFiredNotification);
    EXPECT_EQ(badge->text(), "01:35");
    clock_->advance(minutes(505));
    content.refreshTimerFired();
    EXPECT_EQ(badge->text(), "10:00");
}

TEST_F(MiniWindowTest, TheHintShowsOnceUnderTheIconOrAsATrayMessage)
{
    settings.setDidShowMiniWindowHint(false);
    {
        auto delegate = makeMiniWindowDelegate();
        delegate->applicationDidFinishLaunching();
        ASSERT_NE(delegate->miniWindowHint(), nullptr);
        app::MiniWindowHintPopup* hint = delegate->miniWindowHint();
        EXPECT_TRUE(hint->isVisible());
        EXPECT_EQ(hint->y(), 24 + 2);
        EXPECT_TRUE(settings.didShowMiniWindowHint());
        EXPECT_FALSE(delegate->hasMiniWindowController()); // the hint does not make the mini window
        hint->hintController()->closeButton()->click();
        EXPECT_FALSE(hint->isVisible());
    }
    {
        // Shown once: not at the next launch.
        auto delegate = makeMiniWindowDelegate();
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(delegate->miniWindowHint(), nullptr);
    }
}

TEST_F(MiniWindowTest, AHintWithoutAnIconRectangleBecomesATrayMessageAndNoneWithTheMenuIconOff)
{
    settings.setDidShowMiniWindowHint(false);
    settings.setShowsMenuIcon(false);
    {
        auto delegate = makeMiniWindowDelegate();
        delegate->applicationDidFinishLaunching();
        EXPECT_EQ(delegate->miniWindowHint(), nullptr);
        EXPECT_TRUE(statusItems.empty());
        EXPECT_FALSE(settings.didShowMiniWindowHint());
    }
    settings.setShowsMenuIcon(true);
    auto delegate = makeMiniWindowDelegate();
    delegate->setupStatusBarItem();
    statusItems.back()->geometry.reset(); // a tray that never says where its icon is
    delegate->showMiniWindowHint();
    EXPECT_FALSE(settings.didShowMiniWindowHint()); // still waiting for the rectangle
    monotonic += std::chrono::milliseconds(301);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !statusItems.back()->messages.empty(); }));
    EXPECT_EQ(statusItems.back()->messages[0].second, app::MiniWindowHintViewController::hintText());
    EXPECT_EQ(delegate->miniWindowHint(), nullptr);
    EXPECT_TRUE(settings.didShowMiniWindowHint());
}

TEST(MiniWindowCellsTest, BadgeTextLooksAndGrid)
{
    app::MiniWindowTimerTableCellView empty;
    empty.durationView()->durationLabel()->setText(QStringLiteral("keep"));
    empty.updateDuration();
    EXPECT_EQ(empty.durationView()->durationLabel()->text(), "keep"); // no timer: the text is left alone
    EXPECT_EQ(empty.togglePauseButton()->property("imageName").toString(), "pause");
    EXPECT_TRUE(empty.durationView()->isEnabled());

    ui::RoundRectLabel pill(QStringLiteral("01:35"));
    QLabel plain(QStringLiteral("01:35"));
    EXPECT_EQ(pill.sizeHint().width(), plain.sizeHint().width() + 10);
    EXPECT_EQ(pill.sizeHint().height(), plain.sizeHint().height());

    app::MiniWindowTimerTableView table;
    table.resize(300, 200);
    table.verticalHeader()->setDefaultSectionSize(20);
    EXPECT_TRUE(table.drawGridInClipRect(QRect(0, 0, 300, 200)).isEmpty());
    table.setRowCount(2); // rows at y 0–20 and 20–40
    const int width = table.viewport()->width();
    EXPECT_EQ(table.drawGridInClipRect(QRect(0, 0, 5000, 5000)), QRect(0, 0, width, 40));
    EXPECT_EQ(table.drawGridInClipRect(QRect(0, 30, 5000, 100)), QRect(0, 30, width, 10));
}

} // namespace

namespace {

// Only under with_tray.sh: a real XEmbed tray (trayer) on Xvfb, clicked as a user would.
TEST_F(MiniWindowTest, RealTrayAClickOpensThePanelUnderTheIconCutToItsShape)
{
    if (!std::getenv("HORAVINE_TEST_TRAY"))
        GTEST_SKIP() << "needs an X display with a tray host (with_tray.sh)";
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10'000))
        << "no tray host appeared";
    model::Project* website = project("Website");
    timer(website, model::TimerType::period, march(6, 9));
    timer(website, model::TimerType::period, march(6, 10));
    endTurn();

    // A plain coloured window stands for the desktop under the panel, below the tray (24 px high).
    QWidget desktop(nullptr, Qt::FramelessWindowHint);
    desktop.setAutoFillBackground(true);
    QPalette palette = desktop.palette();
    palette.setColor(QPalette::Window, QColor(40, 120, 60));
    desktop.setPalette(palette);
    desktop.setGeometry(QGuiApplication::primaryScreen()->geometry().adjusted(0, 25, 0, 0));
    desktop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop));

    app::AppDelegate delegate({
        .persistenceController = persistence,
        .settings = settings,
        .makeStatusItem =
            [] {
                return std::make_unique<ui::TrayStatusItem>(QIcon(QStringLiteral(":/statusbar_icon.svg")),
                                                            QStringLiteral("Horavine"));
            },
    });
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.statusItem(), nullptr);
    std::optional<QRect> icon;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (icon = delegate.statusItem()->iconGeometry()).has_value(); }, 10'000))
        << "the tray never placed the icon";

    // A real click on the icon, where xdotool is at hand; else the tray's own report of one.
    const QPoint centre = icon->center();
    const int clicked = QProcess::execute(QStringLiteral("xdotool"),
                                          {QStringLiteral("mousemove"), QString::number(centre.x()),
                                           QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("1")});
    if (clicked != 0)
        delegate.openMiniWindow(app::AppDelegate::MiniWindowToggle::statusItem);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.isMiniWindowVisible(); }, 5'000))
        << "icon " << icon->x() << "," << icon->y() << " " << icon->width() << "x" << icon->height() << " xdotool "
        << clicked << " events " << tally.names().size();
    app::MiniWindow* window = delegate.miniWindowController().window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->frameGeometry().top(), icon->bottom() + 1 + 2);
    EXPECT_TRUE(window->clipsToShape()); // Xvfb composites nothing
    QTest::qWait(300);                   // the table's height settles

    const QRect frame = window->frameGeometry();
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    shot.copy(frame.adjusted(-30, -30, 30, 30)).save(QDir::temp().filePath("horavine-mini-window.png"));
    const app::MiniWindowShape shape = window->backgroundView()->shape();
    const QPoint tip = frame.topLeft() + shape.arrowTip.toPoint();
    // The arrow: grey just under its tip, right below the icon as far as the panel's edge allows.
    EXPECT_EQ(shot.pixelColor(tip + QPoint(0, 4)), QColor(240, 240, 240));
    EXPECT_LE(std::abs(tip.x() - centre.x()), std::max(0, centre.x() - (frame.left() + 281)) + 1);
    // The corners outside the rounded body show what lies under the panel, not black.
    for (const QPoint corner : {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()})
        EXPECT_EQ(shot.pixelColor(corner), QColor(40, 120, 60)) << corner.x() << "," << corner.y();
    EXPECT_EQ(shot.pixelColor(frame.center().x(), frame.bottom() - 3), QColor(Qt::white));
}

} // namespace

namespace {

// Only under with_tray.sh: at launch the hint hangs under the placed icon beside the main window and
// stays there.
TEST_F(MiniWindowTest, RealTrayTheHintHangsUnderTheIconBesideTheMainWindow)
{
    if (!std::getenv("HORAVINE_TEST_TRAY"))
        GTEST_SKIP() << "needs an X display with a tray host (with_tray.sh)";
    ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10'000))
        << "no tray host appeared";
    settings.setDidShowMiniWindowHint(false);
    app::AppDelegate delegate({
        .persistenceController = persistence,
        .settings = settings,
        .makeStatusItem =
            [] {
                return std::make_unique<ui::TrayStatusItem>(QIcon(QStringLiteral(":/statusbar_icon.svg")),
                                                            QStringLiteral("Horavine"));
            },
    });
    QWidget mainWindow;
    mainWindow.resize(600, 400);
    delegate.setMainWindow(&mainWindow);
    mainWindow.show(); // as main() does: the main window first, then the launch sequence
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.miniWindowHint() != nullptr; }, 5'000));
    app::MiniWindowHintPopup* hint = delegate.miniWindowHint();
    const std::optional<QRect> icon = delegate.statusItem()->iconGeometry();
    ASSERT_TRUE(icon.has_value());
    EXPECT_NE(icon->topLeft(), QPoint(0, 0)); // the placed icon, not its window before the tray took it
    QTest::qWait(1000);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->frameGeometry().top(), icon->bottom() + 1 + 2);
    EXPECT_TRUE(settings.didShowMiniWindowHint());
    QGuiApplication::primaryScreen()
        ->grabWindow(0)
        .copy(hint->frameGeometry().adjusted(-30, -30, 30, 30))
        .save(QDir::temp().filePath("horavine-mini-window-hint.png"));
}

} // namespace

// The split view and the window around it: inspector pane placement, collapsible columns with their
// toggles, the date range segments, the forwarding of actions and the validation of the timer items.
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/inspector_container_view_controller.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"

#include "store_fixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

using namespace mainwindow;
using testsupport::march;

namespace {

class FakePane : public inspectors::InspectorViewController {
public:
    explicit FakePane(data::ObjectContext* context) : InspectorViewController(context, {}) {}
    void contentObjectChanged() override { inspected = inspectedObject(); }
    void focusDurationPicker() override { ++focusRequests; }
    data::Object* inspected = nullptr;
    int focusRequests = 0;
};

class FakeClients : public ClientsViewController {
public:
    void setDelegate(ClientsViewControllerDelegate* newDelegate) override { delegate = newDelegate; }
    bool isArchiveSelected() const override { return archiveSelected; }
    void selectAllProjects() override { archiveSelected = false; }
    void newClient() override { ++newClients; }
    void importClientFromContacts() override {}
    ClientsViewControllerDelegate* delegate = nullptr;
    bool archiveSelected = false;
    int newClients = 0;
};

class MainSplitViewControllerTest : public testsupport::StoreFixture {
protected:
    MainSplitViewControllerTest()
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::day));
        website_->setExpanded(true);
        window_ = std::make_unique<MainWindowController>(context_.get(), *defaults_);
        split_ = window_->splitViewController();
        split_->setInspectorPaneFactory({[this] { return projectPane_ = new FakePane(context_.get()); },
                                         [this] { return timerPane_ = new FakePane(context_.get()); }});
        window_->show();
    }
    ProjectsViewController& projects() { return *split_->projectsViewController(); }

    model::Project* website_ = project("Website");
    model::Timer* first_ = periodTimer(website_, march(6, 8), 30, "first");
    model::Timer* second_ = periodTimer(website_, march(6, 9), 30, "second");
    std::unique_ptr<MainWindowController> window_;
    MainSplitViewController* split_ = nullptr;
    FakePane* projectPane_ = nullptr;
    FakePane* timerPane_ = nullptr;
};

TEST_F(MainSplitViewControllerTest, SelectionPlacesOneReusedPaneOrTheEmptyLabel)
{
    InspectorContainerViewController& container = *split_->inspectorContainerViewController();
    EXPECT_FALSE(container.emptyLabel()->isHidden());
    EXPECT_TRUE(container.contentView()->isHidden());

    projects().selectItem(*first_);
    ASSERT_NE(timerPane_, nullptr);
    FakePane* timerPane = timerPane_;
    EXPECT_EQ(split_->currentInspectorViewController(), timerPane);
    EXPECT_EQ(timerPane->inspected, first_);
    EXPECT_EQ(timerPane->parentWidget(), container.contentView());
    EXPECT_TRUE(container.emptyLabel()->isHidden());
    EXPECT_EQ(split_->editedItem(), first_);

    projects().selectItem(*second_);
    EXPECT_EQ(timerPane_, timerPane);
    EXPECT_EQ(timerPane->inspected, second_);

    projects().selectItem(*website_);
    EXPECT_EQ(split_->currentInspectorViewController(), projectPane_);
    EXPECT_NE(timerPane->parentWidget(), container.contentView());
    EXPECT_EQ(container.contentView()->findChildren<inspectors::InspectorViewController*>().size(), 1);
    EXPECT_EQ(split_->count(), 3); // a pane put away never becomes a column of its own

    projects().outlineView()->selectionModel()->clearSelection();
    EXPECT_EQ(split_->currentInspectorViewController(), nullptr);
    EXPECT_EQ(split_->editedItem(), nullptr);
    EXPECT_FALSE(container.emptyLabel()->isHidden());
    EXPECT_TRUE(container.contentView()->isHidden());
}

TEST_F(MainSplitViewControllerTest, NewFixedDurationTimerFocusesTheDurationLater)
{
    projects().selectItem(*website_);
    split_->createNewFixedDurationTimerForSelectedProject();
    ASSERT_NE(timerPane_, nullptr);
    EXPECT_EQ(timerPane_->focusRequests, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(timerPane_->focusRequests, 1);
    EXPECT_FALSE(split_->didCreateFixedDurationTimer());

    split_->startNewTimerForSelectedProject();
    split_->createNewExpenseTimerForSelectedProject();
    QCoreApplication::processEvents();
    EXPECT_EQ(timerPane_->focusRequests, 1);
    EXPECT_EQ(website_->timers().size(), 5u);
}

TEST_F(MainSplitViewControllerTest, TimerItemsNeedASelectedUnarchivedProject)
{
    EXPECT_FALSE(window_->startNewTimerAction()->isEnabled());
    projects().selectItem(*first_);
    EXPECT_TRUE(window_->startNewTimerAction()->isEnabled());
    EXPECT_TRUE(window_->newExpenseTimerAction()->isEnabled());
    website_->setArchived(true);
    window_->validateMenuItems();
    EXPECT_FALSE(window_->newFixedDurationTimerAction()->isEnabled());
    // Without a selected project the actions do nothing.
    projects().outlineView()->selectionModel()->clearSelection();
    split_->startNewTimerForSelectedProject();
    EXPECT_EQ(website_->timers().size(), 2u);
}

TEST_F(MainSplitViewControllerTest, TogglesCollapseTheSideColumnsAndFollowThem)
{
    QToolButton* sidebar = window_->customersSidebarToggle();
    QToolButton* inspector = window_->inspectorSidebarToggle();
    EXPECT_TRUE(sidebar->isChecked());
    EXPECT_TRUE(inspector->isChecked());

    sidebar->click();
    EXPECT_TRUE(split_->isCollapsed(MainSplitViewController::sidebarColumn));
    EXPECT_FALSE(sidebar->isChecked());
    sidebar->click();
    EXPECT_FALSE(split_->isCollapsed(MainSplitViewController::sidebarColumn));
    EXPECT_GT(split_->sizes()[0], 0);
    EXPECT_TRUE(sidebar->isChecked());

    inspector->click();
    EXPECT_FALSE(inspector->isChecked());
    split_->setCollapsed(MainSplitViewController::inspectorColumn, false);
    EXPECT_TRUE(inspector->isChecked());

    // Columns collapsed and opened other than by the toggles (new sizes, as a dragged divider or a
    // restored layout gives them) turn the toggles with them.
    const QList<int> open = split_->sizes();
    split_->setSizes({0, open[0] + open[1], open[2]});
    EXPECT_FALSE(sidebar->isChecked());
    EXPECT_TRUE(inspector->isChecked());
    split_->setSizes({open[0], open[1] + open[2], 0});
    EXPECT_TRUE(sidebar->isChecked());
    EXPECT_FALSE(inspector->isChecked());
    split_->setSizes(open);
    EXPECT_TRUE(inspector->isChecked());
}

TEST_F(MainSplitViewControllerTest, DateRangeSegmentIsStoredBeforeTheFilterIsRecomputed)
{
    QButtonGroup& segments = *window_->dateFilterRangeSegments();
    EXPECT_EQ(segments.checkedId(), model::rawValue(model::DateFilterRange::day));
    periodTimer(website_, march(2, 9), 30, "earlier this month");
    segments.button(model::rawValue(model::DateFilterRange::month))->click();
    EXPECT_EQ(model::Preferences(*defaults_).dateFilterRange(), model::rawValue(model::DateFilterRange::month));
    EXPECT_EQ(projects().currentDateFilterRange(), model::DateFilterRange::month);
    EXPECT_EQ(projects().outlineModel()->timers(*website_).size(), 3u);
    EXPECT_EQ(projects().countsStatusText(), "1 project, 3 timers");

    window_->searchField()->setText("FIRST");
    EXPECT_EQ(projects().searchTerm(), "FIRST");
    EXPECT_EQ(projects().outlineModel()->timers(*website_), std::vector<model::Timer*>{first_});
}

TEST_F(MainSplitViewControllerTest, SidebarChoiceReachesTheOutlineAndNewProjectsLeaveTheArchive)
{
    auto* clients = new FakeClients;
    split_->setClientsViewController(clients);
    EXPECT_EQ(clients->delegate, split_);
    model::Client* acme = client("Acme");
    model::Project* old = project("Old", true, acme);

    clients->delegate->clientsViewControllerApplyPredicate(
        *clients, [](const model::Project& p) { return p.archived(); }, nullptr);
    EXPECT_EQ(projects().projects(), std::vector<model::Project*>{old});

    clients->archiveSelected = true;
    clients->delegate->clientsViewControllerApplyPredicate(*clients, {}, acme);
    window_->newProjectAction()->trigger();
    EXPECT_FALSE(clients->archiveSelected);
    auto* created = dynamic_cast<model::Project*>(projects().selectedItem());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->client(), acme);

    split_->newClient();
    EXPECT_EQ(clients->newClients, 1);
}

} // namespace

TEST_F(MainSplitViewControllerTest, WindowFrameIsRememberedUnderItsAutosaveName)
{
    // Smaller than the first frame, and small enough for the default offscreen screen.
    const QSize size(window_->minimumWidth() + 4, 480);
    window_->resize(size);
    window_->close();
    window_.reset();
    EXPECT_TRUE(defaults_->stringValue(MainWindowController::frameAutosaveName).has_value());
    MainWindowController reopened(context_.get(), *defaults_);
    EXPECT_EQ(reopened.size(), size);
}

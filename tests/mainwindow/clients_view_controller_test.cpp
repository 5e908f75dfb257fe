// The clients sidebar in the main window, driven as the user does: its rows, the projects its
// selection lets the outline list, new clients through the editor popover, edit, delete with its
// alert, undo, the context menu and the Delete key; checked in the rows, the store and the events.
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/clients_view_controller_delegate.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "inspectors/client_editor_view_controller.h"

#include "model/fetch_helpers.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "ui/modal_test_hook.h"
#include "ui/object_controller.h"

#include "store_fixture.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace mainwindow;

namespace {

// Keeps what the sidebar hands its delegate.
class RecordingDelegate : public ClientsViewControllerDelegate {
public:
    void clientsViewControllerApplyPredicate(ClientsViewController&, ProjectsPredicate predicate,
                                             model::Client* selectedClient) override
    {
        lastPredicate = std::move(predicate);
        lastClient = selectedClient;
        ++calls;
    }
    bool accepts(const model::Project& project) const { return lastPredicate && lastPredicate(project); }

    ProjectsPredicate lastPredicate;
    model::Client* lastClient = nullptr;
    int calls = 0;
};

class ClientsViewControllerTest : public testsupport::StoreFixture {
protected:
    ClientsViewControllerTest()
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
        kits::Tally::setEventControllerForTesting(events_);
    }
    ~ClientsViewControllerTest() override
    {
        window_.reset();
        kits::Tally::setEventControllerForTesting(nullptr);
    }

    // The main window with the sidebar handed over, as main() does.
    ClientsViewController& openWindow(data::ObjectContext* context = nullptr)
    {
        data::ObjectContext* store = context ? context : context_.get();
        store->processPendingChanges();
        window_ = std::make_unique<MainWindowController>(store, *defaults_);
        sidebar_ = new ClientsViewController(store, defaults_.get());
        window_->splitViewController()->setClientsViewController(sidebar_);
        window_->show();
        return *sidebar_;
    }
    ProjectsViewController& projects() { return *window_->splitViewController()->projectsViewController(); }
    std::vector<std::string> listedProjects()
    {
        std::vector<std::string> names;
        for (const model::Project* project : projects().projects())
            names.push_back(project->name().value_or("?"));
        return names;
    }

    // Every row's text, top to bottom, with the group rows.
    static std::vector<QString> rowTexts(const ClientsViewController& sidebar)
    {
        std::vector<QString> texts;
        const QAbstractItemModel& rows = *sidebar.outlineModel();
        for (int group = 0; group < rows.rowCount(); ++group) {
            const QModelIndex header = rows.index(group, 0);
            texts.push_back(header.data().toString());
            for (int row = 0; row < rows.rowCount(header); ++row)
                texts.push_back(rows.index(row, 0, header).data().toString());
        }
        return texts;
    }
    static QString selectedText(const ClientsViewController& sidebar)
    {
        const auto item = sidebar.selectedItem();
        return item ? sidebar.outlineModel()->indexOf(*item).data().toString() : QString();
    }
    std::vector<std::string> eventNames() const
    {
        std::vector<std::string> names;
        for (const auto& event : events_->events())
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get()))
                names.push_back(custom->customEventName().value_or(""));
        return names;
    }
    void endTurn() { context_->processPendingChanges(); }
    // The completions of alerts and popovers run on later turns.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    void rightClick(ClientsViewController& sidebar, const SidebarItem& item, QMenu** menu)
    {
        ContextMenuOutlineView& outline = *sidebar.clientsOutlineView();
        const QRect rect = outline.visualRect(sidebar.outlineModel()->indexOf(item));
        QContextMenuEvent event(QContextMenuEvent::Mouse, rect.center(),
                                outline.viewport()->mapToGlobal(rect.center()));
        *menu = outline.menuForEvent(event);
    }

    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
    std::unique_ptr<MainWindowController> window_;
    ClientsViewController* sidebar_ = nullptr;
};

TEST_F(ClientsViewControllerTest, AnEmptyStoreShowsAllProjectsSelectedAndListsOnlyUnarchivedProjects)
{
    model::Project* open = project("Open");
    model::Project* old = project("Old", true);
    ClientsViewController& sidebar = openWindow();

    EXPECT_EQ(rowTexts(sidebar), (std::vector<QString>{"PROJECTS", "All Projects", "Archive"}));
    EXPECT_EQ(selectedText(sidebar), "All Projects");
    EXPECT_FALSE(sidebar.isArchiveSelected());
    const QModelIndex header = sidebar.outlineModel()->index(0, 0);
    EXPECT_FALSE(header.flags() & Qt::ItemIsSelectable);
    EXPECT_TRUE(sidebar.outlineModel()->index(0, 0, header).flags() & Qt::ItemIsSelectable);

    RecordingDelegate delegate;
    sidebar.setDelegate(&delegate);
    sidebar.selectItem(std::string(ClientsViewController::ArchiveIdentifier));
    sidebar.selectAllProjects();
    EXPECT_TRUE(delegate.accepts(*open));
    EXPECT_FALSE(delegate.accepts(*old));
    EXPECT_EQ(delegate.lastClient, nullptr);
    sidebar.setDelegate(window_->splitViewController());
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Open"});
}

TEST_F(ClientsViewControllerTest, TheArchivePassesArchivedProjectsOnlyAndAClientItsUnarchivedOnes)
{
    model::Client* acme = client("ACME");
    model::Client* other = client("Other");
    model::Project* site = project("Site", false, acme);
    model::Project* shelved = project("Shelved", true, acme);
    model::Project* foreign = project("Foreign", false, other);
    model::Project* loose = project("Loose");
    ClientsViewController& sidebar = openWindow();
    RecordingDelegate delegate;
    sidebar.setDelegate(&delegate);

    sidebar.selectItem(std::string(ClientsViewController::ArchiveIdentifier));
    EXPECT_TRUE(sidebar.isArchiveSelected());
    EXPECT_TRUE(delegate.accepts(*shelved));
    for (const model::Project* unarchived : {site, foreign, loose})
        EXPECT_FALSE(delegate.accepts(*unarchived));

    sidebar.selectItem(acme);
    EXPECT_EQ(delegate.lastClient, acme);
    EXPECT_TRUE(delegate.accepts(*site));
    for (const model::Project* elsewhere : {shelved, foreign, loose})
        EXPECT_FALSE(delegate.accepts(*elsewhere));

    // Through the split view the outline lists the same.
    sidebar.setDelegate(window_->splitViewController());
    sidebar.selectItem(other);
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Foreign"});
    EXPECT_EQ(projects().selectedClient(), other);
    sidebar.selectItem(std::string(ClientsViewController::ArchiveIdentifier));
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Shelved"});
}

TEST_F(ClientsViewControllerTest, ClientsAreListedBySortOrderAndANamelessOneShowsClient)
{
    model::Client* second = client("Second");
    model::Client* first = client("First");
    model::Client* nameless = client("x");
    second->setSortOrder(5);
    first->setSortOrder(1);
    nameless->setSortOrder(9);
    nameless->setName(std::nullopt);
    ClientsViewController& sidebar = openWindow();

    EXPECT_EQ(rowTexts(sidebar),
              (std::vector<QString>{"PROJECTS", "All Projects", "Archive", "CLIENTS", "First", "Second", "Client"}));
    EXPECT_TRUE(sidebar.clientsOutlineView()->isExpanded(sidebar.outlineModel()->index(1, 0)));

    // A name changed elsewhere shows at the change notice.
    first->setName(std::string("Renamed"));
    endTurn();
    EXPECT_EQ(rowTexts(sidebar)[4], "Renamed");
}

TEST_F(ClientsViewControllerTest, ANewClientGetsAnExpandedGroupAndTheEditorAndCancelTakesItAway)
{
    ClientsViewController& sidebar = openWindow();
    sidebar.newClient();
    endTurn();

    EXPECT_EQ(rowTexts(sidebar),
              (std::vector<QString>{"PROJECTS", "All Projects", "Archive", "CLIENTS", "New Client"}));
    EXPECT_TRUE(sidebar.clientsOutlineView()->isExpanded(sidebar.outlineModel()->index(1, 0)));
    EXPECT_EQ(selectedText(sidebar), "New Client");
    EXPECT_EQ(eventNames(), (std::vector<std::string>{"Edit Client", "New Client"}));
    inspectors::ClientEditorViewController* editor = sidebar.clientEditor();
    ASSERT_NE(editor, nullptr);
    ASSERT_NE(editor->popover(), nullptr);
    EXPECT_TRUE(editor->isEditingNewClient());
    EXPECT_TRUE(editor->buttonContainer()->isVisibleTo(editor));

    editor->cancelButton()->click();
    settle();
    endTurn();
    EXPECT_EQ(editor->popover(), nullptr);
    EXPECT_EQ(rowTexts(sidebar), (std::vector<QString>{"PROJECTS", "All Projects", "Archive"}));
    EXPECT_EQ(selectedText(sidebar), "All Projects");
    EXPECT_TRUE(model::fetchAll<model::Client>(*context_).empty());
}

TEST_F(ClientsViewControllerTest, ACancelledNewClientIsNotInTheReopenedStore)
{
    const std::filesystem::path path = std::filesystem::path(folder_.path().toStdString()) / "Projects.horavine";
    {
        model::PersistenceController persistence(path, center_);
        data::ObjectContext& store = persistence.managedObjectContext();
        ClientsViewController& sidebar = openWindow(&store);
        sidebar.newClient();
        store.processPendingChanges();
        sidebar.clientEditor()->nameField()->setText("Typed");
        sidebar.clientEditor()->cancel();
        settle();
        store.processPendingChanges();
        window_.reset();
    }
    model::PersistenceController reopened(path, center_);
    ASSERT_EQ(reopened.status(), model::PersistenceController::Status::ok);
    EXPECT_TRUE(model::fetchAll<model::Client>(reopened.managedObjectContext()).empty());
}

TEST_F(ClientsViewControllerTest, DoneStoresANameTypedButNotCommittedAndTheRowShowsIt)
{
    ClientsViewController& sidebar = openWindow();
    sidebar.newClient();
    endTurn();
    inspectors::ClientEditorViewController& editor = *sidebar.clientEditor();
    editor.nameField()->setText("ACME Inc");
    ASSERT_EQ(model::fetchAll<model::Client>(*context_).front()->name(), "New Client");

    editor.doneButton()->click();
    settle();
    endTurn();
    const auto clients = model::fetchAll<model::Client>(*context_);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(clients.front()->name(), "ACME Inc");
    EXPECT_EQ(rowTexts(sidebar).back(), "ACME Inc");
    EXPECT_EQ(editor.popover(), nullptr);
}

TEST_F(ClientsViewControllerTest, EditingAnExistingClientHasNoButtonsAndAnEmptiedNameShowsClient)
{
    model::Client* acme = client("ACME");
    ClientsViewController& sidebar = openWindow();
    sidebar.selectItem(acme);
    sidebar.editClientAction()->trigger();
    inspectors::ClientEditorViewController& editor = *sidebar.clientEditor();
    EXPECT_FALSE(editor.isEditingNewClient());
    EXPECT_FALSE(editor.buttonContainer()->isVisibleTo(&editor));
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Edit Client"});

    editor.nameField()->clear();
    // A click elsewhere closes the transient popover; the field finishes editing with it.
    editor.popover()->close();
    settle();
    endTurn();
    EXPECT_EQ(acme->name(), std::nullopt);
    EXPECT_EQ(rowTexts(sidebar).back(), "Client");
    EXPECT_EQ(model::fetchAll<model::Client>(*context_).size(), 1u);
}

TEST_F(ClientsViewControllerTest, AProjectGivenAnotherClientLeavesTheClientsOutlineAndJoinsTheOther)
{
    model::Client* acme = client("ACME");
    model::Client* other = client("Other");
    model::Project* site = project("Site", false, acme);
    project("Shop", false, acme);
    ClientsViewController& sidebar = openWindow();
    sidebar.selectItem(acme);
    ASSERT_EQ(listedProjects(), (std::vector<std::string>{"Site", "Shop"}));

    site->setClient(other);
    endTurn();
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Shop"});

    sidebar.selectItem(other);
    ASSERT_EQ(listedProjects(), std::vector<std::string>{"Site"});
    site->setClient(acme);
    site->setArchived(false);
    endTurn();
    EXPECT_TRUE(listedProjects().empty());
    sidebar.selectItem(acme);
    EXPECT_EQ(listedProjects(), (std::vector<std::string>{"Site", "Shop"}));
    // Taken back, it joins at its place in the order.
    site->setClient(other);
    endTurn();
    site->setClient(acme);
    endTurn();
    EXPECT_EQ(listedProjects(), (std::vector<std::string>{"Site", "Shop"}));
}

TEST_F(ClientsViewControllerTest, DeleteAnsweredCancelKeepsTheClientButIsCounted)
{
    model::Client* acme = client("ACME");
    ClientsViewController& sidebar = openWindow();
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    sidebar.selectItem(acme);
    sidebar.deleteClientAction()->trigger();
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Delete Client"});
    settle();
    endTurn();

    ASSERT_EQ(hook.alerts.size(), 1u);
    const ui::Alert& alert = hook.alerts.front().alert;
    EXPECT_EQ(alert.alertStyle, ui::AlertStyle::critical);
    EXPECT_EQ(alert.messageText, "Are you sure you want to delete the client?");
    EXPECT_EQ(alert.informativeText, "All projects and timers of this client will be unassigned.");
    EXPECT_EQ(alert.buttons, (QStringList{"Delete", "Cancel"}));
    EXPECT_EQ(hook.alerts.front().window, window_.get());
    EXPECT_FALSE(acme->isDeleted());
    EXPECT_EQ(rowTexts(sidebar).back(), "ACME");
}

TEST_F(ClientsViewControllerTest, DeleteKeepsTheProjectsWithoutClientAndUndoBringsTheClientBack)
{
    model::Client* acme = client("ACME");
    model::Project* site = project("Site", false, acme);
    ClientsViewController& sidebar = openWindow();
    context_->undoManager().removeAllActions();
    ui::ModalTestHook hook;
    sidebar.selectItem(acme);
    ASSERT_EQ(listedProjects(), std::vector<std::string>{"Site"});

    sidebar.deleteSelectedClient();
    settle();
    endTurn();
    EXPECT_TRUE(acme->isDeleted());
    EXPECT_FALSE(site->isDeleted());
    EXPECT_EQ(site->client(), nullptr);
    EXPECT_EQ(rowTexts(sidebar), (std::vector<QString>{"PROJECTS", "All Projects", "Archive"}));
    // The deleted client's row gave way to all projects, and the outline followed.
    EXPECT_EQ(selectedText(sidebar), "All Projects");
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Site"});

    context_->undoManager().undo();
    endTurn();
    const auto clients = model::fetchAll<model::Client>(*context_);
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(rowTexts(sidebar).back(), "ACME");
    EXPECT_EQ(site->client(), clients.front());
}

TEST_F(ClientsViewControllerTest, DeleteWithTheSidebarFocusedNeverTouchesTheOutline)
{
    model::Client* acme = client("ACME");
    model::Project* site = project("Site", false, acme);
    ClientsViewController& sidebar = openWindow();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    sidebar.selectItem(acme);
    projects().selectItem(*site);
    ASSERT_EQ(projects().selectedItem(), site);

    sidebar.clientsOutlineView()->setFocus(Qt::OtherFocusReason);
    QAction* editDelete = window_->splitViewController()->projectsAction(ProjectsAction::deleteItem);
    EXPECT_TRUE(editDelete->isEnabled());
    QTest::keyClick(sidebar.clientsOutlineView(), Qt::Key_Delete);
    editDelete->trigger();
    settle();
    endTurn();
    EXPECT_FALSE(site->isDeleted());
    EXPECT_EQ(hook.alerts.size(), 2u);
    EXPECT_EQ(eventNames(), (std::vector<std::string>{"Delete Client", "Delete Client"}));

    // With all projects selected in the sidebar there is nothing it can delete.
    sidebar.selectAllProjects();
    EXPECT_FALSE(editDelete->isEnabled());
    // The outline focused: Delete is the outline's again.
    projects().selectItem(*site);
    projects().outlineView()->setFocus(Qt::OtherFocusReason);
    EXPECT_TRUE(editDelete->isEnabled());
    editDelete->trigger();
    endTurn();
    EXPECT_TRUE(site->isDeleted());
    EXPECT_EQ(hook.alerts.size(), 2u);
}

TEST_F(ClientsViewControllerTest, ARightClickSelectsAnUnselectedClientAloneAndAllProjectsHasNoMenu)
{
    model::Client* acme = client("ACME");
    model::Client* other = client("Other");
    project("Site", false, acme);
    project("Foreign", false, other);
    ClientsViewController& sidebar = openWindow();
    sidebar.selectItem(other);

    QMenu* menu = nullptr;
    rightClick(sidebar, acme, &menu);
    EXPECT_EQ(menu, sidebar.clientContextMenu());
    EXPECT_EQ(selectedText(sidebar), "ACME");
    EXPECT_EQ(sidebar.clientsOutlineView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(listedProjects(), std::vector<std::string>{"Site"});
    EXPECT_TRUE(sidebar.deleteClientAction()->isEnabled());

    rightClick(sidebar, std::string(ClientsViewController::AllProjectsIdentifier), &menu);
    EXPECT_EQ(menu, nullptr);
    rightClick(sidebar, std::string("clients"), &menu);
    EXPECT_EQ(menu, nullptr);
    EXPECT_EQ(selectedText(sidebar), "ACME");
}

TEST_F(ClientsViewControllerTest, WithoutAStoreNothingIsListedOrMade)
{
    ClientsViewController sidebar;
    sidebar.newClient();
    sidebar.reloadData();
    EXPECT_EQ(sidebar.outlineModel()->rowCount(), 0);
    EXPECT_EQ(sidebar.clientEditor(), nullptr);
    EXPECT_FALSE(sidebar.canDeleteSelection());
}

} // namespace

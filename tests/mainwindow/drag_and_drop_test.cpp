// Drag and drop in the projects outline and the clients sidebar: the MIME data a dragged row
// carries, the drops each view takes or refuses (with the place it retargets them to), what a drop
// does to the store, the outline's rows, the undo history and the usage events, and the proposal and
// indicator that drag events on the viewport give.
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/drag_data.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"
#include "mainwindow/projects_view_controller.h"

#include "model/attachment.h"
#include "model/fetch_helpers.h"
#include "model/pasteboard_types.h"
#include "model/preferences.h"

#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "ui/modal_test_hook.h"

#include "store_fixture.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include <fstream>

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

constexpr Qt::DropActions everyAction = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

// Delivers a drag at `end` as the window system does: entered, moved over, dropped; returns the
// action the drag reports.
Qt::DropAction deliverDrop(QWidget& viewport, QPoint end, const QMimeData* mimeData)
{
    QDragEnterEvent enter(end, everyAction, mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &enter);
    QDragMoveEvent moved(end, everyAction, mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &moved);
    QDropEvent dropped(end, everyAction, mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

class DragAndDropTest : public testsupport::StoreFixture {
protected:
    DragAndDropTest()
    {
        model::Preferences(*defaults_).setDateFilterRange(model::rawValue(model::DateFilterRange::all));
        kits::Tally::setEventControllerForTesting(events_);
        modelFaults = 0;
        previousHandler_ = qInstallMessageHandler(countModelFaults);
    }
    ~DragAndDropTest() override
    {
        tester_.reset();
        window_.reset();
        controller_.reset();
        qInstallMessageHandler(previousHandler_);
        kits::Tally::setEventControllerForTesting(nullptr);
        EXPECT_EQ(modelFaults, 0);
    }

    // The outline alone, shown, with every project expanded.
    ProjectsViewController& outline()
    {
        for (model::Project* project : model::fetch<model::Project>(*context_))
            project->setExpanded(true);
        endTurn();
        controller_ = std::make_unique<ProjectsViewController>(context_.get(), *defaults_);
        watch(*controller_);
        controller_->resize(900, 600);
        controller_->show();
        expandAll(*controller_);
        forgetEvents();
        return *controller_;
    }
    // The main window with the sidebar handed over, as main() does.
    ProjectsViewController& window()
    {
        endTurn();
        window_ = std::make_unique<MainWindowController>(context_.get(), *defaults_);
        sidebar_ = new ClientsViewController(context_.get(), defaults_.get());
        window_->splitViewController()->setClientsViewController(sidebar_);
        window_->show();
        ProjectsViewController& projects = *window_->splitViewController()->projectsViewController();
        watch(projects);
        expandAll(projects);
        forgetEvents();
        return projects;
    }
    void watch(ProjectsViewController& controller)
    {
        tester_ = std::make_unique<QAbstractItemModelTester>(controller.outlineModel(),
                                                             QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    static void expandAll(ProjectsViewController& controller)
    {
        for (model::Project* project : controller.projects())
            controller.outlineView()->expand(controller.outlineModel()->indexOf(project));
    }
    void endTurn() { context_->processPendingChanges(); }

    // Places to drop on in the outline.
    static OutlineDropTarget gap(int childIndex) { return {QPersistentModelIndex(), childIndex}; }
    static OutlineDropTarget gapIn(ProjectsViewController& controller, model::Project* project, int childIndex)
    {
        return {controller.outlineModel()->indexOf(project), childIndex};
    }
    static OutlineDropTarget onto(ProjectsViewController& controller, data::Object* item)
    {
        return {controller.outlineModel()->indexOf(item), OutlineDropTarget::onItem};
    }
    static OutlineDropTarget ontoSidebar(ClientsViewController& sidebar, const SidebarItem& item)
    {
        return {sidebar.outlineModel()->indexOf(item), OutlineDropTarget::onItem};
    }
    // The drag the outline writes for an item's row.
    static std::unique_ptr<QMimeData> dragOf(ProjectsViewController& controller, data::Object* item)
    {
        return controller.outlineViewPasteboardWriterForItem(*controller.outlineView(),
                                                             controller.outlineModel()->indexOf(item));
    }
    static std::unique_ptr<QMimeData> filesDrag(const QList<QUrl>& urls)
    {
        auto mimeData = std::make_unique<QMimeData>();
        mimeData->setUrls(urls);
        return mimeData;
    }

    struct DropResult {
        Qt::DropAction action = Qt::IgnoreAction;
        OutlineDropTarget target;
        bool accepted = false;
    };
    // Validates the drop as the view does and, when it is taken, hands it over at the place
    // validation left; then the turn ends (the notice, the undo group).
    template <typename Delegate>
    DropResult drop(Delegate& delegate, ContextMenuOutlineView& view, const QMimeData& mimeData,
                    OutlineDropTarget target)
    {
        DropResult result;
        result.action = delegate.outlineViewValidateDrop(view, mimeData, target);
        result.target = target;
        if (result.action != Qt::IgnoreAction)
            result.accepted = delegate.outlineViewAcceptDrop(view, mimeData, target);
        endTurn();
        return result;
    }
    DropResult dropOnOutline(ProjectsViewController& controller, const QMimeData& mimeData, OutlineDropTarget target)
    {
        return drop(controller, *controller.outlineView(), mimeData, std::move(target));
    }
    Qt::DropAction validateOnOutline(ProjectsViewController& controller, const QMimeData& mimeData,
                                     OutlineDropTarget target)
    {
        return controller.outlineViewValidateDrop(*controller.outlineView(), mimeData, target);
    }

    static std::vector<std::string> names(const std::vector<model::Project*>& projects)
    {
        std::vector<std::string> result;
        for (const model::Project* project : projects)
            result.push_back(project->name().value_or("?"));
        return result;
    }
    std::vector<std::string> storeOrder() { return names(model::fetchAll<model::Project>(*context_)); }
    std::vector<std::int64_t> sortOrders()
    {
        std::vector<std::int64_t> orders;
        for (const model::Project* project : model::fetchAll<model::Project>(*context_))
            orders.push_back(project->sortOrder());
        return orders;
    }
    // The outline's top-level rows as the tree view reads them.
    static std::vector<std::string> rows(ProjectsViewController& controller)
    {
        std::vector<std::string> result;
        const QAbstractItemModel& model = *controller.outlineView()->model();
        for (int row = 0; row < model.rowCount(); ++row)
            result.push_back(model.index(row, 0).data().toString().toStdString());
        return result;
    }
    // After a move the outline holds what a fresh build would: the listed projects in the store's
    // order, each with its timers under the filter.
    void expectOutlineIsAFreshBuild(ProjectsViewController& controller,
                                    const std::function<bool(const model::Project&)>& predicate)
    {
        const auto fresh = model::fetchAll<model::Project>(*context_, predicate);
        EXPECT_EQ(controller.projects(), fresh);
        EXPECT_EQ(rows(controller), names(fresh));
        const ProjectsOutlineModel& model = *controller.outlineModel();
        for (model::Project* project : fresh) {
            const auto timers = project->timers(controller.filter());
            EXPECT_EQ(model.timers(*project), timers) << *project->name();
            const QModelIndex parent = model.indexOf(project);
            ASSERT_EQ(model.rowCount(parent), static_cast<int>(timers.size()));
            for (int row = 0; row < model.rowCount(parent); ++row)
                EXPECT_EQ(model.item(model.index(row, 0, parent)), timers[static_cast<std::size_t>(row)]);
        }
    }
    static bool unarchived(const model::Project& project) { return !project.archived(); }

    // The usage events since the last forgetEvents().
    std::vector<std::string> eventNames() const
    {
        std::vector<std::string> names;
        const auto events = events_->events();
        for (std::size_t i = eventsForgotten_; i < events.size(); ++i)
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(events[i].get()))
                names.push_back(custom->customEventName().value_or(""));
        return names;
    }
    void forgetEvents() { eventsForgotten_ = events_->events().size(); }

    int notices_ = 0;
    foundation::ObserverToken noticeToken_ = center_.addObserver(
        data::ObjectsDidChangeNotification, nullptr, [this](const foundation::Notification&) { ++notices_; });
    std::shared_ptr<kits::TLYRecordingEventController> events_ = std::make_shared<kits::TLYRecordingEventController>();
    std::size_t eventsForgotten_ = 0;
    std::unique_ptr<ProjectsViewController> controller_;
    std::unique_ptr<MainWindowController> window_;
    ClientsViewController* sidebar_ = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    QtMessageHandler previousHandler_ = nullptr;
};

const QString projectType = pasteboardMimeType(model::PasteboardTypes::project);
const QString timerType = pasteboardMimeType(model::PasteboardTypes::timer);
const QString clientType = pasteboardMimeType(model::PasteboardTypes::client);

TEST_F(DragAndDropTest, ADraggedRowCarriesItsUriUnderItsEntitysTypeAndNothingElse)
{
    model::Client* acme = client("ACME");
    model::Project* site = project("Site", false, acme);
    model::Timer* timer = periodTimer(site, march(6, 9), 30);
    ProjectsViewController& projects = window();

    const auto projectDrag = dragOf(projects, site);
    ASSERT_TRUE(projectDrag);
    EXPECT_EQ(projectDrag->formats(), QStringList{projectType});
    EXPECT_EQ(projectDrag->data(projectType).toStdString(), site->uriRepresentation());
    const auto timerDrag = dragOf(projects, timer);
    ASSERT_TRUE(timerDrag);
    EXPECT_EQ(timerDrag->formats(), QStringList{timerType});
    EXPECT_EQ(draggedObject(*timerDrag, *context_), timer);

    ClientsViewController& sidebar = *sidebar_;
    ClientsOutlineModel& items = *sidebar.outlineModel();
    const auto clientDrag =
        sidebar.outlineViewPasteboardWriterForItem(*sidebar.clientsOutlineView(), items.indexOf(acme));
    ASSERT_TRUE(clientDrag);
    EXPECT_EQ(clientDrag->formats(), QStringList{clientType});
    EXPECT_EQ(draggedObject(*clientDrag, *context_), acme);
    EXPECT_TRUE(items.indexOf(acme).flags() & Qt::ItemIsDragEnabled);
    // Headers, "All Projects" and "Archive" cannot be dragged.
    for (const char* text : {ClientsOutlineModel::projectsGroup, ClientsOutlineModel::clientsGroup,
                             ClientsOutlineModel::allProjectsIdentifier, ClientsOutlineModel::archiveIdentifier}) {
        const QModelIndex row = items.indexOf(std::string(text));
        ASSERT_TRUE(row.isValid()) << text;
        EXPECT_FALSE(sidebar.outlineViewPasteboardWriterForItem(*sidebar.clientsOutlineView(), row)) << text;
        EXPECT_FALSE(row.flags() & Qt::ItemIsDragEnabled) << text;
    }
}

TEST_F(DragAndDropTest, ReadingADragPrefersProjectsThenTimersAndRefusesWhatNamesNoLiveObject)
{
    model::Project* site = project("Site");
    model::Timer* timer = periodTimer(site, march(6, 9), 30);
    model::Client* acme = client("ACME");
    model::Project* gone = project("Gone");
    endTurn();
    const std::string goneUri = gone->uriRepresentation();
    context_->deleteObject(gone);
    endTurn();

    QMimeData both;
    both.setData(timerType, QByteArray::fromStdString(timer->uriRepresentation()));
    both.setData(clientType, QByteArray::fromStdString(acme->uriRepresentation()));
    EXPECT_EQ(draggedObject(both, *context_), timer);
    both.setData(projectType, QByteArray::fromStdString(site->uriRepresentation()));
    EXPECT_EQ(draggedObject(both, *context_), site);

    // The first type found decides, even when its text names nothing.
    QMimeData stale;
    stale.setData(projectType, QByteArray::fromStdString(goneUri));
    stale.setData(clientType, QByteArray::fromStdString(acme->uriRepresentation()));
    EXPECT_EQ(draggedObject(stale, *context_), nullptr);
    QMimeData garbage;
    garbage.setData(projectType, "not a uri at all");
    EXPECT_EQ(draggedObject(garbage, *context_), nullptr);
    QMimeData text;
    text.setText(QString::fromStdString(site->uriRepresentation()));
    EXPECT_EQ(draggedObject(text, *context_), nullptr);

    // Another store's object, even one with the same key, is none of this store's.
    data::ObjectContext other(model::managedObjectModel(), center_);
    auto* stranger = model::initInContext<model::Project>(other);
    other.processPendingChanges();
    QMimeData foreign;
    foreign.setData(projectType, QByteArray::fromStdString(stranger->uriRepresentation()));
    EXPECT_EQ(draggedObject(foreign, *context_), nullptr);
}

TEST_F(DragAndDropTest, OnlyLocalFilesOfAUriListCount)
{
    const auto mimeData =
        filesDrag({QUrl("file:///tmp/a.txt"), QUrl("https://example.com/b.txt"), QUrl("file://otherhost/c.txt"),
                   QUrl("file://localhost/srv/d.txt"), QUrl("ftp://example.com/e"), QUrl("file:///tmp/a.txt")});
    EXPECT_EQ(droppedFiles(*mimeData), (std::vector<std::filesystem::path>{"/tmp/a.txt", "/srv/d.txt", "/tmp/a.txt"}));
    EXPECT_TRUE(droppedFiles(*filesDrag({QUrl("https://example.com/")})).empty());
    QMimeData noUrls;
    noUrls.setText("/tmp/a.txt");
    EXPECT_TRUE(droppedFiles(noUrls).empty());
}

TEST_F(DragAndDropTest, ProjectsMoveIntoTopLevelGapsOnlyAndAreRenumbered)
{
    model::Project* a = project("A");
    model::Project* b = project("B");
    project("C");
    project("D");
    model::Timer* timer = periodTimer(b, march(6, 9), 30);
    ProjectsViewController& projects = outline();
    const auto dragA = dragOf(projects, a);

    EXPECT_EQ(validateOnOutline(projects, *dragA, gap(0)), Qt::MoveAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, gap(4)), Qt::MoveAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, onto(projects, b)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, onto(projects, timer)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, gapIn(projects, b, 0)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, gapIn(projects, b, 1)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *dragA, gap(OutlineDropTarget::onItem)), Qt::IgnoreAction);

    const auto undoSteps = context_->undoManager().undoCount();
    const int notices = notices_;
    DropResult result = dropOnOutline(projects, *dragA, gap(3));
    EXPECT_EQ(result.action, Qt::MoveAction);
    EXPECT_EQ(result.target, gap(3)); // not retargeted
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"B", "C", "A", "D"}));
    EXPECT_EQ(sortOrders(), (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Drag & Drop Project"});
    EXPECT_EQ(notices_, notices + 1);
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    expectOutlineIsAFreshBuild(projects, unarchived);
    EXPECT_TRUE(projects.outlineView()->isExpanded(projects.outlineModel()->indexOf(b)));

    // Undo brings the old order back in the store and the outline.
    context_->undoManager().undo();
    endTurn();
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"A", "B", "C", "D"}));
    expectOutlineIsAFreshBuild(projects, unarchived);

    result = dropOnOutline(projects, *dragA, gap(4));
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"B", "C", "D", "A"}));
    expectOutlineIsAFreshBuild(projects, unarchived);
    // To its own place: nothing moves, but the projects are numbered and the drop counted.
    a->setSortOrder(9);
    endTurn();
    forgetEvents();
    result = dropOnOutline(projects, *dragOf(projects, a), gap(4));
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"B", "C", "D", "A"}));
    EXPECT_EQ(sortOrders(), (std::vector<std::int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Drag & Drop Project"});
    expectOutlineIsAFreshBuild(projects, unarchived);
}

TEST_F(DragAndDropTest, UnderAClientTheGapIsBetweenTheShownProjects)
{
    model::Client* acme = client("ACME");
    project("A");
    model::Project* b = project("B", false, acme);
    project("C");
    model::Project* d = project("D", false, acme);
    const auto ofAcme = [acme](const model::Project& project) {
        return project.client() == acme && !project.archived();
    };
    ProjectsViewController& projects = outline();
    projects.setProjectsPredicate(ofAcme);
    ASSERT_EQ(names(projects.projects()), (std::vector<std::string>{"B", "D"}));

    // B after D, the end of the list shown: right after D in the store, not at the store's place 2.
    EXPECT_TRUE(dropOnOutline(projects, *dragOf(projects, b), gap(2)).accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"A", "C", "D", "B"}));
    EXPECT_EQ(sortOrders(), (std::vector<std::int64_t>{0, 1, 2, 3}));
    expectOutlineIsAFreshBuild(projects, ofAcme);

    // Back to A, B, C, D; then D before B, the first shown.
    context_->undoManager().undo();
    endTurn();
    ASSERT_EQ(storeOrder(), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_TRUE(dropOnOutline(projects, *dragOf(projects, d), gap(0)).accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"A", "D", "B", "C"}));
    EXPECT_EQ(sortOrders(), (std::vector<std::int64_t>{0, 1, 2, 3}));
    expectOutlineIsAFreshBuild(projects, ofAcme);
}

TEST_F(DragAndDropTest, StoredNumbersWithGapsAreNumberedAgainWithoutLosingAProject)
{
    model::Project* p = project("P");
    model::Project* q = project("Q");
    model::Project* r = project("R");
    p->setSortOrder(0);
    q->setSortOrder(5);
    r->setSortOrder(9);
    ProjectsViewController& projects = outline();

    EXPECT_TRUE(dropOnOutline(projects, *dragOf(projects, r), gap(0)).accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"R", "P", "Q"}));
    EXPECT_EQ(sortOrders(), (std::vector<std::int64_t>{0, 1, 2}));
    expectOutlineIsAFreshBuild(projects, unarchived);
    // Q to the end: the gap index 3 is no stored number of any project.
    EXPECT_TRUE(dropOnOutline(projects, *dragOf(projects, q), gap(3)).accepted);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"R", "P", "Q"}));
}

TEST_F(DragAndDropTest, ATimerDroppedAmongAnotherProjectsTimersMovesOntoThatProject)
{
    model::Project* a = project("A");
    model::Project* b = project("B");
    model::Timer* moved = periodTimer(a, march(6, 9), 30, "moved");
    model::Timer* stays = periodTimer(a, march(6, 7), 10, "stays");
    model::Timer* early = periodTimer(b, march(6, 8), 60, "early");
    model::Timer* late = periodTimer(b, march(6, 11), 15, "late");
    ProjectsViewController& projects = outline();
    ProjectsOutlineModel& model = *projects.outlineModel();
    const auto drag = dragOf(projects, moved);

    EXPECT_EQ(validateOnOutline(projects, *drag, onto(projects, a)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, gapIn(projects, a, 1)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, onto(projects, early)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, gap(1)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, onto(projects, b)), Qt::MoveAction);

    const auto undoSteps = context_->undoManager().undoCount();
    const DropResult result = dropOnOutline(projects, *drag, gapIn(projects, b, 2));
    EXPECT_EQ(result.action, Qt::MoveAction);
    EXPECT_EQ(result.target, onto(projects, b)); // retargeted onto B
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(moved->project(), b);
    EXPECT_EQ(model.timers(*b), (std::vector<model::Timer*>{early, moved, late}));
    EXPECT_EQ(model.timers(*a), std::vector<model::Timer*>{stays});
    EXPECT_EQ(model.duration(*a), 10);
    EXPECT_EQ(model.duration(*b), 105);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Drag & Drop Timer"});
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    expectOutlineIsAFreshBuild(projects, unarchived);
    EXPECT_EQ(projects.countsStatusText(), "2 projects, 4 timers");

    context_->undoManager().undo();
    endTurn();
    EXPECT_EQ(moved->project(), a);
    expectOutlineIsAFreshBuild(projects, unarchived);
    EXPECT_EQ(model.duration(*a), 40);
}

TEST_F(DragAndDropTest, FilesDroppedOnAProjectOrItsTimersAreAttachedOnce)
{
    QTemporaryDir files;
    const std::filesystem::path root = files.path().toStdString();
    std::ofstream(root / "f1.txt") << "one";
    std::filesystem::create_directory(root / "folder");
    const QUrl f1 = QUrl::fromLocalFile(QString::fromStdString((root / "f1.txt").string()));
    const QUrl folder = QUrl::fromLocalFile(QString::fromStdString((root / "folder").string()) + "/");
    model::Project* a = project("A");
    model::Project* b = project("B");
    model::Timer* timer = periodTimer(b, march(6, 9), 30);
    ProjectsViewController& projects = outline();
    // Files come first: the project a file manager's drag may also name is not looked at.
    auto drag = filesDrag({f1, f1, QUrl("https://example.com/f2.txt"), folder});
    drag->setData(projectType, QByteArray::fromStdString(a->uriRepresentation()));

    EXPECT_EQ(validateOnOutline(projects, *drag, gap(0)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, gap(2)), Qt::IgnoreAction);
    const auto undoSteps = context_->undoManager().undoCount();
    DropResult result = dropOnOutline(projects, *drag, onto(projects, timer));
    EXPECT_EQ(result.action, Qt::LinkAction);
    EXPECT_EQ(result.target, onto(projects, b));
    EXPECT_TRUE(result.accepted);
    ASSERT_EQ(b->attachments().size(), 2u);
    std::vector<std::string> paths;
    for (const model::Attachment* attachment : b->attachments())
        paths.push_back(attachment->originalPath().value_or(""));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{(root / "f1.txt").string(), (root / "folder").string()}));
    EXPECT_TRUE(a->attachments().empty());
    EXPECT_TRUE(eventNames().empty());
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"A", "B"}));

    // The same files again: nothing new, and the drop is still taken.
    result = dropOnOutline(projects, *drag, gapIn(projects, b, 0));
    EXPECT_EQ(result.target, onto(projects, b));
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(b->attachments().size(), 2u);

    context_->undoManager().undo();
    endTurn();
    EXPECT_EQ(b->attachments().size(), 0u);

    // No local file among the URLs: it is no file drop, and it carries no object either.
    const auto remote = filesDrag({QUrl("https://example.com/f2.txt"), QUrl("file://otherhost/f3.txt")});
    EXPECT_EQ(validateOnOutline(projects, *remote, onto(projects, b)), Qt::IgnoreAction);
    EXPECT_FALSE(projects.outlineViewAcceptDrop(*projects.outlineView(), *remote, onto(projects, b)));
}

TEST_F(DragAndDropTest, AClientFromTheSidebarDroppedOnAProjectBecomesItsClient)
{
    model::Client* acme = client("ACME");
    model::Client* globex = client("Globex");
    model::Project* a = project("A");
    model::Timer* timer = periodTimer(a, march(6, 9), 30);
    ProjectsViewController& projects = window();
    ClientsViewController& sidebar = *sidebar_;
    const auto drag = sidebar.outlineViewPasteboardWriterForItem(*sidebar.clientsOutlineView(),
                                                                 sidebar.outlineModel()->indexOf(acme));
    ASSERT_TRUE(drag);

    EXPECT_EQ(validateOnOutline(projects, *drag, onto(projects, timer)), Qt::IgnoreAction);
    EXPECT_EQ(validateOnOutline(projects, *drag, gap(0)), Qt::IgnoreAction);
    const DropResult result = dropOnOutline(projects, *drag, gapIn(projects, a, 1));
    EXPECT_EQ(result.action, Qt::MoveAction);
    EXPECT_EQ(result.target, onto(projects, a));
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(a->client(), acme);
    EXPECT_TRUE(eventNames().empty());
    EXPECT_EQ(projects.outlineModel()->indexOf(a).data(ProjectsOutlineModel::ProjectClientRole).toString(), "ACME");

    // A client whose currency would relabel billed timers is asked about first; Cancel keeps the
    // project's client.
    acme->setCurrency("$");
    globex->setCurrency("CHF");
    timer->setBilled(true);
    endTurn();
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    const auto globexDrag = sidebar.outlineViewPasteboardWriterForItem(*sidebar.clientsOutlineView(),
                                                                       sidebar.outlineModel()->indexOf(globex));
    ASSERT_TRUE(globexDrag);
    EXPECT_TRUE(dropOnOutline(projects, *globexDrag, onto(projects, a)).accepted);
    ASSERT_EQ(hook.alerts.size(), 1u);
    EXPECT_TRUE(hook.alerts[0].alert.informativeText.startsWith("1 billed timer of this project will be shown in CHF"));
    EXPECT_EQ(a->client(), acme);
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertFirstButtonReturn; };
    dropOnOutline(projects, *globexDrag, onto(projects, a));
    QApplication::processEvents(); // the answer comes once the sheet is over
    EXPECT_EQ(a->client(), globex);
}

// Pressing a client in the sidebar chooses nothing yet: the outline keeps listing the projects of
// all clients, so the client can be dragged onto another client's project. A click chooses the
// client when the button comes up.
TEST_F(DragAndDropTest, AClientDraggedWithTheMouseOntoAnotherClientsProjectBecomesItsClient)
{
    model::Client* acme = client("ACME");
    model::Client* globex = client("Globex");
    model::Project* rocket = project("Rocket", false, globex);
    ProjectsViewController& projects = window();
    ClientsViewController& sidebar = *sidebar_;
    ContextMenuOutlineView& sidebarView = *sidebar.clientsOutlineView();
    ProjectsOutlineView& view = *projects.outlineView();
    const SidebarItem allProjects = std::string(ClientsOutlineModel::allProjectsIdentifier);
    ASSERT_EQ(sidebar.selectedItem(), allProjects);

    int drags = 0;
    sidebarView.dragExecutor = [&](QDrag& drag) {
        ++drags;
        EXPECT_EQ(sidebar.selectedItem(), allProjects);
        const QModelIndex row = projects.outlineModel()->indexOf(rocket);
        EXPECT_TRUE(row.isValid());
        return deliverDrop(*view.viewport(), view.visualRect(row).center(), drag.mimeData());
    };
    QWidget& viewport = *sidebarView.viewport();
    const QPoint acmePoint = sidebarView.visualRect(sidebar.outlineModel()->indexOf(acme)).center();
    QTest::mousePress(&viewport, Qt::LeftButton, Qt::NoModifier, acmePoint);
    EXPECT_EQ(sidebar.selectedItem(), allProjects);
    const QPoint to = acmePoint + QPoint(0, QApplication::startDragDistance() + 2);
    QMouseEvent moved(QEvent::MouseMove, to, viewport.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &moved);
    QTest::mouseRelease(&viewport, Qt::LeftButton, Qt::NoModifier, to);
    endTurn();
    EXPECT_EQ(drags, 1);
    EXPECT_EQ(rocket->client(), acme);
    EXPECT_EQ(sidebar.selectedItem(), allProjects);

    QTest::mouseClick(&viewport, Qt::LeftButton, Qt::NoModifier, acmePoint);
    EXPECT_EQ(sidebar.selectedItem(), SidebarItem(acme));
    EXPECT_EQ(projects.projects(), std::vector<model::Project*>{rocket});
}

TEST_F(DragAndDropTest, AProjectDroppedOnAClientRowOfTheSidebarGetsThatClient)
{
    model::Client* acme = client("ACME");
    model::Client* globex = client("Globex");
    model::Project* site = project("Site", false, acme);
    model::Timer* timer = periodTimer(site, march(6, 9), 30);
    ProjectsViewController& projects = window();
    ClientsViewController& sidebar = *sidebar_;
    ContextMenuOutlineView& view = *sidebar.clientsOutlineView();
    sidebar.selectItem(acme);
    ASSERT_EQ(names(projects.projects()), std::vector<std::string>{"Site"});
    const auto drag = dragOf(projects, site);

    // Nothing but a client row takes it: not "All Projects", the archive, a header or a gap.
    const QModelIndex clientsHeader = sidebar.outlineModel()->indexOf(std::string(ClientsOutlineModel::clientsGroup));
    for (const OutlineDropTarget& refused : std::vector<OutlineDropTarget>{
             ontoSidebar(sidebar, std::string(ClientsOutlineModel::allProjectsIdentifier)),
             ontoSidebar(sidebar, std::string(ClientsOutlineModel::archiveIdentifier)),
             ontoSidebar(sidebar, std::string(ClientsOutlineModel::clientsGroup)), OutlineDropTarget{clientsHeader, 1},
             OutlineDropTarget{QPersistentModelIndex(), 2}}) {
        OutlineDropTarget target = refused;
        EXPECT_EQ(sidebar.outlineViewValidateDrop(view, *drag, target), Qt::IgnoreAction);
    }
    // Only projects: a timer or a client is refused even on a client row.
    OutlineDropTarget target = ontoSidebar(sidebar, globex);
    EXPECT_EQ(sidebar.outlineViewValidateDrop(view, *dragOf(projects, timer), target), Qt::IgnoreAction);
    const auto clientDrag = sidebar.outlineViewPasteboardWriterForItem(view, sidebar.outlineModel()->indexOf(acme));
    EXPECT_EQ(sidebar.outlineViewValidateDrop(view, *clientDrag, target), Qt::IgnoreAction);
    EXPECT_TRUE(eventNames().empty());

    const auto undoSteps = context_->undoManager().undoCount();
    const DropResult result = drop(sidebar, view, *drag, ontoSidebar(sidebar, globex));
    EXPECT_EQ(result.action, Qt::MoveAction);
    EXPECT_EQ(result.target, ontoSidebar(sidebar, globex));
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(site->client(), globex);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Drop project on client"});
    EXPECT_EQ(context_->undoManager().undoCount(), undoSteps + 1);
    // ACME is still selected: its list no longer holds the project.
    EXPECT_TRUE(projects.projects().empty());
    EXPECT_FALSE(projects.outlineModel()->indexOf(site).isValid());
    sidebar.selectItem(globex);
    EXPECT_EQ(names(projects.projects()), std::vector<std::string>{"Site"});

    context_->undoManager().undo();
    endTurn();
    EXPECT_EQ(site->client(), acme);
}

// Over the sidebar only the middle of a client row takes a project; the frame shows it.
TEST_F(DragAndDropTest, DragEventsOverTheSidebarFrameOnlyAClientRow)
{
    model::Client* acme = client("ACME");
    model::Client* globex = client("Globex");
    model::Project* site = project("Site");
    ProjectsViewController& projects = window();
    ContextMenuOutlineView& view = *sidebar_->clientsOutlineView();
    ClientsOutlineModel& items = *sidebar_->outlineModel();
    const auto drag = dragOf(projects, site);
    const auto at = [&](const SidebarItem& item, double fraction) {
        const QRect rect = view.visualRect(items.indexOf(item));
        return QPoint(rect.left() + 20, rect.top() + static_cast<int>(rect.height() * fraction));
    };
    const auto move = [&](const QMimeData& mimeData, QPoint point) {
        QDragEnterEvent enter(point, everyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QDragMoveEvent moved(point, everyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &moved);
        return moved.isAccepted() ? moved.dropAction() : Qt::IgnoreAction;
    };

    EXPECT_EQ(move(*drag, at(globex, 0.5)), Qt::MoveAction);
    ASSERT_TRUE(view.dropIndicator());
    EXPECT_EQ(*view.dropIndicator(), ontoSidebar(*sidebar_, globex));
    EXPECT_EQ(view.dropIndicatorRect().top(), view.visualRect(items.indexOf(globex)).top());
    // Between two clients, on "All Projects" or a header: refused, no indicator.
    for (const QPoint& refused :
         {at(globex, 0.1), at(acme, 0.9), at(std::string("all_projects"), 0.5), at(std::string("clients"), 0.5)}) {
        EXPECT_EQ(move(*drag, refused), Qt::IgnoreAction);
        EXPECT_FALSE(view.dropIndicator());
    }
    // A client's own drag is not even entered here: the sidebar takes projects only.
    const auto clientDrag = sidebar_->outlineViewPasteboardWriterForItem(view, items.indexOf(acme));
    EXPECT_EQ(move(*clientDrag, at(globex, 0.5)), Qt::IgnoreAction);

    move(*drag, at(acme, 0.5));
    QDropEvent dropped(at(acme, 0.5), everyAction, drag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &dropped);
    EXPECT_TRUE(dropped.isAccepted());
    endTurn();
    EXPECT_EQ(site->client(), acme);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Drop project on client"});
}

// Drag events sent to the viewport as the window system would: the proposal under the pointer,
// the retargeting, the indicator, and the drop at the end.
TEST_F(DragAndDropTest, DragEventsOnTheViewportProposeRetargetAndShowTheIndicator)
{
    model::Project* a = project("A");
    model::Project* b = project("B");
    model::Project* c = project("C");
    model::Timer* first = periodTimer(b, march(6, 8), 30);
    model::Timer* second = periodTimer(b, march(6, 9), 30);
    model::Timer* other = periodTimer(c, march(6, 9), 30);
    ProjectsViewController& projects = outline();
    ProjectsOutlineView& view = *projects.outlineView();
    ProjectsOutlineModel& model = *projects.outlineModel();
    QWidget& viewport = *view.viewport();
    const auto rowRect = [&](data::Object* item) { return view.visualRect(model.indexOf(item)); };
    const auto at = [&](data::Object* item, double fraction) {
        const QRect rect = rowRect(item);
        return QPoint(60, rect.top() + static_cast<int>(rect.height() * fraction));
    };
    const auto move = [&](const QMimeData& mimeData, QPoint point) {
        QDragEnterEvent enter(point, everyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&viewport, &enter);
        QDragMoveEvent moved(point, everyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&viewport, &moved);
        return moved.isAccepted() ? moved.dropAction() : Qt::IgnoreAction;
    };

    // The proposal: quarters of a row, the first child of an expanded row, the end.
    EXPECT_EQ(view.proposedDropTarget(at(c, 0.1)), gap(2));
    EXPECT_EQ(view.proposedDropTarget(at(c, 0.5)), onto(projects, c));
    EXPECT_EQ(view.proposedDropTarget(at(a, 0.9)), gap(1));
    EXPECT_EQ(view.proposedDropTarget(at(b, 0.9)), gapIn(projects, b, 0));
    EXPECT_EQ(view.proposedDropTarget(at(second, 0.1)), gapIn(projects, b, 1));
    EXPECT_EQ(view.proposedDropTarget(at(second, 0.9)), gapIn(projects, b, 2));
    EXPECT_EQ(view.proposedDropTarget(QPoint(60, rowRect(other).bottom() + 30)), gap(3));

    const auto projectDrag = dragOf(projects, a);
    EXPECT_EQ(move(*projectDrag, at(c, 0.1)), Qt::MoveAction);
    ASSERT_TRUE(view.dropIndicator());
    EXPECT_EQ(*view.dropIndicator(), gap(2));
    EXPECT_LE(view.dropIndicatorRect().height(), 2);
    EXPECT_NEAR(view.dropIndicatorRect().center().y(), rowRect(c).top(), 1);
    // Onto a project row or between timers a project is refused, and no indicator shows.
    EXPECT_EQ(move(*projectDrag, at(b, 0.5)), Qt::IgnoreAction);
    EXPECT_FALSE(view.dropIndicator());
    EXPECT_EQ(move(*projectDrag, at(second, 0.1)), Qt::IgnoreAction);
    EXPECT_FALSE(view.dropIndicator());
    // Below the last row: the gap at the end, drawn under C's last timer.
    EXPECT_EQ(move(*projectDrag, QPoint(60, rowRect(other).bottom() + 30)), Qt::MoveAction);
    EXPECT_EQ(*view.dropIndicator(), gap(3));
    EXPECT_NEAR(view.dropIndicatorRect().center().y(), rowRect(other).bottom() + 1, 1);

    // A timer of C between B's timers: retargeted onto B, framed.
    const auto timerDrag = dragOf(projects, other);
    EXPECT_EQ(move(*timerDrag, at(second, 0.1)), Qt::MoveAction);
    EXPECT_EQ(*view.dropIndicator(), onto(projects, b));
    EXPECT_EQ(view.dropIndicatorRect().top(), rowRect(b).top());
    EXPECT_EQ(view.dropIndicatorRect().height(), rowRect(b).height());
    EXPECT_EQ(view.dropIndicatorRect().width(), viewport.width());
    // Leaving takes the indicator away.
    QDragLeaveEvent leave;
    QApplication::sendEvent(&viewport, &leave);
    EXPECT_FALSE(view.dropIndicator());

    // A drop of A at the top of C's row: before C.
    move(*projectDrag, at(c, 0.1));
    QDropEvent dropped(at(c, 0.1), everyAction, projectDrag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &dropped);
    EXPECT_TRUE(dropped.isAccepted());
    EXPECT_EQ(dropped.dropAction(), Qt::MoveAction);
    EXPECT_FALSE(view.dropIndicator());
    endTurn();
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"B", "A", "C"}));
    expectOutlineIsAFreshBuild(projects, unarchived);
    // A refused drop changes nothing.
    QDropEvent refused(at(first, 0.5), everyAction, projectDrag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&viewport, &refused);
    EXPECT_FALSE(refused.isAccepted());
    endTurn();
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"B", "A", "C"}));
    // A drag of something the outline does not take is not even entered.
    QMimeData plain;
    plain.setText("text");
    EXPECT_EQ(move(plain, at(c, 0.1)), Qt::IgnoreAction);
}

TEST_F(DragAndDropTest, DraggingNearTheBottomEdgeScrollsTheOutline)
{
    for (int i = 0; i < 60; ++i)
        project("P" + std::to_string(i));
    ProjectsViewController& projects = outline();
    projects.resize(600, 300);
    QApplication::processEvents();
    ProjectsOutlineView& view = *projects.outlineView();
    QScrollBar& scrollBar = *view.verticalScrollBar();
    ASSERT_GT(scrollBar.maximum(), 0);
    ASSERT_EQ(scrollBar.value(), 0);
    const auto drag = dragOf(projects, projects.projects().front());
    const QPoint nearBottom(60, view.viewport()->height() - 2);
    QDragEnterEvent enter(nearBottom, everyAction, drag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &enter);
    QDragMoveEvent moved(nearBottom, everyAction, drag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &moved);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scrollBar.value() > 0; }, 5000));
    // Away from the edge, and after the drag has left, it stops.
    QDragMoveEvent inside(QPoint(60, view.viewport()->height() / 2), everyAction, drag.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &inside);
    const int stopped = scrollBar.value();
    QTest::qWait(200);
    EXPECT_EQ(scrollBar.value(), stopped);
    QApplication::sendEvent(view.viewport(), &moved);
    QDragLeaveEvent leave;
    QApplication::sendEvent(view.viewport(), &leave);
    const int left = scrollBar.value();
    QTest::qWait(200);
    EXPECT_EQ(scrollBar.value(), left);
}

// A drag started with the mouse ends with the drop (faked here, as QDrag::exec needs a real pointer);
// whatever it answers, the source rows stay where the store has them.
TEST_F(DragAndDropTest, AFinishedMoveDragLeavesTheSourceRows)
{
    model::Client* acme = client("ACME");
    project("A");
    model::Project* b = project("B");
    project("C");
    ProjectsViewController& projects = window();
    ProjectsOutlineView& view = *projects.outlineView();
    const auto press = [](QWidget& viewport, QPoint point) {
        QTest::mousePress(&viewport, Qt::LeftButton, Qt::NoModifier, point);
        for (int step = 1; step <= 2; ++step) {
            const QPoint to = point + QPoint(0, step * (QApplication::startDragDistance() + 2));
            QMouseEvent moved(QEvent::MouseMove, to, viewport.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(&viewport, &moved);
        }
        QTest::mouseRelease(&viewport, Qt::LeftButton, Qt::NoModifier, point);
    };

    // B dragged and dropped after C; the drag reports a move.
    int drags = 0;
    view.dragExecutor = [&](QDrag& drag) {
        ++drags;
        EXPECT_EQ(draggedObject(*drag.mimeData(), *context_), b);
        const QPoint end(60,
                         view.visualRect(projects.outlineModel()->indexOf(projects.projects().back())).bottom() + 20);
        return deliverDrop(*view.viewport(), end, drag.mimeData());
    };
    press(*view.viewport(), view.visualRect(projects.outlineModel()->indexOf(b)).center());
    endTurn();
    EXPECT_EQ(drags, 1);
    EXPECT_EQ(storeOrder(), (std::vector<std::string>{"A", "C", "B"}));
    expectOutlineIsAFreshBuild(projects, unarchived);

    // A client dragged out of the sidebar with a move answer stays listed.
    ContextMenuOutlineView& sidebarView = *sidebar_->clientsOutlineView();
    int clientDrags = 0;
    sidebarView.dragExecutor = [&](QDrag& drag) {
        ++clientDrags;
        EXPECT_EQ(draggedObject(*drag.mimeData(), *context_), acme);
        return Qt::MoveAction;
    };
    const QModelIndex acmeRow = sidebar_->outlineModel()->indexOf(acme);
    press(*sidebarView.viewport(), sidebarView.visualRect(acmeRow).center());
    EXPECT_EQ(clientDrags, 1);
    EXPECT_EQ(sidebar_->outlineModel()->clients(), std::vector<model::Client*>{acme});
    EXPECT_EQ(sidebar_->outlineModel()->rowCount(sidebar_->outlineModel()->parent(acmeRow)), 1);
    // "All Projects" cannot be dragged: no drag starts.
    press(*sidebarView.viewport(),
          sidebarView
              .visualRect(sidebar_->outlineModel()->indexOf(std::string(ClientsOutlineModel::allProjectsIdentifier)))
              .center());
    EXPECT_EQ(clientDrags, 1);
}

} // namespace

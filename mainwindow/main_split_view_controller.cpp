// The main window's split view: children, delegates, collapsible side columns, pane placement and the
// forwarding of actions to the child that handles them.
#include "mainwindow/main_split_view_controller.h"

#include "mainwindow/clients_view_controller.h"
#include "mainwindow/inspector_container_view_controller.h"
#include "mainwindow/projects_view_controller.h"

#include "model/preferences.h"
#include "model/project.h"
#include "model/timer.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace mainwindow {

MainSplitViewController::MainSplitViewController(data::ObjectContext* context, foundation::DefaultsStore& defaults,
                                                 QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), defaults_(defaults)
{
    sidebarPlaceholder_ = new QWidget(this);
    sidebarPlaceholder_->setObjectName("sidebarPlaceholder");
    sidebarPlaceholder_->setMinimumWidth(160);
    projectsViewController_ = new ProjectsViewController(context, defaults, this);
    inspectorContainer_ = new InspectorContainerViewController(this);
    addWidget(sidebarPlaceholder_);
    addWidget(projectsViewController_);
    addWidget(inspectorContainer_);
    setStretchFactor(sidebarColumn, 0);
    setStretchFactor(projectsColumn, 1);
    setStretchFactor(inspectorColumn, 0);
    setCollapsible(projectsColumn, false);
    setChildrenCollapsible(true);
    setCollapsible(projectsColumn, false);
    setSizes({expandedWidths_[0], expandedWidths_[1], expandedWidths_[2]});
    projectsViewController_->setDelegate(this);
    // The toggles follow every resize of the side columns, whoever caused it: a dragged divider,
    // setSizes, a resized window.
    sidebarPlaceholder_->installEventFilter(this);
    inspectorContainer_->installEventFilter(this);
    showInspector(nullptr);
}

MainSplitViewController::~MainSplitViewController()
{
    // The outline reports its last deselection while it is torn down; nobody listens any more.
    projectsViewController_->setDelegate(nullptr);
    if (clientsViewController_)
        clientsViewController_->setDelegate(nullptr);
}

void MainSplitViewController::setClientsViewController(ClientsViewController* controller)
{
    if (!controller)
        return;
    QWidget* old = widget(sidebarColumn);
    replaceWidget(sidebarColumn, controller);
    if (old == sidebarPlaceholder_) {
        sidebarPlaceholder_->deleteLater();
        sidebarPlaceholder_ = nullptr;
    }
    clientsViewController_ = controller;
    clientsViewController_->setDelegate(this);
    clientsViewController_->installEventFilter(this);
    projectsViewController_->setClientsViewController(controller);
    updateCollapseButtons();
}

void MainSplitViewController::setInspectorPaneFactory(InspectorPaneFactory factory)
{
    paneFactory_ = std::move(factory);
    pane(true);
    pane(false);
    fitInspectorColumn();
}

void MainSplitViewController::fitInspectorColumn()
{
    int minimum = 0, preferred = 0;
    for (const inspectors::InspectorViewController* made : {projectInspector_, timerInspector_}) {
        if (!made)
            continue;
        minimum = std::max(minimum, made->minimumColumnWidth());
        preferred = std::max(preferred, made->preferredColumnWidth());
    }
    if (minimum == 0)
        return;
    inspectorContainer_->setMinimumWidth(std::max(inspectorContainer_->minimumWidth(), minimum));
    expandedWidths_[inspectorColumn] = std::max(expandedWidths_[inspectorColumn], preferred);
    if (widthsRestored_ || isCollapsed(inspectorColumn))
        return;
    QList<int> widths = sizes();
    const int wanted = std::max(widths[inspectorColumn], preferred);
    widths[projectsColumn] = std::max(0, widths[projectsColumn] - (wanted - widths[inspectorColumn]));
    widths[inspectorColumn] = wanted;
    setSizes(widths);
}

void MainSplitViewController::restoreColumnWidths(const QByteArray& state)
{
    if (state.isEmpty())
        return;
    widthsRestored_ = true;
    // Widths given before the split view has its own width would be squeezed into the width it has
    // then: they wait for it to be shown.
    if (isVisible())
        applyColumnWidths(state);
    else
        pendingWidths_ = state;
}

void MainSplitViewController::adoptColumnWidths(const MainSplitViewController& other)
{
    // Only restored widths are worth taking over; others are the defaults this one has too.
    expandedWidths_ = other.expandedWidths_;
    if (other.widthsRestored_)
        restoreColumnWidths(other.pendingWidths_.isEmpty() ? other.saveState() : other.pendingWidths_);
}

void MainSplitViewController::applyColumnWidths(const QByteArray& state)
{
    if (!restoreState(state)) {
        widthsRestored_ = false; // not a state this split view wrote: the panes decide
        fitInspectorColumn();
    }
    updateCollapseButtons();
}

void MainSplitViewController::showEvent(QShowEvent* event)
{
    QSplitter::showEvent(event);
    if (!pendingWidths_.isEmpty())
        applyColumnWidths(std::exchange(pendingWidths_, QByteArray()));
}

void MainSplitViewController::setClientCollapseButton(QAbstractButton* button)
{
    clientCollapseButton_ = button;
    updateCollapseButtons();
}

void MainSplitViewController::setInspectorCollapseButton(QAbstractButton* button)
{
    inspectorCollapseButton_ = button;
    updateCollapseButtons();
}

bool MainSplitViewController::isCollapsed(Column column) const
{
    return sizes().value(column) == 0;
}

void MainSplitViewController::setCollapsed(Column column, bool collapsed)
{
    if (column == projectsColumn || collapsed == isCollapsed(column))
        return;
    QList<int> widths = sizes();
    if (collapsed) {
        expandedWidths_[static_cast<std::size_t>(column)] = widths[column];
        widths[projectsColumn] += widths[column];
        widths[column] = 0;
    } else {
        const int wanted =
            std::max(expandedWidths_[static_cast<std::size_t>(column)], widget(column)->minimumSizeHint().width());
        widths[column] = wanted;
        widths[projectsColumn] = std::max(0, widths[projectsColumn] - wanted);
    }
    setSizes(widths);
    updateCollapseButtons();
}

bool MainSplitViewController::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if ((type == QEvent::Resize || type == QEvent::Show || type == QEvent::Hide)
        && (watched == widget(sidebarColumn) || watched == widget(inspectorColumn)))
        updateCollapseButtons();
    return QSplitter::eventFilter(watched, event);
}

void MainSplitViewController::updateCollapseButtons()
{
    if (clientCollapseButton_)
        clientCollapseButton_->setChecked(!isCollapsed(sidebarColumn));
    if (inspectorCollapseButton_)
        inspectorCollapseButton_->setChecked(!isCollapsed(inspectorColumn));
}

void MainSplitViewController::customersSidebarToggleAction(bool on)
{
    setCollapsed(sidebarColumn, !on);
}

void MainSplitViewController::inspectorSidebarToggleAction(bool on)
{
    setCollapsed(inspectorColumn, !on);
}

inspectors::InspectorViewController* MainSplitViewController::pane(bool forProject)
{
    inspectors::InspectorViewController*& pane = forProject ? projectInspector_ : timerInspector_;
    const auto& make = forProject ? paneFactory_.makeProjectInspector : paneFactory_.makeTimerInspector;
    if (!pane && make) {
        pane = make();
        if (pane) {
            pane->setParent(paneShelf_.get());
            pane->hide();
        }
    }
    return pane;
}

void MainSplitViewController::showInspector(data::Object* item)
{
    if (currentInspector_) {
        if (QLayout* layout = inspectorContainer_ ? inspectorContainer_->contentView()->layout() : nullptr)
            layout->removeWidget(currentInspector_);
        currentInspector_->hide();
        currentInspector_->setParent(paneShelf_.get());
        currentInspector_ = nullptr;
    }
    if (!inspectorContainer_)
        return;
    inspectors::InspectorViewController* shown = item ? pane(dynamic_cast<model::Project*>(item) != nullptr) : nullptr;
    if (!shown) {
        inspectorContainer_->contentView()->hide();
        inspectorContainer_->emptyLabel()->show();
        return;
    }
    shown->setInspectedObject(item);
    inspectorContainer_->contentView()->show();
    inspectorContainer_->emptyLabel()->hide();
    inspectorContainer_->contentView()->layout()->addWidget(shown);
    shown->show();
    currentInspector_ = shown;
    if (didCreateFixedDurationTimer_) {
        didCreateFixedDurationTimer_ = false;
        // On a later turn, once the new row's selection has settled.
        QTimer::singleShot(0, this, [this] {
            if (inspectors::InspectorViewController* timerPane = pane(false))
                timerPane->focusDurationPicker();
        });
    }
}

QAction* MainSplitViewController::projectsAction(ProjectsAction which) const
{
    return projectsViewController_ ? projectsViewController_->action(which) : nullptr;
}

bool MainSplitViewController::canCreateTimerForSelectedProject() const
{
    const model::Project* project = projectsViewController_ ? projectsViewController_->selectedProject() : nullptr;
    return project && !project->archived();
}

void MainSplitViewController::createTimerForSelectedProject(model::TimerType type)
{
    model::Project* project = projectsViewController_ ? projectsViewController_->selectedProject() : nullptr;
    if (!project)
        return;
    projectsViewController_->navigateToToday();
    projectsViewController_->createTimer(*project, type);
}

void MainSplitViewController::newProject()
{
    if (clientsViewController_ && clientsViewController_->isArchiveSelected())
        clientsViewController_->selectAllProjects();
    if (projectsViewController_)
        projectsViewController_->newProject();
}

void MainSplitViewController::startNewTimerForSelectedProject()
{
    createTimerForSelectedProject(model::TimerType::period);
}

void MainSplitViewController::createNewFixedDurationTimerForSelectedProject()
{
    createTimerForSelectedProject(model::TimerType::duration);
}

void MainSplitViewController::createNewExpenseTimerForSelectedProject()
{
    createTimerForSelectedProject(model::TimerType::expense);
}

void MainSplitViewController::dateFilterRangeChanged(int selectedSegment)
{
    // Stored first, so the range shown is also the one restored at the next launch.
    model::Preferences(defaults_).setDateFilterRange(selectedSegment);
    if (projectsViewController_)
        projectsViewController_->dateFilterRangeChanged();
}

void MainSplitViewController::newClient()
{
    if (clientsViewController_)
        clientsViewController_->newClient();
}

void MainSplitViewController::importClientFromContacts()
{
    if (clientsViewController_)
        clientsViewController_->importClientFromContacts();
}

void MainSplitViewController::clientsViewControllerApplyPredicate(ClientsViewController&, ProjectsPredicate predicate,
                                                                  model::Client* selectedClient)
{
    if (!projectsViewController_)
        return;
    projectsViewController_->setProjectsPredicateWithoutUpdate(std::move(predicate));
    projectsViewController_->updateProjectsList(true);
    projectsViewController_->setSelectedClient(selectedClient);
    // The Delete item may now act on a client.
    projectsViewController_->validateActions();
}

void MainSplitViewController::projectsViewControllerDidSelectProject(ProjectsViewController&, model::Project& project)
{
    showInspector(&project);
    editedItem_ = &project;
    emit selectionDidChange();
}

void MainSplitViewController::projectsViewControllerDidSelectTimer(ProjectsViewController&, model::Timer& timer)
{
    showInspector(&timer);
    editedItem_ = &timer;
    emit selectionDidChange();
}

void MainSplitViewController::projectsViewControllerDidCreateTimer(ProjectsViewController&, model::Timer& timer)
{
    // A timer without a type counts as a fixed-duration one here.
    didCreateFixedDurationTimer_ = !timer.type() || *timer.type() == model::rawValue(model::TimerType::duration);
}

void MainSplitViewController::projectsViewControllerDidDeselect(ProjectsViewController&)
{
    showInspector(nullptr);
    editedItem_ = nullptr;
    emit selectionDidChange();
}

} // namespace mainwindow

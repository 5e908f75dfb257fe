// The three columns of the main window: clients sidebar, projects outline, inspector. It passes the
// sidebar's choice on to the outline, places the inspector pane of the outline's selection, collapses
// and expands the side columns, and receives the menu and toolbar actions meant for its children.
#pragma once

#include "inspectors/inspector_view_controller.h"
#include "mainwindow/clients_view_controller_delegate.h"
#include "mainwindow/projects_view_controller.h"
#include "mainwindow/projects_view_controller_delegate.h"

#include "model/enums.h"

#include "ui/adaptive_space_item.h"

#include <QPointer>
#include <QSplitter>

#include <functional>
#include <memory>

#include <array>

class QAbstractButton;
class QAction;

namespace data {
class Object;
class ObjectContext;
}
namespace foundation {
class DefaultsStore;
}

namespace mainwindow {

class ClientsViewController;
class InspectorContainerViewController;
class ProjectsViewController;

// Makes the two panes on first use; the split view keeps and reuses them.
struct InspectorPaneFactory {
    std::function<inspectors::InspectorViewController*()> makeProjectInspector;
    std::function<inspectors::InspectorViewController*()> makeTimerInspector;
};

class MainSplitViewController : public QSplitter,
                                public ClientsViewControllerDelegate,
                                public ProjectsViewControllerDelegate {
    Q_OBJECT
public:
    enum Column { sidebarColumn = 0, projectsColumn = 1, inspectorColumn = 2 };

    MainSplitViewController(data::ObjectContext* context, foundation::DefaultsStore& defaults,
                            QWidget* parent = nullptr);
    ~MainSplitViewController() override;

    // The sidebar replaces the empty first column and gets this controller as its delegate.
    void setClientsViewController(ClientsViewController* controller);
    // Makes both panes at once: the inspector column is kept at least as wide as either needs to show
    // its controls whole, and opens as wide as they show at ease unless widths were restored.
    void setInspectorPaneFactory(InspectorPaneFactory factory);

    // The column widths kept across restarts (as the window keeps its frame): what saveState() wrote,
    // or the widths of another split view (the one the window showed while the store loaded).
    void restoreColumnWidths(const QByteArray& state);
    void adoptColumnWidths(const MainSplitViewController& other);

    ClientsViewController* clientsViewController() const { return clientsViewController_; }
    ProjectsViewController* projectsViewController() const { return projectsViewController_; }
    InspectorContainerViewController* inspectorContainerViewController() const { return inspectorContainer_; }
    inspectors::InspectorViewController* currentInspectorViewController() const { return currentInspector_; }
    data::Object* editedItem() const { return editedItem_; }
    bool didCreateFixedDurationTimer() const { return didCreateFixedDurationTimer_; }

    // The toolbar's toggles follow the columns' collapsed state.
    void setClientCollapseButton(QAbstractButton* button);
    void setInspectorCollapseButton(QAbstractButton* button);
    // The toolbar's space that centres the date range.
    ui::AdaptiveSpaceItem* adaptiveSpaceItem() const { return adaptiveSpaceItem_; }
    void setAdaptiveSpaceItem(ui::AdaptiveSpaceItem* item) { adaptiveSpaceItem_ = item; }
    bool isCollapsed(Column column) const;
    void setCollapsed(Column column, bool collapsed);

    // Places the pane of a project or timer, or the empty label for nothing.
    void showInspector(data::Object* item);
    // Whether the three new-timer items can act now.
    bool canCreateTimerForSelectedProject() const;

    // The menu item of an action on projects and timers: the projects controller's own, so the main
    // menu reaches it whatever has the focus; nullptr without that controller.
    QAction* projectsAction(ProjectsAction which) const;

    // Menu and toolbar actions.
    void customersSidebarToggleAction(bool on);
    void inspectorSidebarToggleAction(bool on);
    void newProject();
    void startNewTimerForSelectedProject();
    void createNewFixedDurationTimerForSelectedProject();
    void createNewExpenseTimerForSelectedProject();
    void dateFilterRangeChanged(int selectedSegment);
    void newClient();
    void importClientFromContacts();

    void clientsViewControllerApplyPredicate(ClientsViewController& controller, ProjectsPredicate predicate,
                                             model::Client* selectedClient) override;
    void projectsViewControllerDidSelectProject(ProjectsViewController& controller, model::Project& project) override;
    void projectsViewControllerDidSelectTimer(ProjectsViewController& controller, model::Timer& timer) override;
    void projectsViewControllerDidCreateTimer(ProjectsViewController& controller, model::Timer& timer) override;
    void projectsViewControllerDidDeselect(ProjectsViewController& controller) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

signals:
    // The selection changed: menu items that depend on it are to be validated again.
    void selectionDidChange();

private:
    void createTimerForSelectedProject(model::TimerType type);
    // The inspector column's minimum and, unless widths were restored, its width, from the panes.
    void fitInspectorColumn();
    void applyColumnWidths(const QByteArray& state);
    void updateCollapseButtons();
    inspectors::InspectorViewController* pane(bool forProject);

    foundation::DefaultsStore& defaults_;
    QWidget* sidebarPlaceholder_ = nullptr;
    ClientsViewController* clientsViewController_ = nullptr;
    ProjectsViewController* projectsViewController_ = nullptr;
    InspectorContainerViewController* inspectorContainer_ = nullptr;
    inspectors::InspectorViewController* currentInspector_ = nullptr;
    QPointer<QAbstractButton> clientCollapseButton_;
    QPointer<QAbstractButton> inspectorCollapseButton_;
    QPointer<ui::AdaptiveSpaceItem> adaptiveSpaceItem_;
    bool didCreateFixedDurationTimer_ = false;
    InspectorPaneFactory paneFactory_;
    // Panes not on show live here: a widget child of the splitter itself would become a column.
    std::unique_ptr<QWidget> paneShelf_ = std::make_unique<QWidget>();
    inspectors::InspectorViewController* projectInspector_ = nullptr;
    inspectors::InspectorViewController* timerInspector_ = nullptr;
    data::Object* editedItem_ = nullptr;
    std::array<int, 3> expandedWidths_{200, 560, 260};
    bool widthsRestored_ = false;
    QByteArray pendingWidths_; // restored widths waiting for the first show
};

} // namespace mainwindow

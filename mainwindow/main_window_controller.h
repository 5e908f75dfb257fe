// The main window: the split view as its content, the toolbar (sidebar toggle, new project and timer,
// date-range segments, billed toggle, search field, inspector toggle) and the main window's menus.
// Undo and redo act on the store's undo manager.
#pragma once

#include "export/export_format.h"

#include "foundation/notification_center.h"

#include <QMainWindow>

#include <array>
#include <vector>

class QAction;
class QButtonGroup;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;

namespace data {
class ObjectContext;
}
namespace ui {
class AdaptiveSpaceItem;
}
namespace foundation {
class DefaultsStore;
}

namespace mainwindow {

class MainSplitViewController;

class MainWindowController : public QMainWindow {
    Q_OBJECT
public:
    // `context` may be null (no store): the window then lists nothing and its actions do nothing.
    MainWindowController(data::ObjectContext* context, foundation::DefaultsStore& defaults, QWidget* parent = nullptr);
    ~MainWindowController() override;

    // A window made without a context while the store loads: shown at once, but nothing in it can
    // be used (its menus, toolbar and columns, their shortcuts too) until attachContext(). Its frame
    // is not kept until then: a start that ends before the store is in writes nothing. The outline
    // says that the store (`storeName`, the file's name) is loading.
    void waitForStore(const QString& storeName);
    // The store has loaded: the split view is made anew over `context` and every menu and toolbar
    // item acts on it. Only for a window made without a context; ends waitForStore().
    void attachContext(data::ObjectContext& context);

    MainSplitViewController* splitViewController() const { return split_; }
    // The application's own menu goes first in the menu bar.
    void setApplicationMenu(QMenu* menu);

    QButtonGroup* dateFilterRangeSegments() const { return dateFilterRange_; }
    QLineEdit* searchField() const { return searchField_; }
    QToolButton* billedToggle() const { return billedToggle_; }
    QToolButton* customersSidebarToggle() const { return customersSidebarToggle_; }
    QToolButton* inspectorSidebarToggle() const { return inspectorSidebarToggle_; }
    QAction* newProjectAction() const { return newProjectAction_; }
    QAction* startNewTimerAction() const { return startNewTimerAction_; }
    QAction* newFixedDurationTimerAction() const { return newFixedDurationTimerAction_; }
    QAction* newExpenseTimerAction() const { return newExpenseTimerAction_; }
    QAction* undoAction() const { return undoAction_; }
    QAction* redoAction() const { return redoAction_; }
    // The File menu's export items, their data the ExportFormat raw value (tags 1 to 4), and Print.
    QAction* exportAction(exports::ExportFormat format) const
    {
        return exportActions_[static_cast<std::size_t>(format) - 1];
    }
    QAction* printAction() const { return printAction_; }

    // A lasting mark in the title and the status line ("Not saved"); empty removes it.
    void setSaveStatusMark(const QString& mark);

    // Enables the items that depend on the selection and on the undo history.
    void validateMenuItems();

    // The defaults keys of the window's frame and of its columns' widths.
    static constexpr const char* frameAutosaveName = "MainWindow";
    static constexpr const char* columnsAutosaveName = "MainSplitView";
    // The frame of a first window, before it is fitted to its screen.
    static constexpr QSize defaultSize{1100, 680};
    // Room for every toolbar item; never more than the screen has.
    QSize minimumFrameSize() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Whether a remembered frame was applied.
    bool restoreFrame();
    void saveFrame();
    // Keeps the frame inside the available area of the screen it opens on, at least the minimum size.
    void fitFrameToScreen(bool remembered);
    void buildActions();
    void buildExportActions();
    void buildMenus();
    void buildToolbar();
    // What ties the window to the split view of the moment.
    void connectSplitView();

    data::ObjectContext* context_;
    foundation::DefaultsStore& defaults_;
    MainSplitViewController* split_;
    QToolBar* toolbar_ = nullptr;
    std::vector<QMenu*> menus_; // the window's own menus, after the application menu
    ui::AdaptiveSpaceItem* adaptiveSpace_ = nullptr;
    QButtonGroup* dateFilterRange_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QToolButton* billedToggle_ = nullptr;
    QToolButton* customersSidebarToggle_ = nullptr;
    QToolButton* inspectorSidebarToggle_ = nullptr;
    QAction* newProjectAction_ = nullptr;
    QAction* startNewTimerAction_ = nullptr;
    QAction* newFixedDurationTimerAction_ = nullptr;
    QAction* newExpenseTimerAction_ = nullptr;
    QAction* newClientAction_ = nullptr;
    QAction* importClientAction_ = nullptr;
    QAction* undoAction_ = nullptr;
    QAction* redoAction_ = nullptr;
    std::array<QAction*, 4> exportActions_{};
    QAction* printAction_ = nullptr;
    QAction* toggleSidebarAction_ = nullptr;
    QAction* toggleInspectorAction_ = nullptr;
    foundation::ObserverToken changeToken_;
    bool waitingForStore_ = false;
};

} // namespace mainwindow

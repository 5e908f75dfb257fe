// The clients sidebar: the left column of the main window with "All Projects", "Archive" and the
// clients. Its selection decides which projects the outline lists (told to the delegate as a
// predicate); it makes, edits (in a popover), deletes and imports clients and follows the store.
// The split view's operations are virtual, so its tests can stand in a sidebar of their own.
#pragma once

#include "mainwindow/clients_outline_model.h"
#include "mainwindow/context_menu_outline_view.h"
#include "mainwindow/outline_drag_and_drop.h"

#include "foundation/notification_center.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QMimeData;

namespace data {
class ObjectContext;
struct ChangeSet;
}
namespace foundation {
class DefaultsStore;
}
namespace inspectors {
class ClientEditorViewController;
}
namespace model {
class Client;
}

namespace mainwindow {

class ClientsViewControllerDelegate;
class PeoplePickerViewController;

class ClientsViewController : public QWidget, public ContextMenuOutlineViewDelegate, public OutlineDragAndDropDelegate {
    Q_OBJECT
public:
    static constexpr const char* AllProjectsIdentifier = ClientsOutlineModel::allProjectsIdentifier;
    static constexpr const char* ArchiveIdentifier = ClientsOutlineModel::archiveIdentifier;

    // `context` may be null (no store): then nothing is listed, made or imported. `defaults` keeps the
    // place of the address book the import reads; without it the default place is used.
    explicit ClientsViewController(data::ObjectContext* context = nullptr,
                                   foundation::DefaultsStore* defaults = nullptr, QWidget* parent = nullptr);
    ~ClientsViewController() override;

    virtual void setDelegate(ClientsViewControllerDelegate* delegate) { delegate_ = delegate; }
    // Whether the archive row is selected, and a way back to the row of all projects.
    virtual bool isArchiveSelected() const;
    virtual void selectAllProjects();
    // Makes a client, lists it and opens the editor on it.
    virtual void newClient();
    // Shows the address-book picker over the first window; a picked person becomes a client.
    virtual void importClientFromContacts();
    // Edit ▸ Delete while the sidebar has the focus: whether it can act, and the action.
    virtual bool canDeleteSelection() const;
    virtual void deleteSelectedClient();

    ContextMenuOutlineView* clientsOutlineView() const { return outline_; }
    ClientsOutlineModel* outlineModel() const { return model_; }
    QMenu* clientContextMenu() const { return clientContextMenu_; }
    QAction* editClientAction() const { return editClientAction_; }
    QAction* deleteClientAction() const { return deleteClientAction_; }
    // The address-book picker while its sheet is shown.
    PeoplePickerViewController* peoplePicker() const;
    // The editor opened last (kept until the next one opens).
    inspectors::ClientEditorViewController* clientEditor() const { return clientEditor_.get(); }

    // Lists the groups and clients anew, all expanded, keeping the selected item while it has a row;
    // a selected item left without one gives way to "All Projects", which is reported.
    void reloadData();
    // Redraws the item's row.
    void reloadItem(const SidebarItem& item);
    std::optional<SidebarItem> selectedItem() const;
    // Selects the item's row alone; nothing for an item without a row.
    void selectItem(const SidebarItem& item);

    // Opens the editor in a popover right of the client's row.
    void showClientEditor(model::Client& client, bool isNew);
    // Double click and the context menu's Edit: the editor of the selected client, if one is selected.
    void doubleClickAction();
    // Enables the context menu's items: Edit and Delete only while a client is selected.
    void validateMenuItems();

    QMenu* outlineViewMenuForEvent(ContextMenuOutlineView& outlineView, const QContextMenuEvent& event) override;

    // Drag and drop: client rows are dragged out as their URIs (onto a project of the outline);
    // projects are taken, and only onto a client row, which becomes their client ("Drop project on
    // client"). Headers, "All Projects" and "Archive" are neither dragged nor dropped on.
    std::unique_ptr<QMimeData> outlineViewPasteboardWriterForItem(ContextMenuOutlineView& outlineView,
                                                                  const QModelIndex& item) override;
    Qt::DropAction outlineViewValidateDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                                           OutlineDropTarget& target) override;
    bool outlineViewAcceptDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                               const OutlineDropTarget& target) override;

private:
    void outlineViewSelectionDidChange();
    void setupObservings();
    void contextDidChange(const data::ChangeSet& changes);
    model::Client* selectedClient() const;

    data::ObjectContext* context_;
    foundation::DefaultsStore* defaults_;
    ClientsViewControllerDelegate* delegate_ = nullptr;
    ContextMenuOutlineView* outline_ = nullptr;
    ClientsOutlineModel* model_ = nullptr;
    QMenu* clientContextMenu_ = nullptr;
    QAction* editClientAction_ = nullptr;
    QAction* deleteClientAction_ = nullptr;
    std::unique_ptr<inspectors::ClientEditorViewController> clientEditor_;
    QPointer<PeoplePickerViewController> peoplePicker_;
    // Set while reloadData rebuilds the rows: the selection it passes through is not the user's.
    bool reloading_ = false;
    foundation::ObserverToken changeToken_;
    foundation::ObserverToken undoToken_;
    foundation::ObserverToken redoToken_;
};

} // namespace mainwindow

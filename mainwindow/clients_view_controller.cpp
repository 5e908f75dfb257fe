// The clients sidebar: its rows, the selection handed to the delegate as a predicate, the context
// menu, new, edit and delete of clients, and how it follows the store (updated clients redraw their
// rows; undo and redo list everything anew).
#include "mainwindow/clients_view_controller.h"

#include "mainwindow/clients_view_controller_delegate.h"
#include "mainwindow/drag_data.h"
#include "mainwindow/people_picker_view_controller.h"

#include "inspectors/client_editor_view_controller.h"
#include "inspectors/currency_change_alert.h"

#include "model/client.h"
#include "model/client_import.h"
#include "model/fetch_helpers.h"
#include "model/pasteboard_types.h"
#include "model/project.h"

#include "data/change_set.h"
#include "data/object_context.h"
#include "ui/alerts.h"
#include "ui/widget_extensions.h"

#include "kits/analytics/tally_events.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QVBoxLayout>

namespace mainwindow {

ClientsViewController::ClientsViewController(data::ObjectContext* context, foundation::DefaultsStore* defaults,
                                             QWidget* parent)
    : QWidget(parent), context_(context), defaults_(defaults)
{
    setObjectName(QStringLiteral("ClientsViewController"));
    setMinimumWidth(160);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    outline_ = new ContextMenuOutlineView(this);
    outline_->setObjectName(QStringLiteral("clientsOutlineView"));
    model_ = new ClientsOutlineModel(outline_);
    outline_->setModel(model_);
    outline_->setHeaderHidden(true);
    outline_->setRootIsDecorated(false);
    outline_->setItemsExpandable(false);
    outline_->setExpandsOnDoubleClick(false);
    outline_->setSelectionMode(QAbstractItemView::SingleSelection);
    outline_->setSelectionBehavior(QAbstractItemView::SelectRows);
    outline_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    outline_->setContextMenuDelegate(this);
    outline_->setDragAndDropDelegate(this, {pasteboardMimeType(model::PasteboardTypes::project)});
    // A client dragged onto a project keeps the outline's projects in place: the row is chosen on
    // release.
    outline_->setSelectsOnRelease(true);
    layout->addWidget(outline_);

    clientContextMenu_ = new QMenu(this);
    editClientAction_ = clientContextMenu_->addAction(tr("Edit Client…"));
    deleteClientAction_ = clientContextMenu_->addAction(tr("Delete"));
    connect(editClientAction_, &QAction::triggered, this, &ClientsViewController::doubleClickAction);
    connect(deleteClientAction_, &QAction::triggered, this, &ClientsViewController::deleteSelectedClient);
    connect(clientContextMenu_, &QMenu::aboutToShow, this, &ClientsViewController::validateMenuItems);

    connect(outline_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (auto item = model_->item(index); item && std::holds_alternative<model::Client*>(*item))
            doubleClickAction();
    });
    connect(outline_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!reloading_)
            outlineViewSelectionDidChange();
    });

    reloadData();
    selectItem(std::string(AllProjectsIdentifier));
    setupObservings();
}

ClientsViewController::~ClientsViewController()
{
    for (auto* token : {&changeToken_, &undoToken_, &redoToken_})
        token->reset();
    // The editor's popover closes while this controller is whole; its completion does not run.
    if (clientEditor_)
        clientEditor_->completionHandler = nullptr;
    clientEditor_.reset();
}

void ClientsViewController::setupObservings()
{
    if (!context_)
        return;
    auto& center = context_->notificationCenter();
    changeToken_ = center.addObserver(
        data::ObjectsDidChangeNotification, context_, [this](const foundation::Notification& notification) {
            using Changes = std::shared_ptr<const data::ChangeSet>;
            if (const Changes* changes = notification.info<Changes>("changes"); changes && *changes)
                contextDidChange(**changes);
        });
    const void* undoManager = &context_->undoManager();
    undoToken_ = center.addObserver(data::UndoManagerDidUndoChangeNotification, undoManager,
                                    [this](const foundation::Notification&) { reloadData(); });
    redoToken_ = center.addObserver(data::UndoManagerDidRedoChangeNotification, undoManager,
                                    [this](const foundation::Notification&) { reloadData(); });
}

void ClientsViewController::contextDidChange(const data::ChangeSet& changes)
{
    // Inserted and deleted clients are listed by the operations that make and delete them.
    for (data::Object* object : changes.updated)
        if (auto* client = dynamic_cast<model::Client*>(object))
            model_->reloadItem(client);
}

void ClientsViewController::reloadData()
{
    if (!context_)
        return;
    const std::optional<SidebarItem> previous = selectedItem();
    reloading_ = true;
    model_->reload(model::fetchAll<model::Client>(*context_));
    outline_->expandAll();
    const bool kept = previous && model_->indexOf(*previous).isValid();
    if (kept)
        selectItem(*previous);
    else if (previous)
        selectItem(std::string(AllProjectsIdentifier));
    reloading_ = false;
    // Without a row for the selected item (a deleted client) the outline shows all projects again:
    // no selection would list the archived ones too.
    if (previous && !kept)
        outlineViewSelectionDidChange();
    validateMenuItems();
}

void ClientsViewController::reloadItem(const SidebarItem& item)
{
    model_->reloadItem(item);
}

std::optional<SidebarItem> ClientsViewController::selectedItem() const
{
    const std::optional<QModelIndex> index = ui::selectedItem(*outline_);
    return index ? model_->item(*index) : std::nullopt;
}

void ClientsViewController::selectItem(const SidebarItem& item)
{
    const QModelIndex index = model_->indexOf(item);
    if (index.isValid())
        ui::selectItem(*outline_, index);
}

model::Client* ClientsViewController::selectedClient() const
{
    const std::optional<SidebarItem> item = selectedItem();
    const auto* client = item ? std::get_if<model::Client*>(&*item) : nullptr;
    return client ? *client : nullptr;
}

bool ClientsViewController::isArchiveSelected() const
{
    const std::optional<SidebarItem> item = selectedItem();
    const auto* text = item ? std::get_if<std::string>(&*item) : nullptr;
    return text && *text == ArchiveIdentifier;
}

void ClientsViewController::selectAllProjects()
{
    selectItem(std::string(AllProjectsIdentifier));
}

void ClientsViewController::outlineViewSelectionDidChange()
{
    ProjectsPredicate predicate;
    model::Client* client = nullptr;
    if (const std::optional<SidebarItem> item = selectedItem()) {
        if (const auto* selected = std::get_if<model::Client*>(&*item)) {
            client = *selected;
            predicate = [client](const model::Project& project) {
                return project.client() == client && !project.archived();
            };
        } else if (const std::string& text = std::get<std::string>(*item); text == AllProjectsIdentifier) {
            predicate = [](const model::Project& project) { return !project.archived(); };
        } else if (text == ArchiveIdentifier) {
            predicate = [](const model::Project& project) { return project.archived(); };
        }
    }
    validateMenuItems();
    if (delegate_)
        delegate_->clientsViewControllerApplyPredicate(*this, std::move(predicate), client);
}

QMenu* ClientsViewController::outlineViewMenuForEvent(ContextMenuOutlineView& outlineView,
                                                      const QContextMenuEvent& event)
{
    const std::optional<SidebarItem> item = model_->item(outlineView.indexAt(event.pos()));
    const auto* client = item ? std::get_if<model::Client*>(&*item) : nullptr;
    if (!client)
        return nullptr;
    selectItem(*client);
    validateMenuItems();
    return clientContextMenu_;
}

std::unique_ptr<QMimeData> ClientsViewController::outlineViewPasteboardWriterForItem(ContextMenuOutlineView&,
                                                                                     const QModelIndex& item)
{
    const std::optional<SidebarItem> shown = model_->item(item);
    const auto* client = shown ? std::get_if<model::Client*>(&*shown) : nullptr;
    return client ? mimeDataForObject(**client) : nullptr;
}

Qt::DropAction ClientsViewController::outlineViewValidateDrop(ContextMenuOutlineView&, const QMimeData& mimeData,
                                                              OutlineDropTarget& target)
{
    if (!context_ || !dynamic_cast<model::Project*>(draggedObject(mimeData, *context_)))
        return Qt::IgnoreAction;
    const std::optional<SidebarItem> proposed = model_->item(target.item);
    const auto* client = proposed ? std::get_if<model::Client*>(&*proposed) : nullptr;
    if (!client)
        return Qt::IgnoreAction;
    target = {model_->indexOf(*client), OutlineDropTarget::onItem};
    return Qt::MoveAction;
}

bool ClientsViewController::outlineViewAcceptDrop(ContextMenuOutlineView&, const QMimeData& mimeData,
                                                  const OutlineDropTarget& target)
{
    data::Object* dragged = context_ ? draggedObject(mimeData, *context_) : nullptr;
    if (!dragged)
        return false;
    const std::optional<SidebarItem> item = model_->item(target.item);
    const auto* client = item ? std::get_if<model::Client*>(&*item) : nullptr;
    if (auto* project = dynamic_cast<model::Project*>(dragged); project && client) {
        // The outline follows through the change notice: a project given another client leaves a
        // list narrowed to its old one. A client whose currency would relabel the project's billed
        // timers is asked about first.
        const auto assign = [project, owner = *client] { project->setClient(owner); };
        if (inspectors::askBeforeRelabellingBilledTimers(
                *window(), *project, model::Project::currencyOf(project->customCurrency(), *client), assign))
            assign();
        kits::TallyEvents::trackDropProjectOnClient();
    }
    return true;
}

void ClientsViewController::validateMenuItems()
{
    const bool clientSelected = selectedClient() != nullptr;
    editClientAction_->setEnabled(clientSelected);
    deleteClientAction_->setEnabled(clientSelected);
}

void ClientsViewController::newClient()
{
    if (!context_)
        return;
    auto* client = model::initInContext<model::Client>(*context_);
    reloadData();
    showClientEditor(*client, true);
    kits::TallyEvents::trackNewClient();
}

void ClientsViewController::doubleClickAction()
{
    if (model::Client* client = selectedClient())
        showClientEditor(*client, false);
}

void ClientsViewController::showClientEditor(model::Client& client, bool isNew)
{
    selectItem(&client);
    const QModelIndex row = model_->indexOf(&client);
    const QRect rowRect = outline_->visualRect(row);
    if (clientEditor_) {
        // The editor before is done with; its late completion would reload rows that moved.
        clientEditor_->completionHandler = nullptr;
        clientEditor_.reset();
    }
    clientEditor_ = inspectors::ClientEditorViewController::clientEditorViewController(&client, isNew);
    clientEditor_->completionHandler = [this, editedClient = &client](bool) {
        // A client deleted by the editor (Cancel of a new one) leaves the list; otherwise its row
        // shows the new name.
        if (editedClient->isDeleted())
            reloadData();
        else
            reloadItem(editedClient);
    };
    const QRect anchor(QPoint(0, rowRect.top()), QSize(outline_->viewport()->width(), rowRect.height()));
    clientEditor_->presentAsPopover(anchor, *outline_->viewport(), ui::PopoverEdge::right);
    kits::TallyEvents::trackEditClient();
}

bool ClientsViewController::canDeleteSelection() const
{
    return selectedClient() != nullptr;
}

void ClientsViewController::deleteSelectedClient()
{
    if (model::Client* client = selectedClient()) {
        ui::Alert alert;
        alert.alertStyle = ui::AlertStyle::critical;
        alert.messageText = tr("Are you sure you want to delete the client?");
        alert.informativeText = tr("All projects and timers of this client will be unassigned.");
        alert.buttons = {tr("Delete"), tr("Cancel")};
        QPointer<ClientsViewController> self(this);
        alert.beginSheetModal(*window(), [self, client](ui::ModalResponse response) {
            if (!self || response != ui::alertFirstButtonReturn)
                return;
            // Its projects stay and lose their client.
            if (data::ObjectContext* context = client->context())
                context->deleteObject(client);
            self->reloadData();
        });
    }
    kits::TallyEvents::trackDeleteClient();
}

PeoplePickerViewController* ClientsViewController::peoplePicker() const
{
    return peoplePicker_.data();
}

void ClientsViewController::importClientFromContacts()
{
    QPointer<ClientsViewController> self(this);
    peoplePicker_ =
        PeoplePickerViewController::show(*window(), defaults_, [self](std::optional<foundation::VCardPerson> person) {
            if (!self || !person || !self->context_)
                return;
            // The new client is neither selected nor opened in the editor.
            model::insertClientForPerson(*self->context_, *person);
            self->reloadData();
        });
    kits::TallyEvents::trackImportClient();
}

} // namespace mainwindow

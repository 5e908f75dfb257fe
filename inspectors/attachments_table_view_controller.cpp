// The attachments list: drops, the actions on the selected attachment, the missing-file alert and the
// list's height.
#include "inspectors/attachments_table_view_controller.h"

#include "inspectors/attachments_array_controller.h"

#include "data/object_context.h"
#include "kits/analytics/tally_events.h"
#include "model/attachment.h"
#include "model/project.h"
#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/object_controller.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMimeData>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace inspectors {

namespace {

constexpr int minimumListHeight = 100;
constexpr int listHeightPadding = 5;

// The local files and folders of a drag, in its order; other links are left out.
std::vector<std::filesystem::path> droppedFiles(const QMimeData& dropped)
{
    std::vector<std::filesystem::path> files;
    if (!dropped.hasUrls())
        return files;
    for (const QUrl& url : dropped.urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.emplace_back(url.toLocalFile().toStdString());
    return files;
}

bool isAlive(const data::Object* object)
{
    return object && object->context();
}

QUrl fileLink(const std::filesystem::path& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

} // namespace

Qt::DropAction attachmentDropAction(Qt::DropActions offered, Qt::DropAction proposed)
{
    if (offered & Qt::LinkAction)
        return Qt::LinkAction;
    if (offered & Qt::CopyAction)
        return Qt::CopyAction;
    return proposed;
}

AttachmentsTableView::AttachmentsTableView(QWidget* parent) : ui::UnscrollableScrollView(parent)
{
    setObjectName(QStringLiteral("attachmentsTableView"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DropOnly);
}

QMenu* AttachmentsTableView::menuForEvent(const QPoint& position)
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return nullptr;
    if (!selectionModel()->isRowSelected(index.row(), index.parent()))
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return contextMenu_;
}

void AttachmentsTableView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = menuForEvent(viewport()->mapFrom(this, event->pos())))
        menu->popup(event->globalPos());
    event->accept();
}

void AttachmentsTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData() && validateDrop && validateDrop(*event->mimeData())) {
        event->setDropAction(attachmentDropAction(event->possibleActions(), event->proposedAction()));
        event->accept();
    } else {
        event->ignore();
    }
}

void AttachmentsTableView::dragMoveEvent(QDragMoveEvent* event)
{
    // The whole list is the target, wherever the pointer is.
    if (event->mimeData() && validateDrop && validateDrop(*event->mimeData())) {
        event->setDropAction(attachmentDropAction(event->possibleActions(), event->proposedAction()));
        event->accept(viewport()->rect());
    } else {
        event->ignore();
    }
}

void AttachmentsTableView::dragLeaveEvent(QDragLeaveEvent* event)
{
    event->accept();
}

void AttachmentsTableView::dropEvent(QDropEvent* event)
{
    if (event->mimeData() && acceptDrop && acceptDrop(*event->mimeData())) {
        event->setDropAction(attachmentDropAction(event->possibleActions(), event->proposedAction()));
        event->accept();
    } else {
        event->ignore();
    }
}

AttachmentsTableViewController::AttachmentsTableViewController(ui::ObjectController& objectController,
                                                               AttachmentsArrayController& attachmentsArrayController,
                                                               QWidget* parent)
    : QWidget(parent), objectController_(objectController), attachmentsArrayController_(attachmentsArrayController)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    attachmentsTableView_ = new AttachmentsTableView(this);
    attachmentsTableView_->setModel(&attachmentsArrayController_);
    attachmentsTableView_->validateDrop = [this](const QMimeData& dropped) { return validateDrop(dropped); };
    attachmentsTableView_->acceptDrop = [this](const QMimeData& dropped) { return acceptDrop(dropped); };
    layout->addWidget(attachmentsTableView_);

    auto* buttons = new QHBoxLayout;
    addButton_ = new QToolButton(this);
    addButton_->setText(QStringLiteral("+"));
    addButton_->setToolTip(tr("Attach a File…"));
    removeButton_ = new QToolButton(this);
    removeButton_->setText(QStringLiteral("−"));
    removeButton_->setToolTip(tr("Remove Attachment"));
    buttons->addWidget(addButton_);
    buttons->addWidget(removeButton_);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(addButton_, &QToolButton::clicked, this, &AttachmentsTableViewController::addAttachment);
    connect(removeButton_, &QToolButton::clicked, this, &AttachmentsTableViewController::deleteAttachment);

    attachmentContextMenu_ = new QMenu(this);
    connect(attachmentContextMenu_->addAction(tr("Open")), &QAction::triggered, this,
            &AttachmentsTableViewController::doubleAction);
    connect(attachmentContextMenu_->addAction(tr("Show in File Manager")), &QAction::triggered, this,
            &AttachmentsTableViewController::showInFinder);
    attachmentContextMenu_->addSeparator();
    connect(attachmentContextMenu_->addAction(tr("Remove Attachment")), &QAction::triggered, this,
            &AttachmentsTableViewController::deleteAttachment);
    attachmentsTableView_->setContextMenu(attachmentContextMenu_);

    auto* deleteKey = new QAction(attachmentsTableView_);
    deleteKey->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    deleteKey->setShortcutContext(Qt::WidgetShortcut);
    attachmentsTableView_->addAction(deleteKey);
    connect(deleteKey, &QAction::triggered, this, &AttachmentsTableViewController::deleteAttachment);

    connect(attachmentsTableView_, &QAbstractItemView::doubleClicked, this,
            &AttachmentsTableViewController::doubleAction);
    // The rows are fetched anew on every change; the selection stays with its attachments.
    connect(&attachmentsArrayController_, &QAbstractItemModel::modelAboutToBeReset, this,
            &AttachmentsTableViewController::rememberSelection);
    connect(&attachmentsArrayController_, &QAbstractItemModel::modelReset, this,
            &AttachmentsTableViewController::restoreSelection);
    connect(&attachmentsArrayController_, &AttachmentsArrayController::arrangedObjectsChanged, this,
            &AttachmentsTableViewController::updateHeight);
}

AttachmentsTableViewController::~AttachmentsTableViewController() = default;

model::Project* AttachmentsTableViewController::project() const
{
    auto* object = static_cast<data::Object*>(objectController_.content());
    return dynamic_cast<model::Project*>(object);
}

model::Attachment* AttachmentsTableViewController::selectedAttachment() const
{
    const QItemSelectionModel* selection = attachmentsTableView_->selectionModel();
    if (!selection || !selection->hasSelection())
        return nullptr;
    int row = -1;
    if (const QModelIndex current = selection->currentIndex();
        current.isValid() && selection->isRowSelected(current.row(), {}))
        row = current.row();
    else if (const QModelIndexList rows = selection->selectedRows(); !rows.isEmpty())
        row = rows.back().row();
    return attachmentsArrayController_.attachmentAt(row);
}

bool AttachmentsTableViewController::validateDrop(const QMimeData& dropped) const
{
    return project() && !droppedFiles(dropped).empty();
}

bool AttachmentsTableViewController::acceptDrop(const QMimeData& dropped)
{
    model::Project* shown = project();
    if (!shown)
        return false;
    for (const std::filesystem::path& file : droppedFiles(dropped))
        shown->addAttachment(file);
    return true;
}

void AttachmentsTableViewController::addAttachment()
{
    model::Project* shown = project();
    if (!shown)
        return;
    // The dialog is window-modal, so the shown project cannot change while it is open; it is still
    // checked to be alive when the dialog ends.
    // Counted as the dialog opens, whatever the user then chooses.
    kits::TallyEvents::trackAddAttachment();
    ui::OpenPanel panel;
    panel.beginSheetModal(*window(), [shown](ui::ModalResponse response, const QStringList& paths) {
        if (response == ui::modalResponseOK && !paths.isEmpty() && isAlive(shown))
            shown->addAttachment(paths.front().toStdString());
    });
}

void AttachmentsTableViewController::doubleAction()
{
    model::Attachment* attachment = selectedAttachment();
    if (!attachment)
        return;
    if (const auto file = attachment->fileUrl()) {
        if (desktop_.open)
            desktop_.open(fileLink(*file));
        kits::TallyEvents::trackOpenAttachment();
        return;
    }
    showMissingFileAlert();
}

void AttachmentsTableViewController::showMissingFileAlert()
{
    const ui::Alert alert{
        ui::AlertStyle::critical,
        tr("The attachment could not be found."),
        tr("The file was either deleted, moved or renamed. Would you like to relocate the file or remove the "
           "attachment?"),
        {tr("Relocate File"), tr("Remove Attachment"), tr("Cancel")}};
    alert.beginSheetModal(*window(), [self = QPointer(this)](ui::ModalResponse response) {
        if (!self)
            return;
        if (response == ui::alertFirstButtonReturn)
            self->relocateSelectedAttachment();
        else if (response == ui::alertSecondButtonReturn)
            self->deleteAttachment();
    });
}

void AttachmentsTableViewController::relocateSelectedAttachment()
{
    model::Attachment* attachment = selectedAttachment();
    if (!attachment)
        return;
    kits::TallyEvents::trackRelocateAttachment();
    ui::OpenPanel panel;
    panel.beginSheetModal(*window(),
                          [self = QPointer(this), attachment](ui::ModalResponse response, const QStringList& paths) {
                              if (response != ui::modalResponseOK || paths.isEmpty() || !isAlive(attachment))
                                  return;
                              // No duplicate test: the user chose this file for this attachment.
                              attachment->relocate(paths.front().toStdString());
                              if (self)
                                  self->attachmentsArrayController_.rearrangeObjects();
                          });
}

void AttachmentsTableViewController::showInFinder()
{
    model::Attachment* attachment = selectedAttachment();
    if (!attachment)
        return;
    if (const auto file = attachment->fileUrl(); file && desktop_.reveal)
        desktop_.reveal(fileLink(*file));
    kits::TallyEvents::trackShowAttachmentInFinder();
}

void AttachmentsTableViewController::deleteAttachment()
{
    model::Attachment* attachment = selectedAttachment();
    if (!attachment || !attachment->context())
        return;
    // Only the attachment goes; the file on disk is not touched.
    attachment->context()->deleteObject(attachment);
    kits::TallyEvents::trackDeleteAttachment();
}

void AttachmentsTableViewController::updateHeight()
{
    const int rows = attachmentsArrayController_.rowCount();
    const int rowHeight = attachmentsTableView_->verticalHeader()->defaultSectionSize();
    attachmentsTableView_->setFixedHeight(std::max(minimumListHeight, rowHeight * rows + listHeightPadding));
}

void AttachmentsTableViewController::rememberSelection()
{
    selectionToRestore_.clear();
    if (const QItemSelectionModel* selection = attachmentsTableView_->selectionModel())
        for (const QModelIndex& row : selection->selectedRows())
            if (model::Attachment* attachment = attachmentsArrayController_.attachmentAt(row.row()))
                selectionToRestore_.push_back(attachment);
}

void AttachmentsTableViewController::restoreSelection()
{
    QItemSelectionModel* selection = attachmentsTableView_->selectionModel();
    const auto& rows = attachmentsArrayController_.arrangedObjects();
    for (model::Attachment* attachment : selectionToRestore_) {
        const auto found = std::find(rows.begin(), rows.end(), attachment);
        if (found == rows.end())
            continue;
        const QModelIndex index = attachmentsArrayController_.index(static_cast<int>(found - rows.begin()));
        selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    selectionToRestore_.clear();
}

} // namespace inspectors

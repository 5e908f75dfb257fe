// The list of files attached to the shown project: files dropped on it or picked are attached (never
// copied), a double click opens one, the context menu shows it in the file manager or deletes the
// attachment, and a file gone missing can be relocated or its attachment removed. The list grows with
// its rows inside the scrolling inspector, which keeps the scroll wheel.
#pragma once

#include "ui/desktop_services.h"
#include "ui/unscrollable_scroll_view.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMimeData;
class QToolButton;

namespace model {
class Attachment;
class Project;
} // namespace model
namespace ui {
class ObjectController;
}

namespace inspectors {

class AttachmentsArrayController;

// How a drop of files is answered: as a link where the source offers one, else as a copy where it
// offers one (the file is neither copied nor moved here, and a source told "move" might remove it),
// else as the source proposed.
Qt::DropAction attachmentDropAction(Qt::DropActions offered, Qt::DropAction proposed);

// The list itself: drops anywhere on it go to the whole list, and a right click selects the row under
// the pointer first.
class AttachmentsTableView : public ui::UnscrollableScrollView {
    Q_OBJECT
public:
    explicit AttachmentsTableView(QWidget* parent = nullptr);

    // Whether a drop of `dropped` would be taken, and taking it (true: taken).
    std::function<bool(const QMimeData& dropped)> validateDrop;
    std::function<bool(const QMimeData& dropped)> acceptDrop;

    void setContextMenu(QMenu* menu) { contextMenu_ = menu; }
    // The menu for a right click at `position` (viewport coordinates): none below the last row; on a
    // row outside the selection that row alone is selected first; a row inside the selection keeps it.
    QMenu* menuForEvent(const QPoint& position);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPointer<QMenu> contextMenu_;
};

class AttachmentsTableViewController : public QWidget {
    Q_OBJECT
public:
    // `objectController` holds the shown project; `attachmentsArrayController` its attachments (both
    // borrowed, owned by the project inspector).
    AttachmentsTableViewController(ui::ObjectController& objectController,
                                   AttachmentsArrayController& attachmentsArrayController, QWidget* parent = nullptr);
    ~AttachmentsTableViewController() override;

    // The shown project; nullptr when none.
    model::Project* project() const;
    // The attachment of the selected row (the current one when several are selected); nullptr when
    // nothing is selected.
    model::Attachment* selectedAttachment() const;

    // Drops: only with a project and at least one local file or folder; each is attached unless it is
    // attached already. The answer to a taken drop is true, also when nothing was new.
    bool validateDrop(const QMimeData& dropped) const;
    bool acceptDrop(const QMimeData& dropped);

    // Actions.
    void addAttachment();    // a window-modal dialog picks one file
    void doubleAction();     // opens the selected attachment, or offers to relocate or remove it
    void showInFinder();     // shows the selected attachment in the file manager
    void deleteAttachment(); // removes the selected attachment; the file stays

    // Opening and revealing files; tests put recorders here.
    void setDesktopServices(ui::DesktopServices services) { desktop_ = std::move(services); }

    // max(100, row height x rows + 5), set whenever the rows change.
    void updateHeight();

    AttachmentsTableView* attachmentsTableView() const { return attachmentsTableView_; }
    QMenu* attachmentContextMenu() const { return attachmentContextMenu_; }
    QToolButton* addButton() const { return addButton_; }
    QToolButton* removeButton() const { return removeButton_; }

private:
    void showMissingFileAlert();
    void relocateSelectedAttachment();
    void rememberSelection();
    void restoreSelection();

    ui::ObjectController& objectController_;
    AttachmentsArrayController& attachmentsArrayController_;
    AttachmentsTableView* attachmentsTableView_ = nullptr;
    QMenu* attachmentContextMenu_ = nullptr;
    QToolButton* addButton_ = nullptr;
    QToolButton* removeButton_ = nullptr;
    ui::DesktopServices desktop_;
    std::vector<model::Attachment*> selectionToRestore_;
};

} // namespace inspectors

// An outline (tree view) that asks its delegates for the context menu of a mouse event and for drag
// and drop: which rows can be dragged and what they carry, and where drops are taken. It works out
// the place a drop is proposed at from the pointer, lets the delegate retarget it, and draws the
// indicator there (a line at a gap, a frame round a receiving row, nothing when refused).
#pragma once

#include "mainwindow/outline_drag_and_drop.h"

#include <QPersistentModelIndex>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <optional>

class QContextMenuEvent;
class QDrag;
class QMenu;

namespace mainwindow {

class ContextMenuOutlineView;

class ContextMenuOutlineViewDelegate {
public:
    virtual ~ContextMenuOutlineViewDelegate() = default;
    // The menu for the event, or nullptr; may change the selection first.
    virtual QMenu* outlineViewMenuForEvent(ContextMenuOutlineView& outlineView, const QContextMenuEvent& event) = 0;
};

class ContextMenuOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit ContextMenuOutlineView(QWidget* parent = nullptr);

    void setContextMenuDelegate(ContextMenuOutlineViewDelegate* delegate) { contextMenuDelegate_ = delegate; }
    // The delegate's menu for the event, or nullptr.
    QMenu* menuForEvent(const QContextMenuEvent& event);

    // Rows whose model flags allow it can be dragged, and drags carrying one of `acceptedFormats`
    // are offered to the delegate; without a delegate the view neither starts drags nor takes drops.
    void setDragAndDropDelegate(OutlineDragAndDropDelegate* delegate, QStringList acceptedFormats);
    // Where a drop at `point` (viewport coordinates) is proposed before any retargeting: over a row's
    // top quarter the gap before it among its siblings, over its bottom quarter the gap after it (or
    // before the first child of an expanded row with children), over the rest the row itself; below
    // the last row the top-level gap at the end.
    OutlineDropTarget proposedDropTarget(QPoint point) const;
    // The drop the indicator shows (after retargeting); nothing while no drop would be taken.
    const std::optional<OutlineDropTarget>& dropIndicator() const { return dropIndicator_; }
    // Where the indicator is drawn in the viewport: a thin band at a gap, the receiving row's frame.
    QRect dropIndicatorRect() const;

    // Runs a drag the view has started and answers the action it ended with. QDrag::exec by default;
    // tests put a stand-in here, as a real drag needs a pointer and a window system.
    std::function<Qt::DropAction(QDrag& drag)> dragExecutor;

    // A left click selects its row when the button comes up, not when it goes down, and a drag
    // started on a row carries that row: the selection (and whatever follows it) stays as it was.
    void setSelectsOnRelease(bool onRelease) { selectsOnRelease_ = onRelease; }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool carriesAcceptedFormat(const QMimeData* mimeData) const;
    // The row at viewport height `y` (column 0), whatever the horizontal position.
    QModelIndex rowAt(int y) const;
    // The bottom edge of the last row shown in `item`'s subtree (the item itself when it shows none).
    int bottomOfSubtree(const QModelIndex& item) const;
    void setDropIndicator(std::optional<OutlineDropTarget> target);
    // While a drag rests near the top or bottom edge, the rows scroll on a step at a time.
    void scrollWhileDragging(QPoint point);
    void dragScrollStep();

    ContextMenuOutlineViewDelegate* contextMenuDelegate_ = nullptr;
    OutlineDragAndDropDelegate* dragAndDropDelegate_ = nullptr;
    QStringList acceptedFormats_;
    std::optional<OutlineDropTarget> dropIndicator_;
    QTimer dragScrollTimer_;
    QPoint dragPoint_;
    bool selectsOnRelease_ = false;
    // With selectsOnRelease_: the row a left button went down on, and where; the row being dragged.
    QPersistentModelIndex pressedRow_;
    QPoint pressPoint_;
    QPersistentModelIndex draggedRow_;
    bool dragEndsPress_ = false;
};

} // namespace mainwindow

// Context menus of the outlines, chosen by their delegates; and their drag and drop: the proposal
// under the pointer, the delegate's answer, the indicator, and drags that leave the source rows to
// the drop (a move is a change of the store that the drop makes, not a removal at the source).
#include "mainwindow/context_menu_outline_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace mainwindow {

namespace {

// The action a drop reports back to the drag's source. A source that does not offer the wanted one
// (a file manager without links) is told its proposal: the drop never changes the source anyway.
Qt::DropAction reportedAction(const QDropEvent& event, Qt::DropAction wanted)
{
    return (event.possibleActions() & wanted) ? wanted : event.proposedAction();
}

} // namespace

ContextMenuOutlineView::ContextMenuOutlineView(QWidget* parent) : QTreeView(parent)
{
    dragScrollTimer_.setInterval(50);
    connect(&dragScrollTimer_, &QTimer::timeout, this, &ContextMenuOutlineView::dragScrollStep);
}

QItemSelectionModel::SelectionFlags ContextMenuOutlineView::selectionCommand(const QModelIndex& index,
                                                                             const QEvent* event) const
{
    const auto* mouse = selectsOnRelease_ ? dynamic_cast<const QMouseEvent*>(event) : nullptr;
    if (mouse && mouse->modifiers() == Qt::NoModifier) {
        const bool left = mouse->button() == Qt::LeftButton;
        if ((left && event->type() == QEvent::MouseButtonPress)
            || (event->type() == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)))
            return QItemSelectionModel::NoUpdate;
        if (left && event->type() == QEvent::MouseButtonRelease)
            return index.isValid() ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                                   : QItemSelectionModel::NoUpdate;
    }
    return QTreeView::selectionCommand(index, event);
}

void ContextMenuOutlineView::mousePressEvent(QMouseEvent* event)
{
    pressedRow_ = QPersistentModelIndex();
    dragEndsPress_ = false;
    if (selectsOnRelease_ && event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier) {
        pressedRow_ = indexAt(event->position().toPoint()).siblingAtColumn(0);
        pressPoint_ = event->position().toPoint();
    }
    QTreeView::mousePressEvent(event);
}

void ContextMenuOutlineView::mouseMoveEvent(QMouseEvent* event)
{
    // The view's own drag needs a selected row to carry; here the pressed row is carried instead.
    if (!pressedRow_.isValid() || !(event->buttons() & Qt::LeftButton)) {
        QTreeView::mouseMoveEvent(event);
        return;
    }
    if ((event->position().toPoint() - pressPoint_).manhattanLength() < QApplication::startDragDistance())
        return;
    draggedRow_ = pressedRow_;
    pressedRow_ = QPersistentModelIndex();
    dragEndsPress_ = true;
    if (model()->flags(draggedRow_) & Qt::ItemIsDragEnabled)
        startDrag(model()->supportedDragActions());
    draggedRow_ = QPersistentModelIndex();
    setState(NoState);
}

void ContextMenuOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    pressedRow_ = QPersistentModelIndex();
    // The press that began a drag selects nothing when its button comes up.
    if (std::exchange(dragEndsPress_, false) && event->button() == Qt::LeftButton) {
        setState(NoState);
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

QMenu* ContextMenuOutlineView::menuForEvent(const QContextMenuEvent& event)
{
    return contextMenuDelegate_ ? contextMenuDelegate_->outlineViewMenuForEvent(*this, event) : nullptr;
}

void ContextMenuOutlineView::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = menuForEvent(*event)) {
        menu->popup(event->globalPos());
        event->accept();
        return;
    }
    QTreeView::contextMenuEvent(event);
}

void ContextMenuOutlineView::setDragAndDropDelegate(OutlineDragAndDropDelegate* delegate, QStringList acceptedFormats)
{
    dragAndDropDelegate_ = delegate;
    acceptedFormats_ = std::move(acceptedFormats);
    setDragDropMode(delegate ? QAbstractItemView::DragDrop : QAbstractItemView::NoDragDrop);
    viewport()->setAcceptDrops(delegate != nullptr);
    // The view draws the indicator of the retargeted drop itself.
    setDropIndicatorShown(false);
    setDropIndicator(std::nullopt);
}

bool ContextMenuOutlineView::carriesAcceptedFormat(const QMimeData* mimeData) const
{
    return mimeData && std::any_of(acceptedFormats_.begin(), acceptedFormats_.end(), [mimeData](const QString& format) {
               return mimeData->hasFormat(format);
           });
}

QModelIndex ContextMenuOutlineView::rowAt(int y) const
{
    const int x = columnViewportPosition(0) + std::max(1, columnWidth(0) / 2);
    return indexAt(QPoint(x, y)).siblingAtColumn(0);
}

OutlineDropTarget ContextMenuOutlineView::proposedDropTarget(QPoint point) const
{
    if (!model())
        return {};
    const QModelIndex row = rowAt(point.y());
    if (!row.isValid())
        return {QPersistentModelIndex(), model()->rowCount()};
    const QRect rect = visualRect(row);
    const int quarter = rect.height() / 4;
    if (point.y() < rect.top() + quarter)
        return {row.parent(), row.row()};
    if (point.y() >= rect.top() + rect.height() - quarter) {
        if (isExpanded(row) && model()->rowCount(row) > 0)
            return {row, 0};
        return {row.parent(), row.row() + 1};
    }
    return {row, OutlineDropTarget::onItem};
}

int ContextMenuOutlineView::bottomOfSubtree(const QModelIndex& item) const
{
    QModelIndex last = item;
    while (isExpanded(last) && model()->rowCount(last) > 0)
        last = model()->index(model()->rowCount(last) - 1, 0, last);
    return visualRect(last).bottom() + 1;
}

QRect ContextMenuOutlineView::dropIndicatorRect() const
{
    if (!dropIndicator_ || !model())
        return {};
    const OutlineDropTarget& target = *dropIndicator_;
    const int width = viewport()->width();
    if (target.isOnItem()) {
        const QRect row = visualRect(target.item);
        return QRect(0, row.top(), width, row.height());
    }
    const QModelIndex parent = target.item;
    const int count = model()->rowCount(parent);
    int y = 0;
    if (target.childIndex < count)
        y = visualRect(model()->index(target.childIndex, 0, parent)).top();
    else if (count > 0)
        y = bottomOfSubtree(model()->index(count - 1, 0, parent));
    else if (parent.isValid())
        y = visualRect(parent).bottom() + 1;
    // The line starts where the rows of that level start.
    const int left = count > 0 ? std::max(0, visualRect(model()->index(0, 0, parent)).left()) : 0;
    return QRect(left, y - 1, width - left, 2);
}

void ContextMenuOutlineView::setDropIndicator(std::optional<OutlineDropTarget> target)
{
    if (target == dropIndicator_)
        return;
    dropIndicator_ = std::move(target);
    viewport()->update();
}

void ContextMenuOutlineView::startDrag(Qt::DropActions supportedActions)
{
    if (!dragAndDropDelegate_ || !model()) {
        QTreeView::startDrag(supportedActions);
        return;
    }
    const QModelIndexList selected = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    QModelIndex row = selected.isEmpty() ? currentIndex().siblingAtColumn(0) : selected.first();
    if (draggedRow_.isValid())
        row = draggedRow_;
    if (!row.isValid() || !(model()->flags(row) & Qt::ItemIsDragEnabled))
        return;
    std::unique_ptr<QMimeData> mimeData = dragAndDropDelegate_->outlineViewPasteboardWriterForItem(*this, row);
    if (!mimeData)
        return;
    auto* drag = new QDrag(this);
    const QRect rect(0, visualRect(row).top(), viewport()->width(), visualRect(row).height());
    drag->setPixmap(viewport()->grab(rect));
    drag->setHotSpot(QPoint(std::min(20, rect.width()), rect.height() / 2));
    drag->setMimeData(mimeData.release());
    QPointer<QDrag> guard(drag);
    // Every operation is offered; whatever the drag ends with, the rows stay: a moved project or timer
    // was moved in the store by the drop already.
    if (dragExecutor)
        dragExecutor(*drag);
    else
        drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction);
    if (guard)
        guard->deleteLater();
}

void ContextMenuOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!dragAndDropDelegate_) {
        QTreeView::dragEnterEvent(event);
        return;
    }
    if (!carriesAcceptedFormat(event->mimeData())) {
        event->ignore();
        return;
    }
    // Taken for now so that moves follow; each move then says whether a drop there is taken.
    setState(DraggingState);
    event->acceptProposedAction();
}

void ContextMenuOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!dragAndDropDelegate_) {
        QTreeView::dragMoveEvent(event);
        return;
    }
    scrollWhileDragging(event->position().toPoint());
    OutlineDropTarget target = proposedDropTarget(event->position().toPoint());
    const QMimeData* mimeData = event->mimeData();
    const Qt::DropAction action = carriesAcceptedFormat(mimeData)
                                      ? dragAndDropDelegate_->outlineViewValidateDrop(*this, *mimeData, target)
                                      : Qt::IgnoreAction;
    if (action != Qt::IgnoreAction) {
        event->setDropAction(reportedAction(*event, action));
        event->accept();
        setDropIndicator(target);
    } else {
        event->ignore();
        setDropIndicator(std::nullopt);
    }
}

void ContextMenuOutlineView::scrollWhileDragging(QPoint point)
{
    dragPoint_ = point;
    const int margin = autoScrollMargin();
    const bool nearEdge = point.y() < margin || point.y() >= viewport()->height() - margin;
    if (hasAutoScroll() && nearEdge) {
        if (!dragScrollTimer_.isActive())
            dragScrollTimer_.start();
    } else {
        dragScrollTimer_.stop();
    }
}

void ContextMenuOutlineView::dragScrollStep()
{
    QScrollBar& scrollBar = *verticalScrollBar();
    const int before = scrollBar.value();
    const int step = dragPoint_.y() < autoScrollMargin() ? -scrollBar.singleStep() : scrollBar.singleStep();
    scrollBar.setValue(before + step);
    if (scrollBar.value() == before) {
        dragScrollTimer_.stop();
        return;
    }
    // Other rows are under the pointer now: the next move of the drag shows where it would land.
    setDropIndicator(std::nullopt);
}

void ContextMenuOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    dragScrollTimer_.stop();
    setDropIndicator(std::nullopt);
    QTreeView::dragLeaveEvent(event);
}

void ContextMenuOutlineView::dropEvent(QDropEvent* event)
{
    if (!dragAndDropDelegate_) {
        QTreeView::dropEvent(event);
        return;
    }
    // Validated again at the drop's own place, so the delegate takes it where it said it would.
    OutlineDropTarget target = proposedDropTarget(event->position().toPoint());
    const QMimeData* mimeData = event->mimeData();
    const Qt::DropAction action = carriesAcceptedFormat(mimeData)
                                      ? dragAndDropDelegate_->outlineViewValidateDrop(*this, *mimeData, target)
                                      : Qt::IgnoreAction;
    const bool taken =
        action != Qt::IgnoreAction && dragAndDropDelegate_->outlineViewAcceptDrop(*this, *mimeData, target);
    setDropIndicator(std::nullopt);
    dragScrollTimer_.stop();
    setState(NoState);
    if (taken) {
        event->setDropAction(reportedAction(*event, action));
        event->accept();
    } else {
        event->ignore();
    }
}

void ContextMenuOutlineView::paintEvent(QPaintEvent* event)
{
    QTreeView::paintEvent(event);
    if (!dropIndicator_)
        return;
    QPainter painter(viewport());
    const QColor colour = palette().color(QPalette::Highlight);
    const QRect rect = dropIndicatorRect();
    if (dropIndicator_->isOnItem()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    } else {
        painter.fillRect(rect, colour);
    }
}

} // namespace mainwindow

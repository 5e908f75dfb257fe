// What an outline asks its controller while rows are dragged out of it and things are dropped on
// it: the drag of a row, whether a drop at a place is taken (the controller may move that place,
// e.g. from a gap onto the row that receives it) and the drop itself.
#pragma once

#include <QPersistentModelIndex>
#include <Qt>

#include <memory>

class QMimeData;

namespace mainwindow {

class ContextMenuOutlineView;

// A place to drop: onto `item` (childIndex -1), or into the gap before child `childIndex` of `item`,
// where an invalid item is the top level and childIndex equal to the number of children is the gap
// after the last one. The item is a column-0 index of the outline's model.
struct OutlineDropTarget {
    static constexpr int onItem = -1;

    QPersistentModelIndex item;
    int childIndex = onItem;

    bool isOnItem() const { return childIndex < 0; }
    friend bool operator==(const OutlineDropTarget&, const OutlineDropTarget&) = default;
};

class OutlineDragAndDropDelegate {
public:
    virtual ~OutlineDragAndDropDelegate() = default;
    // The drag of the row `item`, or nullptr when the row cannot be dragged.
    virtual std::unique_ptr<QMimeData> outlineViewPasteboardWriterForItem(ContextMenuOutlineView& outlineView,
                                                                          const QModelIndex& item) = 0;
    // What a drop of `mimeData` at `target` would do: Qt::MoveAction, Qt::LinkAction, or
    // Qt::IgnoreAction when it is refused. May move `target` (retargeting).
    virtual Qt::DropAction outlineViewValidateDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                                                   OutlineDropTarget& target) = 0;
    // Takes the drop at the target validation left; whether it was taken.
    virtual bool outlineViewAcceptDrop(ContextMenuOutlineView& outlineView, const QMimeData& mimeData,
                                       const OutlineDropTarget& target) = 0;
};

} // namespace mainwindow

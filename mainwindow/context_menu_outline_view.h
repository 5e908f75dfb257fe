// An outline (tree view) that asks its delegate for the context menu of a mouse event; without a
// delegate, or when the delegate has no menu, the tree view's own handling decides.
#pragma once

#include <QTreeView>

class QContextMenuEvent;
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

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    ContextMenuOutlineViewDelegate* contextMenuDelegate_ = nullptr;
};

} // namespace mainwindow

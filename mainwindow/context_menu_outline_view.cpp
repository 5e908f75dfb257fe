// Context menus of the outlines, chosen by their delegates.
#include "mainwindow/context_menu_outline_view.h"

#include <QContextMenuEvent>
#include <QMenu>

namespace mainwindow {

ContextMenuOutlineView::ContextMenuOutlineView(QWidget* parent) : QTreeView(parent) {}

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

} // namespace mainwindow

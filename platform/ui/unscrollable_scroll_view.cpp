// Wheel events over the table, its viewport or its scroll bars are left unhandled, and Qt hands an
// unhandled wheel event from the window system on to the enclosing widgets.
#include "ui/unscrollable_scroll_view.h"

#include <QScrollBar>
#include <QWheelEvent>

namespace ui {

UnscrollableScrollView::UnscrollableScrollView(QWidget* parent) : QTableView(parent)
{
    // A scroll bar scrolls by the wheel on its own, before the table sees the event.
    verticalScrollBar()->installEventFilter(this);
    horizontalScrollBar()->installEventFilter(this);
}

void UnscrollableScrollView::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}

bool UnscrollableScrollView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && (watched == verticalScrollBar() || watched == horizontalScrollBar())) {
        event->ignore();
        return true; // not handled here: Qt passes it to the scroll bar's parents
    }
    return QTableView::eventFilter(watched, event);
}

} // namespace ui

// The projects outline's view settings and the pulse of running status dots: while shown, it
// repaints only the status cells of visible running timers a few times a second.
#include "mainwindow/projects_outline_view.h"

#include "mainwindow/column_identifier.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_delegate.h"
#include "mainwindow/projects_outline_model.h"

#include <QHeaderView>

namespace mainwindow {

ProjectsOutlineView::ProjectsOutlineView(QWidget* parent)
    : ContextMenuOutlineView(parent), cellDelegate_(new ProjectsOutlineDelegate(this))
{
    setItemDelegate(cellDelegate_);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setExpandsOnDoubleClick(true);
    setRootIsDecorated(true);
    setAnimated(false);
    setIndentation(18);
    setMouseTracking(true);
    header()->setStretchLastSection(false);
    pulseTimer_.setInterval(50);
    connect(&pulseTimer_, &QTimer::timeout, this, &ProjectsOutlineView::repaintPulsingStatusCells);
}

void ProjectsOutlineView::spanProjectRows(int first, int last)
{
    for (int row = first; row <= last; ++row)
        setFirstColumnSpanned(row, {}, true);
}

void ProjectsOutlineView::showEvent(QShowEvent* event)
{
    ContextMenuOutlineView::showEvent(event);
    pulseTimer_.start();
}

void ProjectsOutlineView::hideEvent(QHideEvent* event)
{
    pulseTimer_.stop();
    ContextMenuOutlineView::hideEvent(event);
}

std::vector<QModelIndex> ProjectsOutlineView::visibleRows() const
{
    std::vector<QModelIndex> rows;
    const int bottom = viewport()->height();
    for (QModelIndex index = indexAt(QPoint(0, 0)).siblingAtColumn(0); index.isValid(); index = indexBelow(index)) {
        if (visualRect(index).top() > bottom)
            break;
        rows.push_back(index);
    }
    return rows;
}

void ProjectsOutlineView::repaintPulsingStatusCells()
{
    const int statusColumn = static_cast<int>(ColumnIdentifier::status);
    for (const QModelIndex& row : visibleRows()) {
        if (row.data(ProjectsOutlineModel::StatusImageRole).toInt() == static_cast<int>(StatusImage::runningDot))
            viewport()->update(visualRect(row.siblingAtColumn(statusColumn)));
    }
}

} // namespace mainwindow

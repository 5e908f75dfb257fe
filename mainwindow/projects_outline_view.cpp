// The projects outline's view settings and the pulse of running status dots: while a running timer's
// row is on screen, it repaints only the status cells of those rows a few times a second; otherwise
// nothing ticks.
#include "mainwindow/projects_outline_view.h"

#include "mainwindow/column_identifier.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_delegate.h"
#include "mainwindow/projects_outline_model.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

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
    // The disclosure controls stay in the first column on screen when columns are dragged around.
    setTreePosition(-1);
    setMouseTracking(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    pulseTimer_.setInterval(50);
    connect(&pulseTimer_, &QTimer::timeout, this, &ProjectsOutlineView::repaintPulsingStatusCells);
}

void ProjectsOutlineView::spanProjectRows(int first, int last)
{
    for (int row = first; row <= last; ++row)
        setFirstColumnSpanned(row, {}, true);
}

void ProjectsOutlineView::layOutPendingRows()
{
    executeDelayedItemsLayout();
    // No layout was pending, so doItemsLayout() did not run: the spans need none to wait for.
    spanAllProjectRowsIfPending();
}

void ProjectsOutlineView::doItemsLayout()
{
    // Qt asks every laid-out row whether it spans; with no spans yet that costs nothing, so the
    // spans of a reset come after the layout. Each then finds its row without laying out again.
    ContextMenuOutlineView::doItemsLayout();
    spanAllProjectRowsIfPending();
}

void ProjectsOutlineView::spanAllProjectRowsIfPending()
{
    if (!allSpansPending_ || !model())
        return;
    allSpansPending_ = false;
    spanProjectRows(0, model()->rowCount() - 1);
}

void ProjectsOutlineView::setModel(QAbstractItemModel* model)
{
    if (this->model())
        disconnect(this->model(), nullptr, this, nullptr);
    ContextMenuOutlineView::setModel(model);
    if (!model)
        return;
    // Any of these can bring a running timer's row into view or take the last one out.
    connect(model, &QAbstractItemModel::modelReset, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(model, &QAbstractItemModel::rowsMoved, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(model, &QAbstractItemModel::dataChanged, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(model, &QAbstractItemModel::layoutChanged, this, &ProjectsOutlineView::schedulePulseCheck);
    connect(this, &QTreeView::expanded, this, &ProjectsOutlineView::schedulePulseCheck, Qt::UniqueConnection);
    connect(this, &QTreeView::collapsed, this, &ProjectsOutlineView::schedulePulseCheck, Qt::UniqueConnection);
}

QColor ProjectsOutlineView::gridColour()
{
    return QColor::fromRgbF(0.9f, 0.9f, 0.9f);
}

QRect ProjectsOutlineView::gridArea() const
{
    if (!model() || model()->rowCount() == 0)
        return {};
    // The last row shown, then two rows up.
    QModelIndex row = model()->index(model()->rowCount() - 1, 0);
    while (isExpanded(row) && model()->rowCount(row) > 0)
        row = model()->index(model()->rowCount(row) - 1, 0, row);
    for (int up = 0; up < 2 && row.isValid(); ++up)
        row = indexAbove(row);
    if (!row.isValid())
        return {};
    return QRect(0, 0, viewport()->width(), visualRect(row).bottom() + 1);
}

void ProjectsOutlineView::paintEvent(QPaintEvent* event)
{
    paintedGridArea_ = gridArea();
    ContextMenuOutlineView::paintEvent(event);
}

void ProjectsOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    ContextMenuOutlineView::drawRow(painter, option, index);
    // Project rows span the columns: only timer rows have cells to part.
    if (!index.parent().isValid() || paintedGridArea_.isEmpty() || option.rect.bottom() > paintedGridArea_.bottom())
        return;
    painter->save();
    painter->setPen(gridColour());
    const QHeaderView* columns = header();
    for (int visual = 0; visual + 1 < columns->count(); ++visual) {
        const int logical = columns->logicalIndex(visual);
        if (columns->isSectionHidden(logical))
            continue;
        const int x = columns->sectionViewportPosition(logical) + columns->sectionSize(logical) - 1;
        painter->drawLine(x, option.rect.top(), x, option.rect.bottom());
    }
    painter->restore();
}

QModelIndex ProjectsOutlineView::selectedProjectRow() const
{
    const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty() || rows.first().parent().isValid())
        return {};
    return rows.first();
}

bool ProjectsOutlineView::editProjectName(const QModelIndex& projectRow)
{
    if (!projectRow.isValid() || projectRow.parent().isValid() || state() == EditingState)
        return false;
    const QModelIndex name = projectRow.siblingAtColumn(0);
    scrollTo(name);
    return QTreeView::edit(name, AllEditTriggers, nullptr);
}

void ProjectsOutlineView::keyPressEvent(QKeyEvent* event)
{
    // F2 and Return rename the selected project; Escape and Return in the editor are the editor's.
    const int key = event->key();
    const bool renameKey = key == Qt::Key_F2 || key == Qt::Key_Return || key == Qt::Key_Enter;
    if (renameKey && event->modifiers() == Qt::NoModifier && state() != EditingState
        && editProjectName(selectedProjectRow())) {
        event->accept();
        return;
    }
    ContextMenuOutlineView::keyPressEvent(event);
}

void ProjectsOutlineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click on a project's name renames it; elsewhere it expands or collapses the project.
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    if (event->button() == Qt::LeftButton && index.isValid() && !index.parent().isValid()) {
        const QModelIndex name = index.siblingAtColumn(0);
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        const QRect area = ProjectsOutlineDelegate::projectNameRect(
            visualRect(name), option.font, name.data(ProjectsOutlineModel::ProjectDurationRole).toString());
        if (area.contains(point) && editProjectName(name)) {
            event->accept();
            return;
        }
    }
    ContextMenuOutlineView::mouseDoubleClickEvent(event);
}

void ProjectsOutlineView::focusInEvent(QFocusEvent* event)
{
    // Qt makes the first row current when the view gets the focus without one, and the style then
    // paints that row as if it were selected. Until the user picks a row, none is current.
    const bool hadCurrent = currentIndex().isValid();
    ContextMenuOutlineView::focusInEvent(event);
    if (!hadCurrent && selectionModel() && !selectionModel()->hasSelection())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void ProjectsOutlineView::showEvent(QShowEvent* event)
{
    ContextMenuOutlineView::showEvent(event);
    schedulePulseCheck();
}

void ProjectsOutlineView::hideEvent(QHideEvent* event)
{
    pulseTimer_.stop();
    ContextMenuOutlineView::hideEvent(event);
}

void ProjectsOutlineView::resizeEvent(QResizeEvent* event)
{
    ContextMenuOutlineView::resizeEvent(event);
    schedulePulseCheck();
}

void ProjectsOutlineView::scrollContentsBy(int dx, int dy)
{
    ContextMenuOutlineView::scrollContentsBy(dx, dy);
    if (dy != 0)
        schedulePulseCheck();
}

void ProjectsOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    // A timer row's indentation stays white, selected or not: its selection starts at the indented
    // edge. A project row's selection and grey band cover the whole row, its indentation included.
    const bool selected = selectionModel() && selectionModel()->isRowSelected(index.row(), index.parent());
    if (index.parent().isValid()) {
        painter->fillRect(rect, Qt::white);
        return;
    }
    if (selected) {
        const QColor base = ProjectsOutlineDelegate::selectionColour(this, palette());
        painter->fillRect(rect, ProjectsOutlineDelegate::selectionTint(base));
        painter->fillRect(QRect(rect.left(), rect.top(), ProjectsOutlineDelegate::selectionBarWidth, rect.height()),
                          base);
    } else {
        painter->fillRect(rect, ProjectsOutlineDelegate::projectBackground());
    }
    ContextMenuOutlineView::drawBranches(painter, rect, index);
}

void ProjectsOutlineView::schedulePulseCheck()
{
    if (pulseCheckScheduled_)
        return;
    pulseCheckScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        pulseCheckScheduled_ = false;
        updatePulse();
    });
}

void ProjectsOutlineView::updatePulse()
{
    const bool pulse = isVisible() && !runningStatusCells().empty();
    if (pulse && !pulseTimer_.isActive())
        pulseTimer_.start();
    else if (!pulse)
        pulseTimer_.stop();
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

std::vector<QModelIndex> ProjectsOutlineView::runningStatusCells() const
{
    std::vector<QModelIndex> cells;
    if (!model())
        return cells;
    const int statusColumn = static_cast<int>(ColumnIdentifier::status);
    for (const QModelIndex& row : visibleRows()) {
        if (row.data(ProjectsOutlineModel::StatusImageRole).toInt() == static_cast<int>(StatusImage::runningDot))
            cells.push_back(row.siblingAtColumn(statusColumn));
    }
    return cells;
}

void ProjectsOutlineView::repaintPulsingStatusCells()
{
    const std::vector<QModelIndex> cells = runningStatusCells();
    if (cells.empty())
        pulseTimer_.stop(); // the last running row scrolled away or stopped between checks
    for (const QModelIndex& cell : cells)
        viewport()->update(visualRect(cell));
}

} // namespace mainwindow

// The outline of projects and timers: one uniform row height (so the view never measures rows),
// project rows spanning every column, the pulse of running timers' status dots, which ticks only
// while a running timer's row is on screen, the grid lines between timer cells, and the editing of a
// project's name in its row (F2, Return or a double click on the name).
#pragma once

#include "mainwindow/context_menu_outline_view.h"

#include <QElapsedTimer>
#include <QTimer>

#include <vector>

namespace mainwindow {

class ProjectsOutlineDelegate;

class ProjectsOutlineView : public ContextMenuOutlineView {
    Q_OBJECT
public:
    static constexpr int rowHeight = 26;

    explicit ProjectsOutlineView(QWidget* parent = nullptr);

    ProjectsOutlineDelegate* cellDelegate() const { return cellDelegate_; }
    // The rows inside the viewport, top to bottom (column 0). Walks from the first visible row, so
    // the view never searches its whole list of rows.
    std::vector<QModelIndex> visibleRows() const;

    // Makes these project rows span the columns (after an insertion).
    void spanProjectRows(int first, int last);
    // After a model reset: every project row spans the columns again once the rows are laid out, so
    // the layout of expanded projects does not look up each timer row among the spanned ones.
    void spanAllProjectRowsAfterLayout() { allSpansPending_ = true; }
    // Lays the rows out now if a layout is pending (expansion restored after a reset), then spans.
    void layOutPendingRows();
    void doItemsLayout() override;

    void setModel(QAbstractItemModel* model) override;
    // Where the grid lines between the timer rows' cells are drawn (viewport coordinates): from the
    // top down to the bottom of the third row from the end, so the last two rows and the space below
    // the rows have none; empty with fewer than three rows.
    QRect gridArea() const;
    static QColor gridColour();
    // Opens the name editor of a project row; false for any other row.
    bool editProjectName(const QModelIndex& projectRow);
    // The selected row when it is a project's (invalid otherwise).
    QModelIndex selectedProjectRow() const;
    bool isPulsing() const { return pulseTimer_.isActive(); }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Looks at the shown rows once the current event is handled (many changes, one look) and runs
    // the pulse exactly while one of them is a running timer.
    void schedulePulseCheck();
    void updatePulse();
    std::vector<QModelIndex> runningStatusCells() const;
    void repaintPulsingStatusCells();
    // The spans asked for by spanAllProjectRowsAfterLayout(), once.
    void spanAllProjectRowsIfPending();

    ProjectsOutlineDelegate* cellDelegate_;
    QTimer pulseTimer_;
    bool pulseCheckScheduled_ = false;
    bool allSpansPending_ = false;
    QRect paintedGridArea_; // gridArea() while a paint is under way
};

} // namespace mainwindow

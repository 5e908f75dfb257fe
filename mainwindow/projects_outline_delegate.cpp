// Cell painting of the projects outline. Colours follow the timer's state (billed > closed > paused >
// running); a selected row is tinted and marked by a bar at its left edge, with the text keeping its
// normal colours.
#include "mainwindow/projects_outline_delegate.h"

#include "mainwindow/column_identifier.h"
#include "mainwindow/outline_cells.h"
#include "mainwindow/projects_outline_model.h"
#include "mainwindow/projects_outline_view.h"

#include "model/enums.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTreeView>

#include <cmath>

namespace mainwindow {

namespace {

const QColor projectRowBackground = QColor::fromRgbF(0.95f, 0.95f, 0.95f);
const QColor runningBackground = QColor::fromRgbF(0.98f, 0.95f, 0.59f);
const QColor pausedBackground = QColor::fromRgbF(1.0f, 0.965f, 0.839f);
const QColor separatorColour = QColor::fromRgbF(0.9f, 0.9f, 0.9f);
const QColor inactiveSelection = QColor(202, 202, 202);
const QColor pausedDot = QColor(242, 194, 48);
const QColor runningDot = QColor(52, 199, 89);
const QColor glyphColour = QColor(85, 85, 85);
constexpr int buttonSize = 20;

QColor mixedWithWhite(const QColor& colour, double whiteShare)
{
    const auto mix = [&](double component) { return component * (1.0 - whiteShare) + whiteShare; };
    return QColor::fromRgbF(static_cast<float>(mix(colour.redF())), static_cast<float>(mix(colour.greenF())),
                            static_cast<float>(mix(colour.blueF())));
}

bool isProjectRow(const QModelIndex& index)
{
    return index.data(ProjectsOutlineModel::ItemKindRole).toInt()
           == static_cast<int>(ProjectsOutlineModel::ItemKind::project);
}

// Columns can be dragged into another order: the row's bar belongs to whichever comes first.
bool isFirstVisualColumn(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const auto* view = qobject_cast<const QTreeView*>(option.widget);
    if (!view)
        return index.column() == 0;
    const QHeaderView* header = view->header();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            return index.column() == logical;
    }
    return false;
}

ColumnIdentifier columnOf(const QModelIndex& index)
{
    return static_cast<ColumnIdentifier>(index.column());
}

void paintGlyphButton(QPainter* painter, const QRect& rect, bool enabled,
                      const std::function<void(QPainter*, QRectF)>& glyph)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(QColor(0, 0, 0, enabled ? 60 : 25), 1));
    painter->setBrush(QColor(255, 255, 255, enabled ? 230 : 140));
    painter->drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    QColor colour = glyphColour;
    if (!enabled)
        colour.setAlpha(90);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    glyph(painter, QRectF(rect).adjusted(6, 6, -6, -6));
    painter->restore();
}

void paintCheckMark(QPainter* painter, const QRectF& box)
{
    QPainterPath path;
    path.moveTo(box.left(), box.center().y());
    path.lineTo(box.left() + box.width() * 0.38, box.bottom() - box.height() * 0.1);
    path.lineTo(box.right(), box.top() + box.height() * 0.1);
    painter->setPen(QPen(glyphColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path);
}

} // namespace

QColor ProjectsOutlineDelegate::selectionColour(const QWidget* view, const QPalette& palette)
{
    const bool focused = !view || (view->hasFocus() && view->isActiveWindow());
    return focused ? palette.color(QPalette::Active, QPalette::Highlight) : inactiveSelection;
}

QColor ProjectsOutlineDelegate::projectBackground()
{
    return projectRowBackground;
}

QColor ProjectsOutlineDelegate::selectionTint(const QColor& selection)
{
    return mixedWithWhite(selection, 0.8);
}

ProjectsOutlineDelegate::ProjectsOutlineDelegate(QObject* parent) : QStyledItemDelegate(parent)
{
    pulseClock_.start();
}

double ProjectsOutlineDelegate::pulseOpacity() const
{
    const double phase = static_cast<double>(pulseClock_.elapsed() % 4000) / 2000.0; // 0..2
    const double rise = phase <= 1.0 ? phase : 2.0 - phase;
    const double eased = rise * rise * (3.0 - 2.0 * rise);
    return 0.1 + 0.9 * eased;
}

QSize ProjectsOutlineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(ProjectsOutlineView::rowHeight);
    return size;
}

QRect ProjectsOutlineDelegate::newTimerButtonRect(const QRect& cell)
{
    return {cell.right() - 6 - buttonSize, cell.center().y() - buttonSize / 2 + 1, buttonSize, buttonSize};
}

QRect ProjectsOutlineDelegate::togglePauseButtonRect(const QRect& cell)
{
    return {cell.left() + 4, cell.center().y() - buttonSize / 2 + 1, buttonSize, buttonSize};
}

QRect ProjectsOutlineDelegate::stopButtonRect(const QRect& cell)
{
    return {cell.left() + 8 + buttonSize, cell.center().y() - buttonSize / 2 + 1, buttonSize, buttonSize};
}

QRect ProjectsOutlineDelegate::projectNameRect(const QRect& cell, const QFont& font, const QString& durationText)
{
    QFont bold = font;
    bold.setBold(true);
    const int durationLeft = newTimerButtonRect(cell).left() - 10 - QFontMetrics(bold).horizontalAdvance(durationText);
    return {cell.left() + 8, cell.top(), durationLeft - cell.left() - 16, cell.height()};
}

QWidget* ProjectsOutlineDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                               const QModelIndex& index) const
{
    if (!isProjectRow(index))
        return nullptr;
    auto* editor = new QLineEdit(parent);
    editor->setObjectName(QStringLiteral("projectNameEditor"));
    QFont bold = option.font;
    bold.setBold(true);
    editor->setFont(bold);
    return editor;
}

void ProjectsOutlineDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(index.data(Qt::EditRole).toString());
        line->selectAll();
    }
}

void ProjectsOutlineDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const
{
    const auto* line = qobject_cast<QLineEdit*>(editor);
    // Leaving the field unchanged (a new project's editor closed as it was) is no rename.
    if (line && projectNameHandler_ && isProjectRow(index) && line->text() != index.data(Qt::EditRole).toString())
        projectNameHandler_(index, line->text());
}

void ProjectsOutlineDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                   const QModelIndex& index) const
{
    const QRect name =
        projectNameRect(option.rect, option.font, index.data(ProjectsOutlineModel::ProjectDurationRole).toString());
    editor->setGeometry(name.adjusted(-4, 2, 4, -2));
}

void ProjectsOutlineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    painter->save();
    const bool project = isProjectRow(index);
    paintBackground(painter, option, index, project);
    if (project)
        paintProject(painter, option, index);
    else
        paintTimerCell(painter, option, index);
    painter->restore();
}

void ProjectsOutlineDelegate::paintBackground(QPainter* painter, const QStyleOptionViewItem& option,
                                              const QModelIndex& index, bool project) const
{
    QColor background = Qt::white;
    if (project) {
        background = projectRowBackground;
    } else {
        switch (static_cast<model::TimerStatus>(index.data(ProjectsOutlineModel::TimerStatusRole).toInt())) {
        case model::TimerStatus::running: background = runningBackground; break;
        case model::TimerStatus::paused: background = pausedBackground; break;
        case model::TimerStatus::closed:
        case model::TimerStatus::billed: break;
        }
    }
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected) {
        const QColor base = selectionColour(option.widget, option.palette);
        painter->fillRect(option.rect, selectionTint(base));
        // A project row's bar sits at the row's own left edge, in the indentation the view paints;
        // a timer row's at its indented edge, the left of its first cell.
        if (!project && isFirstVisualColumn(option, index))
            painter->fillRect(QRect(option.rect.left(), option.rect.top(), selectionBarWidth, option.rect.height()),
                              base);
    } else {
        painter->fillRect(option.rect, background);
    }
    if (!project)
        painter->fillRect(QRect(option.rect.left(), option.rect.bottom(), option.rect.width(), 1), separatorColour);
}

void ProjectsOutlineDelegate::paintProject(QPainter* painter, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const
{
    const QRect cell = option.rect;
    const QRect button = newTimerButtonRect(cell);
    const QString duration = index.data(ProjectsOutlineModel::ProjectDurationRole).toString();
    QFont bold = option.font;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const int durationWidth = boldMetrics.horizontalAdvance(duration);
    const QRect durationRect(button.left() - 10 - durationWidth, cell.top(), durationWidth, cell.height());

    const QRect textArea = projectNameRect(cell, option.font, duration);
    const QString name =
        boldMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textArea.width());
    painter->setFont(bold);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft, name);
    const QString client = index.data(ProjectsOutlineModel::ProjectClientRole).toString();
    if (!client.isEmpty()) {
        const int used = boldMetrics.horizontalAdvance(name) + 10;
        QRect clientArea = textArea.adjusted(used, 0, 0, 0);
        painter->setFont(option.font);
        painter->setPen(option.palette.color(QPalette::PlaceholderText));
        painter->drawText(clientArea, Qt::AlignVCenter | Qt::AlignLeft,
                          QFontMetrics(option.font).elidedText(client, Qt::ElideRight, clientArea.width()));
    }
    painter->setFont(bold);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(durationRect, Qt::AlignVCenter | Qt::AlignRight, duration);

    const bool enabled = !index.data(ProjectsOutlineModel::ProjectArchivedRole).toBool();
    paintGlyphButton(painter, button, enabled, [](QPainter* p, QRectF box) {
        const double t = 1.6;
        p->drawRect(QRectF(box.center().x() - t / 2, box.top(), t, box.height()));
        p->drawRect(QRectF(box.left(), box.center().y() - t / 2, box.width(), t));
    });
}

void ProjectsOutlineDelegate::paintTimerCell(QPainter* painter, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const
{
    const QRect cell = option.rect.adjusted(6, 0, -6, 0);
    const QFontMetrics metrics(option.font);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    switch (columnOf(index)) {
    case ColumnIdentifier::date:
        painter->drawText(cell, Qt::AlignVCenter | Qt::AlignLeft,
                          metrics.elidedText(index.data().toString(), Qt::ElideRight, cell.width()));
        break;
    case ColumnIdentifier::notes: {
        QRect notesArea = cell;
        const QVariant cost = index.data(ProjectsOutlineModel::CostTextRole);
        if (cost.isValid()) {
            const QString costText = cost.toString();
            const int costWidth = metrics.horizontalAdvance(costText);
            notesArea.setRight(cell.right() - costWidth - 8);
            painter->setPen(option.palette.color(QPalette::PlaceholderText));
            painter->drawText(cell, Qt::AlignVCenter | Qt::AlignRight, costText);
            painter->setPen(option.palette.color(QPalette::Text));
        }
        painter->drawText(notesArea, Qt::AlignVCenter | Qt::AlignLeft,
                          metrics.elidedText(index.data().toString(), Qt::ElideRight, notesArea.width()));
        break;
    }
    case ColumnIdentifier::status: {
        const auto image = static_cast<StatusImage>(index.data(ProjectsOutlineModel::StatusImageRole).toInt());
        const QRectF box(QPointF(option.rect.center()) - QPointF(5, 5), QSizeF(10, 10));
        painter->setRenderHint(QPainter::Antialiasing);
        switch (image) {
        case StatusImage::none: break;
        case StatusImage::checkMark: paintCheckMark(painter, box); break;
        case StatusImage::pausedDot:
            painter->setPen(Qt::NoPen);
            painter->setBrush(pausedDot);
            painter->drawEllipse(box);
            break;
        case StatusImage::runningDot:
            painter->setPen(Qt::NoPen);
            painter->setBrush(runningDot);
            painter->setOpacity(pulseOpacity());
            painter->drawEllipse(box);
            break;
        }
        break;
    }
    case ColumnIdentifier::duration:
        painter->drawText(cell, Qt::AlignVCenter | Qt::AlignRight, index.data().toString());
        break;
    case ColumnIdentifier::actions: {
        const auto button = static_cast<TimerActionButton>(index.data(ProjectsOutlineModel::ActionButtonRole).toInt());
        if (button == TimerActionButton::hidden)
            break;
        paintGlyphButton(painter, togglePauseButtonRect(option.rect), true, [button](QPainter* p, QRectF box) {
            if (button == TimerActionButton::play) {
                QPainterPath triangle;
                triangle.moveTo(box.topLeft());
                triangle.lineTo(box.right(), box.center().y());
                triangle.lineTo(box.bottomLeft());
                triangle.closeSubpath();
                p->drawPath(triangle);
            } else {
                const double bar = box.width() * 0.34;
                p->drawRect(QRectF(box.left(), box.top(), bar, box.height()));
                p->drawRect(QRectF(box.right() - bar, box.top(), bar, box.height()));
            }
        });
        paintGlyphButton(painter, stopButtonRect(option.rect), true, [](QPainter* p, QRectF box) { p->drawRect(box); });
        break;
    }
    }
}

bool ProjectsOutlineDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                          const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonRelease && event->type() != QEvent::MouseButtonPress)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const QPoint position = mouse->position().toPoint();
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if (isProjectRow(index)) {
        if (!newTimerButtonRect(option.rect).contains(position))
            return false;
        if (release && !index.data(ProjectsOutlineModel::ProjectArchivedRole).toBool())
            emit newTimerButtonClicked(index);
        return true;
    }
    if (columnOf(index) != ColumnIdentifier::actions
        || static_cast<TimerActionButton>(index.data(ProjectsOutlineModel::ActionButtonRole).toInt())
               == TimerActionButton::hidden)
        return false;
    if (togglePauseButtonRect(option.rect).contains(position)) {
        if (release)
            emit togglePauseButtonClicked(index);
        return true;
    }
    if (stopButtonRect(option.rect).contains(position)) {
        if (release)
            emit stopButtonClicked(index);
        return true;
    }
    return false;
}

} // namespace mainwindow

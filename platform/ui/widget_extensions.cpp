// Helpers shared by views and controllers: image tinting, colours, labels, animated hiding and
// showing, checkbox state, background colour, dates in line edits, item-view selection and bringing
// a window to the front.
#include "ui/widget_extensions.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPauseAnimation>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTableView>
#include <QTreeView>

namespace ui {

namespace {

constexpr const char* dateFormatProperty = "horavineDateFormat";

// Redoes the layout of the container's window now, so the views' new places are in effect.
void layOutWindow(QWidget& container)
{
    if (QLayout* layout = container.layout())
        layout->activate();
    if (QLayout* layout = container.window()->layout())
        layout->activate();
}

// One animation group of the shared length, started with the container as its owner. The pause
// gives the group its length even when it animates no view.
QParallelAnimationGroup* makeViewAnimationGroup(QWidget& container)
{
    auto* group = new QParallelAnimationGroup(&container);
    group->addAnimation(new QPauseAnimation(viewAnimationMilliseconds, group));
    return group;
}

QGraphicsOpacityEffect* opacityEffect(QWidget& view)
{
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect()))
        return effect;
    auto* effect = new QGraphicsOpacityEffect(&view);
    view.setGraphicsEffect(effect); // the view owns it from here
    return effect;
}

bool rowIsHidden(const QAbstractItemView& view, const QModelIndex& index)
{
    if (auto* tree = qobject_cast<const QTreeView*>(&view))
        return tree->isRowHidden(index.row(), index.parent());
    if (auto* table = qobject_cast<const QTableView*>(&view))
        return table->isRowHidden(index.row());
    if (auto* list = qobject_cast<const QListView*>(&view))
        return list->isRowHidden(index.row());
    return false;
}

// Whether the view shows a row for `item`: it belongs to the view's model, lies under the root, and
// none of its ancestors below the root is collapsed or hidden.
bool hasRow(const QAbstractItemView& view, const QModelIndex& item)
{
    if (!item.isValid() || item.model() != view.model())
        return false;
    const QModelIndex root = view.rootIndex();
    const auto* tree = qobject_cast<const QTreeView*>(&view);
    for (QModelIndex index = item; index != root; index = index.parent()) {
        if (!index.isValid())
            return false; // walked past the top without meeting the root
        if (rowIsHidden(view, index))
            return false;
        const QModelIndex parent = index.parent();
        if (parent != root && (!tree || !tree->isExpanded(parent)))
            return false; // flat views show only the root's children; trees only expanded ones
    }
    return true;
}

} // namespace

QImage tintedImage(const QImage& image, const QColor& color)
{
    QImage tinted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (tinted.isNull())
        return tinted;
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(QRectF(QPointF(0, 0), tinted.deviceIndependentSize()), color);
    return tinted;
}

QPixmap tintedPixmap(const QPixmap& pixmap, const QColor& color)
{
    if (pixmap.isNull())
        return pixmap;
    return QPixmap::fromImage(tintedImage(pixmap.toImage(), color));
}

QColor lighterColor(const QColor& color)
{
    if (!color.isValid())
        return color;
    const QColor hsv = color.toHsv();
    // Qt gives grey tones the hue -1, which fromHsvF takes as "no hue" as well.
    return QColor::fromHsvF(hsv.hsvHueF(), hsv.hsvSaturationF() * 0.2f, 1.0f, hsv.alphaF());
}

std::unique_ptr<QLabel> labelWithText(const QString& text)
{
    auto label = std::make_unique<QLabel>();
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::NoFrame);
    label->setAutoFillBackground(false);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setText(text);
    return label;
}

QAbstractAnimation* hideViews(QWidget& container, const QList<QWidget*>& views, bool animated)
{
    for (QWidget* view : views)
        view->setHidden(true);
    if (!animated)
        return nullptr;
    QParallelAnimationGroup* group = makeViewAnimationGroup(container);
    layOutWindow(container);
    group->start(QAbstractAnimation::DeleteWhenStopped);
    return group;
}

QAbstractAnimation* showViews(QWidget& container, const QList<QWidget*>& views, bool animated)
{
    QList<QPointer<QGraphicsOpacityEffect>> effects;
    for (QWidget* view : views) {
        view->setHidden(false);
        if (animated) {
            QGraphicsOpacityEffect* effect = opacityEffect(*view);
            effect->setOpacity(0.0);
            effects.append(effect);
        }
    }
    if (!animated)
        return nullptr;
    QParallelAnimationGroup* group = makeViewAnimationGroup(container);
    for (QGraphicsOpacityEffect* effect : effects) {
        auto* fade = new QPropertyAnimation(effect, "opacity", group);
        fade->setDuration(viewAnimationMilliseconds);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        group->addAnimation(fade);
    }
    layOutWindow(container);
    // Also when the group is stopped early: the views never stay transparent.
    QObject::connect(group, &QAbstractAnimation::stateChanged, group, [effects](QAbstractAnimation::State state) {
        if (state != QAbstractAnimation::Stopped)
            return;
        for (const QPointer<QGraphicsOpacityEffect>& effect : effects)
            if (effect)
                effect->setOpacity(1.0);
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
    return group;
}

bool isChecked(const QAbstractButton& button)
{
    if (auto* checkBox = qobject_cast<const QCheckBox*>(&button))
        return checkBox->checkState() == Qt::Checked;
    return button.isChecked();
}

void setIsChecked(QAbstractButton& button, bool checked)
{
    if (auto* checkBox = qobject_cast<QCheckBox*>(&button))
        checkBox->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    else
        button.setChecked(checked);
}

std::optional<QColor> layerBackgroundColor(const QWidget& widget)
{
    const QPalette& palette = widget.palette();
    if (!widget.autoFillBackground() || !palette.isBrushSet(QPalette::Active, QPalette::Window))
        return std::nullopt;
    return palette.color(QPalette::Active, QPalette::Window);
}

void setLayerBackgroundColor(QWidget& widget, const std::optional<QColor>& color)
{
    if (color) {
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, *color);
        widget.setPalette(palette);
        widget.setAutoFillBackground(true);
        return;
    }
    // A palette that keeps every role set on the widget except the background.
    const QPalette current = widget.palette();
    QPalette withoutBackground;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colorRole = static_cast<QPalette::ColorRole>(role);
            if (colorRole != QPalette::Window && current.isBrushSet(group, colorRole))
                withoutBackground.setBrush(group, colorRole, current.brush(group, colorRole));
        }
    }
    widget.setPalette(withoutBackground);
    widget.setAutoFillBackground(false);
}

void setDateFormat(QLineEdit& field, const QString& format)
{
    field.setProperty(dateFormatProperty, format);
}

QString dateFormat(const QLineEdit& field)
{
    return field.property(dateFormatProperty).toString();
}

std::optional<QDateTime> dateValue(const QLineEdit& field)
{
    const QString format = dateFormat(field);
    const QString text = field.text();
    if (format.isEmpty() || text.isEmpty())
        return std::nullopt;
    QDateTime date = field.locale().toDateTime(text, format);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QModelIndex> selectedItem(const QAbstractItemView& view)
{
    const QItemSelectionModel* selection = view.selectionModel();
    if (!selection)
        return std::nullopt;
    const QModelIndex current = view.currentIndex();
    if (current.isValid() && selection->isSelected(current))
        return current.siblingAtColumn(0);
    const QModelIndexList selected = selection->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first().siblingAtColumn(0);
}

void selectItem(QAbstractItemView& view, const QModelIndex& item)
{
    QItemSelectionModel* selection = view.selectionModel();
    if (!selection || !hasRow(view, item))
        return;
    selection->select(item, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Moving the current index would scroll to it; the selection is to change without scrolling.
    const bool autoScroll = view.hasAutoScroll();
    view.setAutoScroll(false);
    selection->setCurrentIndex(item, QItemSelectionModel::NoUpdate);
    view.setAutoScroll(autoScroll);
}

void bringToFront(QWidget& window)
{
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    window.raise();
    window.activateWindow();
}

} // namespace ui

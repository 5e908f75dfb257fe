// Small helpers that the views and controllers share on top of Qt widgets: a tinted copy of an image,
// a lighter colour, a plain label, hiding and showing stacked widgets, a checkbox as a Boolean, a
// background colour on any widget, a date read from a line edit, the selected row of an item view,
// and a window brought to the front.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QModelIndex>
#include <QPixmap>

#include <memory>
#include <optional>

class QAbstractAnimation;
class QAbstractButton;
class QAbstractItemView;
class QLabel;
class QLineEdit;
class QString;
class QWidget;

namespace ui {

// Every pixel takes `color` while keeping its own coverage, so the image's shape is drawn in one
// colour and transparent pixels stay transparent. The source is not changed.
QImage tintedImage(const QImage& image, const QColor& color);
QPixmap tintedPixmap(const QPixmap& pixmap, const QColor& color);

// Same hue and alpha, a fifth of the saturation, full brightness. An invalid colour comes back as is.
QColor lighterColor(const QColor& color);

// A non-editable, borderless label without background showing `text` as plain text.
std::unique_ptr<QLabel> labelWithText(const QString& text);

// How long the layout change of hideViews/showViews takes when animated.
inline constexpr int viewAnimationMilliseconds = 300;

// Hides `views` in order. When animated, the window's layout is redone inside one 0.3 s animation,
// which is returned (owned by `container`, deleted when it stops); otherwise nothing else happens and
// the result is null.
QAbstractAnimation* hideViews(QWidget& container, const QList<QWidget*>& views, bool animated);
// Shows `views` in order. When animated, they take their place in the layout at once and fade in from
// transparent over 0.3 s, ending fully opaque; without animation they are only made visible.
QAbstractAnimation* showViews(QWidget& container, const QList<QWidget*>& views, bool animated);

// True only for the checked state; unchecked and partially checked read false.
bool isChecked(const QAbstractButton& button);
void setIsChecked(QAbstractButton& button, bool checked);

// The background colour the widget fills itself with, when one was set on it.
std::optional<QColor> layerBackgroundColor(const QWidget& widget);
// Fills the widget's background with `color`; nullopt removes the widget's own background again.
void setLayerBackgroundColor(QWidget& widget, const std::optional<QColor>& color);

// The date format a line edit's text is written in (QDateTime format syntax, read in the widget's
// locale); an empty format means the field holds no date.
void setDateFormat(QLineEdit& field, const QString& format);
QString dateFormat(const QLineEdit& field);
// The field's text parsed with its date format; nothing without a format, for an empty text or for
// a text that does not parse.
std::optional<QDateTime> dateValue(const QLineEdit& field);

// The selected row's item (column 0): the current row when it is selected, else the first selected
// row; nothing when no row is selected.
std::optional<QModelIndex> selectedItem(const QAbstractItemView& view);
// Selects exactly the item's row, replacing the selection, without scrolling. An item that has no row
// in the view (of another model, or under a collapsed or hidden parent) changes nothing.
void selectItem(QAbstractItemView& view, const QModelIndex& item);

// Shows the window (restored when minimised), raises it above the others and activates it.
void bringToFront(QWidget& window);

} // namespace ui

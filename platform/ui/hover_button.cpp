// Painting of the hover button (background, then the state's image, nothing else) and its tracking
// of the pointer, which counts only while the button's window is the active one.
#include "ui/hover_button.h"

#include "ui/widget_extensions.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <cmath>

namespace ui {

namespace {

constexpr qreal cornerRadius = 3.0;

// A state image: the one kept in `field`, else the image tinted with `tint` and kept, else the image
// itself, untinted and not kept.
QPixmap stateImage(std::optional<QPixmap>& field, const std::optional<QColor>& tint, const QPixmap& image)
{
    if (field)
        return *field;
    if (!tint)
        return image;
    field = tintedPixmap(image, *tint);
    return *field;
}

} // namespace

HoverButton::HoverButton(QWidget* parent) : QAbstractButton(parent) {}

void HoverButton::setImageColor(std::optional<QColor> color)
{
    imageColor_ = color;
    update();
}

void HoverButton::setHoverImageColor(std::optional<QColor> color)
{
    hoverImageColor_ = color;
    update();
}

void HoverButton::setPressedImageColor(std::optional<QColor> color)
{
    pressedImageColor_ = color;
    update();
}

void HoverButton::setBackgroundColor(std::optional<QColor> color)
{
    backgroundColor_ = color;
    update();
}

void HoverButton::setHoverColor(std::optional<QColor> color)
{
    hoverColor_ = color;
    update();
}

void HoverButton::setPressedColor(std::optional<QColor> color)
{
    pressedColor_ = color;
    update();
}

void HoverButton::setMouseDown(bool down)
{
    mouseDown_ = down;
    update();
}

void HoverButton::setMouseHovering(bool hovering)
{
    mouseHovering_ = hovering;
    update();
}

void HoverButton::setBackgroundStyle(BackgroundStyle style)
{
    backgroundStyle_ = style;
    update();
}

void HoverButton::setImage(std::optional<QPixmap> image)
{
    image_ = image && !image->isNull() ? std::move(image) : std::nullopt;
    normalImage_.reset();
    hoverImage_.reset();
    pressedImage_.reset();
    highlightedImage_.reset();
    updateGeometry();
    update();
}

QRectF HoverButton::imageRect(QSizeF image, QSizeF bounds)
{
    const qreal width = std::min(image.width(), bounds.width());
    const qreal height = std::min(image.height(), bounds.height());
    // std::round takes halves away from zero: 2.5 becomes 3.
    return QRectF(std::round((bounds.width() - width) * 0.5), std::round((bounds.height() - height) * 0.5), width,
                  height);
}

QSize HoverButton::sizeHint() const
{
    return image_ ? image_->deviceIndependentSize().toSize() : QAbstractButton::sizeHint();
}

std::optional<QColor> HoverButton::currentBackground() const
{
    if (!isEnabled())
        return backgroundColor_ ? std::optional(lighterColor(*backgroundColor_)) : std::nullopt;
    if (mouseDown_)
        return pressedColor_;
    if (mouseHovering_)
        return hoverColor_;
    return backgroundColor_;
}

std::optional<QPixmap> HoverButton::currentImage()
{
    if (!image_)
        return std::nullopt;
    if (!isEnabled())
        return tintedPixmap(*image_, QColor(Qt::lightGray)); // made anew on every paint
    if (backgroundStyle_ == BackgroundStyle::dark)
        return stateImage(highlightedImage_, QColor(Qt::white), *image_);
    if (mouseDown_)
        return stateImage(pressedImage_, pressedImageColor_, *image_);
    if (mouseHovering_)
        return stateImage(hoverImage_, hoverImageColor_, *image_);
    return stateImage(normalImage_, imageColor_, *image_);
}

void HoverButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const std::optional<QColor> background = currentBackground()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        painter.fillPath(path, *background);
    }
    if (const std::optional<QPixmap> image = currentImage()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setOpacity(1.0);
        painter.drawPixmap(imageRect(image->deviceIndependentSize(), size()), *image, QRectF(image->rect()));
    }
}

void HoverButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    // Hover counts only in the active window, and a disabled button ignores the pointer.
    if (isEnabled() && window()->isActiveWindow())
        setMouseHovering(true);
}

void HoverButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setMouseHovering(false);
}

void HoverButton::mousePressEvent(QMouseEvent* event)
{
    QAbstractButton::mousePressEvent(event);
    if (event->isAccepted() && event->button() == Qt::LeftButton)
        setMouseDown(true);
}

void HoverButton::mouseReleaseEvent(QMouseEvent* event)
{
    const bool endsPress = mouseDown_ && event->button() == Qt::LeftButton;
    // The click is sent while the button still reads pressed; its handler may delete the button
    // (a row button removing its row).
    QPointer<HoverButton> self(this);
    QAbstractButton::mouseReleaseEvent(event);
    if (self && endsPress)
        setMouseDown(false);
}

bool HoverButton::event(QEvent* event)
{
    // A window passes its deactivation on to its visible children as this event.
    if (event->type() == QEvent::WindowDeactivate)
        stopTracking();
    return QAbstractButton::event(event);
}

void HoverButton::hideEvent(QHideEvent* event)
{
    QAbstractButton::hideEvent(event);
    stopTracking();
}

void HoverButton::stopTracking()
{
    setMouseHovering(false);
    setMouseDown(false);
}

} // namespace ui

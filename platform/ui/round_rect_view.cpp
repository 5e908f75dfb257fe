// The pill-shaped view and label: a rounded fill and outline under the content, 10 px of extra width.
#include "ui/round_rect_view.h"

#include <QPainter>

namespace ui {

RoundRectView::RoundRectView(QWidget* parent) : QWidget(parent) {}

void RoundRectView::roundEnds()
{
    cornerRadius_ = height() * 0.5;
    update();
}

void RoundRectView::setFillColor(std::optional<QColor> color)
{
    fillColor_ = color;
    update();
}

void RoundRectView::setBorder(std::optional<QColor> color, qreal width)
{
    borderColor_ = color;
    borderWidth_ = width;
    update();
}

QSize RoundRectView::sizeHint() const
{
    const QSize content = QWidget::sizeHint();
    return {content.width() + roundRectExtraWidth, content.height()};
}

void RoundRectView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline is drawn inside the bounds, half a line in, so none of it is clipped.
    const qreal inset = borderColor_ && borderWidth_ > 0 ? borderWidth_ * 0.5 : 0;
    const QRectF bounds = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    const qreal radius = std::max<qreal>(0, cornerRadius_ - inset);
    painter.setPen(inset > 0 ? QPen(*borderColor_, borderWidth_) : QPen(Qt::NoPen));
    painter.setBrush(fillColor_ ? QBrush(*fillColor_) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(bounds, radius, radius);
}

RoundRectLabel::RoundRectLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setAlignment(Qt::AlignCenter);
}

void RoundRectLabel::roundEnds()
{
    cornerRadius_ = height() * 0.5;
    update();
}

void RoundRectLabel::setFillColor(std::optional<QColor> color)
{
    fillColor_ = color;
    update();
}

QSize RoundRectLabel::sizeHint() const
{
    const QSize content = QLabel::sizeHint();
    return {content.width() + roundRectExtraWidth, content.height()};
}

QSize RoundRectLabel::minimumSizeHint() const
{
    const QSize content = QLabel::minimumSizeHint();
    return {content.width() + roundRectExtraWidth, content.height()};
}

void RoundRectLabel::paintEvent(QPaintEvent* event)
{
    if (fillColor_) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(*fillColor_);
        painter.drawRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    }
    QLabel::paintEvent(event);
}

} // namespace ui

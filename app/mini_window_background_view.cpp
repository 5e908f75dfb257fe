// Draws the mini window's shape: the body with its arrow, then the top bar over it.
#include "app/mini_window_background_view.h"

#include <QPainter>

namespace app {

namespace {

// The rounded rectangle `body` traced clockwise from the arrow's base, with the arrow on the top or
// bottom edge between `baseLeft` and `baseRight`, or without an arrow when `arrow` is false.
void addRoundedBody(QPainterPath& path, const QRectF& body, qreal r, bool arrowOnTop, bool arrowAtBottom,
                    const MiniWindowShape& shape, bool roundBottom)
{
    const qreal d = 2 * r;
    if (arrowOnTop) {
        path.moveTo(shape.arrowBaseLeft);
        path.lineTo(shape.arrowTip);
        path.lineTo(shape.arrowBaseRight);
    } else {
        path.moveTo(body.left() + r, body.top());
    }
    path.lineTo(body.right() - r, body.top());
    path.arcTo(QRectF(body.right() - d, body.top(), d, d), 90, -90);
    if (roundBottom) {
        path.lineTo(body.right(), body.bottom() - r);
        path.arcTo(QRectF(body.right() - d, body.bottom() - d, d, d), 0, -90);
    } else {
        path.lineTo(body.right(), body.bottom());
    }
    if (arrowAtBottom) {
        path.lineTo(shape.arrowBaseRight);
        path.lineTo(shape.arrowTip);
        path.lineTo(shape.arrowBaseLeft);
    }
    if (roundBottom) {
        path.lineTo(body.left() + r, body.bottom());
        path.arcTo(QRectF(body.left(), body.bottom() - d, d, d), 270, -90);
    } else {
        path.lineTo(body.left(), body.bottom());
    }
    path.lineTo(body.left(), body.top() + r);
    path.arcTo(QRectF(body.left(), body.top(), d, d), 180, -90);
    path.closeSubpath();
}

} // namespace

MiniWindowShape miniWindowShape(const QRectF& frame, const QSizeF& arrowSize, ArrowEdge arrowEdge,
                                std::optional<qreal> arrowTip, std::optional<qreal> topBarHeight)
{
    MiniWindowShape shape;
    const qreal tipX = frame.x() + arrowTip.value_or(frame.width() * 0.5);
    const qreal halfBase = arrowSize.width() * 0.5;
    if (arrowEdge == ArrowEdge::top) {
        const qreal bodyTop = frame.y() + arrowSize.height();
        shape.arrowTip = QPointF(tipX, frame.y());
        shape.arrowBaseLeft = QPointF(tipX - halfBase, bodyTop);
        shape.arrowBaseRight = QPointF(tipX + halfBase, bodyTop);
        shape.body = QRectF(frame.x(), bodyTop, frame.width(), frame.height() - arrowSize.height());
    } else {
        const qreal bodyBottom = frame.y() + frame.height() - arrowSize.height();
        shape.arrowTip = QPointF(tipX, frame.y() + frame.height());
        shape.arrowBaseLeft = QPointF(tipX - halfBase, bodyBottom);
        shape.arrowBaseRight = QPointF(tipX + halfBase, bodyBottom);
        shape.body = QRectF(frame.x(), frame.y(), frame.width(), frame.height() - arrowSize.height());
    }
    if (topBarHeight)
        shape.topBar = QRectF(shape.body.x(), shape.body.y(), shape.body.width(), *topBarHeight);
    return shape;
}

QPainterPath MiniWindowShape::bodyPath(qreal cornerRadius) const
{
    QPainterPath path;
    const bool arrowOnTop = arrowTip.y() < body.top();
    addRoundedBody(path, body, cornerRadius, arrowOnTop, !arrowOnTop, *this, true);
    return path;
}

QPainterPath MiniWindowShape::topBarPath(qreal cornerRadius) const
{
    QPainterPath path;
    if (!topBar)
        return path;
    const bool arrowOnTop = arrowTip.y() < body.top();
    addRoundedBody(path, *topBar, cornerRadius, arrowOnTop, false, *this, false);
    return path;
}

MiniWindowBackgroundView::MiniWindowBackgroundView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MiniWindowBackgroundView::setArrowSize(QSizeF size)
{
    arrowSize_ = size;
    changed();
}

void MiniWindowBackgroundView::setCornerRadius(qreal radius)
{
    cornerRadius_ = radius;
    changed();
}

void MiniWindowBackgroundView::setBackgroundColor(std::optional<QColor> color)
{
    backgroundColor_ = color;
    update();
}

void MiniWindowBackgroundView::setTopBarBackgroundColor(std::optional<QColor> color)
{
    topBarBackgroundColor_ = color;
    update();
}

void MiniWindowBackgroundView::setTopBarHeight(qreal height)
{
    topBarHeight_ = height;
    update();
}

void MiniWindowBackgroundView::setArrow(ArrowEdge edge, std::optional<qreal> tip)
{
    if (edge == arrowEdge_ && tip == arrowTip_)
        return;
    arrowEdge_ = edge;
    arrowTip_ = tip;
    changed();
}

MiniWindowShape MiniWindowBackgroundView::shape() const
{
    return miniWindowShape(QRectF(rect()), arrowSize_, arrowEdge_, arrowTip_,
                           topBarBackgroundColor_ ? std::optional<qreal>(topBarHeight_) : std::nullopt);
}

QPainterPath MiniWindowBackgroundView::outline() const
{
    return shape().bodyPath(cornerRadius_);
}

void MiniWindowBackgroundView::paintEvent(QPaintEvent*)
{
    // The whole shape is drawn on every call; it is small.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const MiniWindowShape panel = shape();
    if (backgroundColor_)
        painter.fillPath(panel.bodyPath(cornerRadius_), *backgroundColor_);
    if (topBarBackgroundColor_)
        painter.fillPath(panel.topBarPath(cornerRadius_), *topBarBackgroundColor_);
}

void MiniWindowBackgroundView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit shapeChanged();
}

void MiniWindowBackgroundView::changed()
{
    update();
    emit shapeChanged();
}

} // namespace app

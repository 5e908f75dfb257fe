// The mini window's shape: a rounded body with an arrow whose tip points at the tray icon, white, its
// arrow and top bar in a light grey. The window around it is transparent, so only this shows.
#pragma once

#include "app/mini_window_placement.h"

#include <QColor>
#include <QPainterPath>
#include <QWidget>

#include <optional>

namespace app {

// The panel's outline in y-down coordinates of its own frame.
struct MiniWindowShape {
    QPointF arrowTip;
    QPointF arrowBaseLeft;
    QPointF arrowBaseRight;
    QRectF body;
    // The body's top strip, arrow included when the arrow is on top; nothing without a top-bar colour.
    std::optional<QRectF> topBar;

    QPainterPath bodyPath(qreal cornerRadius) const;
    // The top bar: rounded top corners, a straight lower edge, the arrow when it sits on top.
    QPainterPath topBarPath(qreal cornerRadius) const;
};

// `arrowTip` is the tip's x from the frame's left edge; nothing centres it.
MiniWindowShape miniWindowShape(const QRectF& frame, const QSizeF& arrowSize, ArrowEdge arrowEdge,
                                std::optional<qreal> arrowTip, std::optional<qreal> topBarHeight);

class MiniWindowBackgroundView : public QWidget {
    Q_OBJECT
public:
    explicit MiniWindowBackgroundView(QWidget* parent = nullptr);

    QSizeF arrowSize() const { return arrowSize_; }
    void setArrowSize(QSizeF size);
    qreal cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(qreal radius);
    std::optional<QColor> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> topBarBackgroundColor() const { return topBarBackgroundColor_; }
    void setTopBarBackgroundColor(std::optional<QColor> color);
    qreal topBarHeight() const { return topBarHeight_; }
    void setTopBarHeight(qreal height);

    // Where the arrow is: the side (top under a tray icon, bottom when the panel opened above it) and
    // the tip's x from the left edge (nothing: centred).
    ArrowEdge arrowEdge() const { return arrowEdge_; }
    std::optional<qreal> arrowTip() const { return arrowTip_; }
    void setArrow(ArrowEdge edge, std::optional<qreal> tip);

    MiniWindowShape shape() const;
    // The whole drawn area (body and arrow), for clipping the window where nothing composites it.
    QPainterPath outline() const;

signals:
    void shapeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void changed();

    QSizeF arrowSize_{25.0, 10.0};
    qreal cornerRadius_ = 6.0;
    std::optional<QColor> backgroundColor_ = QColor(Qt::white);
    std::optional<QColor> topBarBackgroundColor_ = QColor::fromRgbF(0.94f, 0.94f, 0.94f, 1.0f);
    qreal topBarHeight_ = 44.0;
    ArrowEdge arrowEdge_ = ArrowEdge::top;
    std::optional<qreal> arrowTip_;
};

} // namespace app

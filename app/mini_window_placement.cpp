// The mini window's placement under (or, without room, above) the tray icon.
#include "app/mini_window_placement.h"

#include <algorithm>

namespace app {

namespace {

// `value` limited to [low, high]; when the range is empty, `low` wins (the panel's left or top edge
// stays on screen).
qreal clampToRange(qreal value, qreal low, qreal high)
{
    return std::max(low, std::min(value, high));
}

} // namespace

MiniWindowPlacement placeMiniWindow(const QRectF& icon, const QSizeF& panel, const QRectF& available,
                                    const QSizeF& arrowSize, qreal cornerRadius)
{
    const qreal iconCentre = icon.x() + icon.width() * 0.5;
    MiniWindowPlacement placement;
    qreal left = iconCentre - panel.width() * 0.5;
    qreal top = icon.y() + icon.height() + miniWindowIconGap;
    if (top + panel.height() > available.y() + available.height()) {
        const qreal above = icon.y() - miniWindowIconGap - panel.height();
        if (above >= available.y()) {
            top = above;
            placement.arrowEdge = ArrowEdge::bottom;
        } else {
            top = clampToRange(top, available.y(), available.y() + available.height() - panel.height());
        }
    }
    left = clampToRange(left, available.x(), available.x() + available.width() - panel.width());
    placement.topLeft = QPointF(left, top);
    const qreal straightEdgeStart = cornerRadius + arrowSize.width() * 0.5;
    const qreal straightEdgeEnd = panel.width() - cornerRadius - arrowSize.width() * 0.5;
    placement.arrowTip = clampToRange(iconCentre - left, straightEdgeStart, straightEdgeEnd);
    return placement;
}

QRectF anchorWithoutIcon(const std::optional<QPointF>& pointer, const QRectF& available)
{
    if (pointer)
        return QRectF(*pointer, QSizeF(0, 0));
    return QRectF(QPointF(available.x() + available.width(), available.y()), QSizeF(0, 0));
}

} // namespace app

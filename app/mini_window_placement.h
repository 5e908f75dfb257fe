// Where the mini window goes: under the tray icon, centred on it, 2 px below its bottom edge, kept
// inside the screen's available area with its arrow still pointing at the icon, and above the icon
// when there is no room below it (a panel at the bottom of the screen). Pure functions, y down.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace app {

// The side of the panel its arrow sits on.
enum class ArrowEdge { top, bottom };

struct MiniWindowPlacement {
    QPointF topLeft;
    ArrowEdge arrowEdge = ArrowEdge::top;
    // The x of the arrow's tip, from the panel's left edge.
    qreal arrowTip = 0;
};

// The gap between the icon and the panel's arrow tip.
inline constexpr qreal miniWindowIconGap = 2.0;

// `icon` and `available` in global coordinates. The arrow's tip stays over the icon's centre as far
// as the straight part of the body's edge allows (between the corners of `cornerRadius`).
MiniWindowPlacement placeMiniWindow(const QRectF& icon, const QSizeF& panel, const QRectF& available,
                                    const QSizeF& arrowSize = {25.0, 10.0}, qreal cornerRadius = 6.0);

// What the panel hangs from when the tray tells nothing of its icon: the pointer when the toggle came
// from the icon, else the top-right corner of the available area.
QRectF anchorWithoutIcon(const std::optional<QPointF>& pointer, const QRectF& available);

} // namespace app

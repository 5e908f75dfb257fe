// The forwarding paint engine behind PageTextFilter: state and drawing go to the target painter as
// they come; text items are placed through the current transform and kept only on the page.
#include "export/page_text_filter.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

namespace exports {

class PageTextFilterEngine : public QPaintEngine {
public:
    PageTextFilterEngine(QPainter& target, QRectF page) : QPaintEngine(AllFeatures), target_(target), page_(page) {}

    bool begin(QPaintDevice*) override
    {
        // Each painter on the filter starts from the target's state and leaves it as it found it.
        target_.save();
        transform_ = QTransform();
        return true;
    }
    bool end() override
    {
        target_.restore();
        return true;
    }
    Type type() const override { return User; }

    void updateState(const QPaintEngineState& changed) override
    {
        const DirtyFlags flags = changed.state();
        // The transform first: a clip that arrives with it is in the coordinates it sets up.
        if (flags & DirtyTransform) {
            transform_ = changed.transform();
            target_.setTransform(transform_);
        }
        if (flags & DirtyPen)
            target_.setPen(changed.pen());
        if (flags & DirtyBrush)
            target_.setBrush(changed.brush());
        if (flags & DirtyBrushOrigin)
            target_.setBrushOrigin(changed.brushOrigin());
        if (flags & DirtyFont)
            target_.setFont(changed.font());
        if (flags & DirtyBackground)
            target_.setBackground(changed.backgroundBrush());
        if (flags & DirtyBackgroundMode)
            target_.setBackgroundMode(changed.backgroundMode());
        if (flags & DirtyHints)
            target_.setRenderHints(changed.renderHints());
        if (flags & DirtyCompositionMode)
            target_.setCompositionMode(changed.compositionMode());
        if (flags & DirtyOpacity)
            target_.setOpacity(changed.opacity());
        if (flags & DirtyClipRegion)
            target_.setClipRegion(changed.clipRegion(), changed.clipOperation());
        if (flags & DirtyClipPath)
            target_.setClipPath(changed.clipPath(), changed.clipOperation());
        if (flags & DirtyClipEnabled)
            target_.setClipping(changed.isClipEnabled());
    }

    void drawTextItem(const QPointF& origin, const QTextItem& textItem) override
    {
        const QRectF box(origin.x(), origin.y() - textItem.ascent(), textItem.width(),
                         textItem.ascent() + textItem.descent());
        const QPointF middle = transform_.map(box.center());
        // Lines are laid out whole on one page, so their middle decides: each is written exactly once.
        if (middle.y() < page_.top() || middle.y() >= page_.bottom())
            return;
        target_.drawTextItem(origin, textItem);
    }

    void drawRects(const QRectF* rects, int count) override { target_.drawRects(rects, count); }
    void drawRects(const QRect* rects, int count) override { target_.drawRects(rects, count); }
    void drawLines(const QLineF* lines, int count) override { target_.drawLines(lines, count); }
    void drawLines(const QLine* lines, int count) override { target_.drawLines(lines, count); }
    void drawEllipse(const QRectF& rect) override { target_.drawEllipse(rect); }
    void drawPath(const QPainterPath& path) override { target_.drawPath(path); }
    void drawPoints(const QPointF* points, int count) override { target_.drawPoints(points, count); }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        switch (mode) {
        case PolylineMode: target_.drawPolyline(points, count); break;
        case WindingMode: target_.drawPolygon(points, count, Qt::WindingFill); break;
        case OddEvenMode:
        case ConvexMode: target_.drawPolygon(points, count, Qt::OddEvenFill); break;
        }
    }
    void drawPixmap(const QRectF& rect, const QPixmap& pixmap, const QRectF& source) override
    {
        target_.drawPixmap(rect, pixmap, source);
    }
    void drawTiledPixmap(const QRectF& rect, const QPixmap& pixmap, const QPointF& offset) override
    {
        target_.drawTiledPixmap(rect, pixmap, offset);
    }
    void drawImage(const QRectF& rect, const QImage& image, const QRectF& source,
                   Qt::ImageConversionFlags flags) override
    {
        target_.drawImage(rect, image, source, flags);
    }

private:
    QPainter& target_;
    QRectF page_;
    QTransform transform_;
};

PageTextFilter::PageTextFilter(QPainter& target, QRectF page)
    : target_(target), engine_(std::make_unique<PageTextFilterEngine>(target, page))
{}

PageTextFilter::~PageTextFilter() = default;

QPaintEngine* PageTextFilter::paintEngine() const
{
    return engine_.get();
}

int PageTextFilter::metric(PaintDeviceMetric metric) const
{
    const QPaintDevice& device = *target_.device();
    switch (metric) {
    case PdmWidth: return device.width();
    case PdmHeight: return device.height();
    case PdmWidthMM: return device.widthMM();
    case PdmHeightMM: return device.heightMM();
    case PdmNumColors: return device.colorCount();
    case PdmDepth: return device.depth();
    case PdmDpiX: return device.logicalDpiX();
    case PdmDpiY: return device.logicalDpiY();
    case PdmPhysicalDpiX: return device.physicalDpiX();
    case PdmPhysicalDpiY: return device.physicalDpiY();
    case PdmDevicePixelRatio: return static_cast<int>(device.devicePixelRatio());
    case PdmDevicePixelRatioScaled: return static_cast<int>(device.devicePixelRatio() * devicePixelRatioFScale());
    }
    return QPaintDevice::metric(metric);
}

} // namespace exports

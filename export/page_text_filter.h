// A paint device that forwards everything painted on it to a painter of the real output (a PDF writer
// or a printer), except text that falls outside the current page. Qt's table painting also paints the
// rows around each page, which the page's clip hides only from sight: their text would still land in
// the PDF, found by search and copied with the page.
#pragma once

#include <QPaintDevice>
#include <QRectF>

#include <memory>

class QPainter;

namespace exports {

class PageTextFilterEngine;

class PageTextFilter : public QPaintDevice {
public:
    // `target` paints on the output and stays active while this device is painted on; `page` is the
    // visible page in the output's device coordinates. Text whose middle lies outside it is dropped.
    PageTextFilter(QPainter& target, QRectF page);
    ~PageTextFilter() override;

    QPaintEngine* paintEngine() const override;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QPainter& target_;
    std::unique_ptr<PageTextFilterEngine> engine_;
};

} // namespace exports

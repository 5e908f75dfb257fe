// The popover's popup window: a Qt::Popup frame (Qt closes it on a click outside), which also closes
// on Escape and tells its popover once when it goes away.
#include "ui/popover.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <functional>

namespace ui {

namespace {

class PopupFrame : public QFrame {
public:
    explicit PopupFrame(std::function<void()> hidden)
        : QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint), hidden_(std::move(hidden))
    {
        setFrameShape(QFrame::StyledPanel);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape) {
            close();
            return;
        }
        QFrame::keyPressEvent(event);
    }

    void hideEvent(QHideEvent* event) override
    {
        QFrame::hideEvent(event);
        if (hidden_)
            std::exchange(hidden_, nullptr)();
    }

private:
    std::function<void()> hidden_;
};

PopoverEdge opposite(PopoverEdge edge)
{
    switch (edge) {
    case PopoverEdge::below: return PopoverEdge::above;
    case PopoverEdge::above: return PopoverEdge::below;
    case PopoverEdge::left: return PopoverEdge::right;
    case PopoverEdge::right: return PopoverEdge::left;
    }
    return edge;
}

QRect placedOn(PopoverEdge edge, const QRect& anchor, const QSize& size)
{
    const QPoint center = anchor.center();
    switch (edge) {
    case PopoverEdge::below: return {QPoint(center.x() - size.width() / 2, anchor.bottom() + 1), size};
    case PopoverEdge::above: return {QPoint(center.x() - size.width() / 2, anchor.top() - size.height()), size};
    case PopoverEdge::left: return {QPoint(anchor.left() - size.width(), center.y() - size.height() / 2), size};
    case PopoverEdge::right: return {QPoint(anchor.right() + 1, center.y() - size.height() / 2), size};
    }
    return {anchor.topLeft(), size};
}

bool fitsAcross(PopoverEdge edge, const QRect& placed, const QRect& screen)
{
    if (edge == PopoverEdge::below || edge == PopoverEdge::above)
        return placed.top() >= screen.top() && placed.bottom() <= screen.bottom();
    return placed.left() >= screen.left() && placed.right() <= screen.right();
}

int clamped(int start, int length, int areaStart, int areaLength)
{
    return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

} // namespace

QRect popoverGeometry(const QRect& anchor, const QSize& size, const QRect& screen, PopoverEdge preferred,
                      PopoverEdge* shownEdge)
{
    PopoverEdge edge = preferred;
    QRect placed = placedOn(edge, anchor, size);
    if (!fitsAcross(edge, placed, screen)) {
        const QRect other = placedOn(opposite(edge), anchor, size);
        if (fitsAcross(opposite(edge), other, screen)) {
            edge = opposite(edge);
            placed = other;
        }
    }
    if (edge == PopoverEdge::below || edge == PopoverEdge::above)
        placed.moveLeft(clamped(placed.left(), placed.width(), screen.left(), screen.width()));
    else
        placed.moveTop(clamped(placed.top(), placed.height(), screen.top(), screen.height()));
    if (shownEdge)
        *shownEdge = edge;
    return placed;
}

Popover::Popover(QObject* parent) : QObject(parent) {}

Popover::~Popover()
{
    close();
}

void Popover::setContentWidget(QWidget* content)
{
    content_ = content;
}

QWidget* Popover::popupWindow() const
{
    return popup_.data();
}

void Popover::showRelativeTo(const QRect& anchorRect, QWidget& anchorView, PopoverEdge preferredEdge)
{
    if (popup_)
        return;
    auto* popup = new PopupFrame([this] { popupHidden(); });
    popup_ = popup;
    auto* layout = new QVBoxLayout(popup);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (content_) {
        layout->addWidget(content_);
        content_->show();
    }
    popup->adjustSize();

    const QRect anchor(anchorView.mapToGlobal(anchorRect.topLeft()), anchorRect.size());
    QScreen* screen = anchorView.screen() ? anchorView.screen() : QApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), popup->size());
    popup->setGeometry(popoverGeometry(anchor, popup->size(), area, preferredEdge, &shownEdge_));
    popup->show();
}

void Popover::close()
{
    if (popup_)
        popup_->close();
}

void Popover::popupHidden()
{
    QWidget* popup = popup_.data();
    popup_ = nullptr;
    if (content_ && popup && content_->parentWidget() == popup) {
        content_->hide();
        content_->setParent(nullptr);
    }
    if (popup)
        popup->deleteLater();
    emit didClose();
}

} // namespace ui

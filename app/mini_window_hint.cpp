// The first-launch hint's content and its arrow-drawn popup.
#include "app/mini_window_hint.h"

#include "app/mini_window_background_view.h"

#include <QLabel>
#include <QPainterPath>
#include <QPushButton>
#include <QRegion>
#include <QVBoxLayout>

namespace app {

namespace {

constexpr int hintWidth = 260;

} // namespace

MiniWindowHintViewController::MiniWindowHintViewController(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    auto* text = new QLabel(hintText(), this);
    text->setWordWrap(true);
    layout->addWidget(text);
    closeButton_ = new QPushButton(tr("Close"), this);
    layout->addWidget(closeButton_, 0, Qt::AlignRight);
    connect(closeButton_, &QPushButton::clicked, this, &MiniWindowHintViewController::close);
}

QString MiniWindowHintViewController::hintText()
{
    return tr("Horavine lives here: click this icon to see your running timers, pause or stop them, "
              "and start new ones.");
}

void MiniWindowHintViewController::close()
{
    if (closeCallback)
        closeCallback();
}

MiniWindowHintPopup::MiniWindowHintPopup() : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    background_ = new MiniWindowBackgroundView(this);
    background_->setTopBarBackgroundColor(std::nullopt);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, static_cast<int>(background_->arrowSize().height()), 0, 0);
    hint_ = new MiniWindowHintViewController(this);
    hint_->setFixedWidth(hintWidth);
    layout->addWidget(hint_);
    adjustSize();
}

void MiniWindowHintPopup::showUnder(const QRect& icon, const QRect& available)
{
    const MiniWindowPlacement placement = placeMiniWindow(QRectF(icon), QSizeF(size()), QRectF(available),
                                                          background_->arrowSize(), background_->cornerRadius());
    const int arrow = static_cast<int>(background_->arrowSize().height());
    layout()->setContentsMargins(0, placement.arrowEdge == ArrowEdge::top ? arrow : 0, 0,
                                 placement.arrowEdge == ArrowEdge::bottom ? arrow : 0);
    background_->setArrow(placement.arrowEdge, placement.arrowTip);
    move(placement.topLeft.toPoint());
    show();
}

void MiniWindowHintPopup::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    background_->setGeometry(rect());
    background_->lower();
    // Cut to the shape: transparent corners are black where nothing composites the screen.
    setMask(QRegion(background_->outline().toFillPolygon().toPolygon()));
}

} // namespace app

// The adaptive space's width: (toolbar width − next item's width) / 2 − the space's place − the gap,
// so that the next item starts where it stands centred. The view recomputes it on its window's
// resizing (at once) and after the toolbar's layout passes (once the pass has placed every item).
#include "ui/adaptive_space_item.h"

#include <QEvent>
#include <QToolBar>

#include <algorithm>

namespace ui {

AdaptiveSpaceItemView::AdaptiveSpaceItemView(AdaptiveSpaceItem* item) : adaptiveSpaceItem_(item)
{
    setGeometry(0, 0, 1, 1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setFocusPolicy(Qt::NoFocus);
    // It draws nothing and takes no clicks: a click on it belongs to the toolbar.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

AdaptiveSpaceItemView::~AdaptiveSpaceItemView()
{
    if (observedWindow_)
        observedWindow_->removeEventFilter(this);
    if (observedToolbar_)
        observedToolbar_->removeEventFilter(this);
}

QSize AdaptiveSpaceItemView::sizeHint() const
{
    // The width the item last stored and applied, so the hint does not move between layout passes.
    const qreal height = adaptiveSpaceItem_ ? adaptiveSpaceItem_->minSize().height() : 0.0;
    return {minimumWidth(), qRound(height)};
}

bool AdaptiveSpaceItemView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::ParentChange) {
        observeSurroundings();
        scheduleUpdate();
    } else if (event->type() == QEvent::Show) {
        // The toolbar itself may have moved into another window since the view came into it.
        observeSurroundings();
    }
    return handled;
}

void AdaptiveSpaceItemView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    scheduleUpdate(); // the toolbar gave the space another place
}

bool AdaptiveSpaceItemView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == observedWindow_ && event->type() == QEvent::Resize)
        windowResized();
    if (watched == observedToolbar_ && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
        scheduleUpdate();
    return false;
}

void AdaptiveSpaceItemView::observeSurroundings()
{
    QWidget* toolbar = parentWidget();
    QWidget* window = toolbar ? this->window() : nullptr;
    // One filter per watched object: a window that is also the toolbar is watched once, and a filter
    // is removed only from an object that neither role watches any more.
    auto release = [this, window, toolbar](QWidget* old) {
        if (old && old != window && old != toolbar)
            old->removeEventFilter(this);
    };
    QWidget* oldWindow = observedWindow_;
    QWidget* oldToolbar = observedToolbar_;
    observedWindow_ = window;
    observedToolbar_ = toolbar;
    release(oldWindow);
    release(oldToolbar);
    for (QWidget* watched : {window, toolbar})
        if (watched && watched != oldWindow && watched != oldToolbar)
            watched->installEventFilter(this);
}

void AdaptiveSpaceItemView::windowResized()
{
    if (adaptiveSpaceItem_)
        adaptiveSpaceItem_->updateWidth();
}

void AdaptiveSpaceItemView::scheduleUpdate()
{
    if (updateScheduled_)
        return;
    updateScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            updateScheduled_ = false;
            windowResized();
        },
        Qt::QueuedConnection);
}

AdaptiveSpaceItem::AdaptiveSpaceItem(QObject* parent) : QWidgetAction(parent), view_(new AdaptiveSpaceItemView(this))
{
    setObjectName(QString::fromLatin1(itemIdentifier));
    view_->setObjectName(QString::fromLatin1(itemIdentifier));
    setDefaultWidget(view_); // the action owns its view from here
}

QString AdaptiveSpaceItem::paletteLabel() const
{
    return QStringLiteral("Adaptive Space Item");
}

void AdaptiveSpaceItem::setMinSize(QSizeF size)
{
    storedMinSize_ = size;
    applyToView();
}

void AdaptiveSpaceItem::setMaxSize(QSizeF size)
{
    storedMaxSize_ = size;
    applyToView();
}

void AdaptiveSpaceItem::updateWidth()
{
    storedMinSize_ = computedSize();
    storedMaxSize_ = QSizeF(computedSize().width(), storedMaxSize_.height());
    applyToView();
}

QToolBar* AdaptiveSpaceItem::toolbar() const
{
    return view_ ? qobject_cast<QToolBar*>(view_->parentWidget()) : nullptr;
}

QSizeF AdaptiveSpaceItem::computedSize() const
{
    QToolBar* bar = toolbar();
    if (!bar)
        return storedMinSize_; // no view, no place in a toolbar
    const QList<QAction*> items = bar->actions();
    const qsizetype position = items.indexOf(this);
    if (position < 0)
        return storedMinSize_;
    const qreal x = view_->geometry().x();
    if (x <= 0)
        return storedMinSize_;
    const QSizeF nothing(0.0, storedMinSize_.height());
    if (position == items.size() - 1)
        return nothing;
    QWidget* next = bar->widgetForAction(items[position + 1]);
    if (!next || !next->parentWidget())
        return nothing;
    const qreal nextWidth = next->geometry().width();
    const qreal rowWidth = next->parentWidget()->geometry().width();
    return {std::max(0.0, (rowWidth - nextWidth) * 0.5 - x - itemSpacing), storedMinSize_.height()};
}

void AdaptiveSpaceItem::applyToView()
{
    if (!view_)
        return;
    const int minimum = qRound(storedMinSize_.width());
    const int maximum = std::max(minimum, qRound(maxSize().width()));
    if (view_->minimumWidth() == minimum && view_->maximumWidth() == maximum)
        return;
    view_->setMinimumWidth(minimum);
    view_->setMaximumWidth(maximum);
    view_->updateGeometry();
}

} // namespace ui

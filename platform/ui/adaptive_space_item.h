// A toolbar item without content whose width keeps the item after it centred in the toolbar at any
// window width. Its view follows its window's resizing and the toolbar's layout and recomputes the
// item's width each time.
#pragma once

#include <QPointer>
#include <QSizeF>
#include <QWidget>
#include <QWidgetAction>

class QToolBar;

namespace ui {

class AdaptiveSpaceItem;

// The item's empty view in the toolbar. It keeps one subscription to resize notices, for the window
// it is in now, and ends it when it moves to another window or is destroyed.
class AdaptiveSpaceItemView : public QWidget {
    Q_OBJECT
public:
    explicit AdaptiveSpaceItemView(AdaptiveSpaceItem* item);
    ~AdaptiveSpaceItemView() override;

    AdaptiveSpaceItem* adaptiveSpaceItem() const { return adaptiveSpaceItem_; }
    QWidget* observedWindow() const { return observedWindow_; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // Moves the subscriptions to the current window and toolbar.
    void observeSurroundings();
    void windowResized();
    // After the toolbar's layout pass has placed every item, once however many notices came.
    void scheduleUpdate();

    QPointer<AdaptiveSpaceItem> adaptiveSpaceItem_;
    QPointer<QWidget> observedWindow_;
    QPointer<QWidget> observedToolbar_;
    bool updateScheduled_ = false;
};

class AdaptiveSpaceItem : public QWidgetAction {
    Q_OBJECT
public:
    explicit AdaptiveSpaceItem(QObject* parent = nullptr);

    static constexpr const char* itemIdentifier = "adaptiveSpaceItem";

    // Fixed texts: setting either changes nothing.
    QString label() const { return QString(); }
    void setLabel(const QString&) {}
    QString paletteLabel() const;
    void setPaletteLabel(const QString&) {}

    // The computed size; the stored minimum where there is nothing to centre.
    QSizeF minSize() const { return computedSize(); }
    // The computed width with the stored maximum height.
    QSizeF maxSize() const { return {computedSize().width(), storedMaxSize_.height()}; }
    void setMinSize(QSizeF size);
    void setMaxSize(QSizeF size);

    // Stores the computed sizes and gives the view that width, so the toolbar lays out with it.
    void updateWidth();

    AdaptiveSpaceItemView* view() const { return view_; }
    // The toolbar the view stands in, if any.
    QToolBar* toolbar() const;

    // The gap the toolbar leaves between two items.
    static constexpr qreal itemSpacing = 6.0;

private:
    QSizeF computedSize() const;
    void applyToView();

    QPointer<AdaptiveSpaceItemView> view_;
    QSizeF storedMinSize_{1.0, 1.0};
    QSizeF storedMaxSize_{1.0, 1.0};
};

} // namespace ui

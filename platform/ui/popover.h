// A popover: a frameless popup window placed against an anchor rectangle on a preferred side, moved to
// the opposite side when the screen has no room there. A click outside it or Escape closes it; every
// close is reported once through didClose.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace ui {

// The side of the anchor the popover appears on.
enum class PopoverEdge { below, above, left, right };

// Where a popover of `size` goes next to `anchor` (global coordinates) on a screen whose usable area is
// `screen`: on `preferred` when it fits there, else on the opposite side when that fits, else on
// `preferred`; then moved along the anchor's side so it stays on the screen. `shownEdge` receives the
// side taken.
QRect popoverGeometry(const QRect& anchor, const QSize& size, const QRect& screen, PopoverEdge preferred,
                      PopoverEdge* shownEdge = nullptr);

class Popover : public QObject {
    Q_OBJECT

public:
    explicit Popover(QObject* parent = nullptr);
    ~Popover() override;

    // The widget shown inside. Borrowed: while shown it lives in the popup window, and when the popover
    // closes it is handed back hidden and without parent, so it can be shown again in a new popup.
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }

    // Opens a new popup window next to `anchorRect` (in `anchorView`'s coordinates). The popup follows
    // the content's size hint while shown. Does nothing while already shown.
    void showRelativeTo(const QRect& anchorRect, QWidget& anchorView, PopoverEdge preferredEdge);
    void close();

    bool isShown() const { return popup_ != nullptr; }
    // The popup window while shown, else null.
    QWidget* popupWindow() const;
    PopoverEdge shownEdge() const { return shownEdge_; }

signals:
    void didClose();

private:
    void popupHidden();

    QPointer<QWidget> content_;
    QPointer<QWidget> popup_;
    PopoverEdge shownEdge_ = PopoverEdge::below;
};

} // namespace ui

// The one-time hint under the tray icon at first launch: a short text and a close button in a popup
// drawn with the mini window's arrow. A click elsewhere closes it, as does its button.
#pragma once

#include "app/mini_window_placement.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace app {

class MiniWindowBackgroundView;

class MiniWindowHintViewController : public QWidget {
    Q_OBJECT
public:
    explicit MiniWindowHintViewController(QWidget* parent = nullptr);

    static QString hintText();

    std::function<void()> closeCallback;
    // The close button's action: calls closeCallback when it is set.
    void close();

    QPushButton* closeButton() const { return closeButton_; }

private:
    QPushButton* closeButton_ = nullptr;
};

// The popup that carries the hint.
class MiniWindowHintPopup : public QWidget {
    Q_OBJECT
public:
    MiniWindowHintPopup();

    MiniWindowHintViewController* hintController() const { return hint_; }
    // Places the popup under (or above) `icon` on the screen area `available` and shows it.
    void showUnder(const QRect& icon, const QRect& available);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    MiniWindowBackgroundView* background_ = nullptr;
    MiniWindowHintViewController* hint_ = nullptr;
};

} // namespace app

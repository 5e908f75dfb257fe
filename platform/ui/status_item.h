// The application's icon in the desktop's tray: shown, hidden and clicked, where it sits on the screen
// and a message from it. Controllers hold this interface so that tests can put a fake in place of the
// real tray.
#pragma once

#include <QRect>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace ui {

class StatusItem {
public:
    virtual ~StatusItem() = default;

    virtual void show() = 0;
    virtual void hide() = 0;
    // Whether the item is in the tray (a hidden or never placed item is not).
    virtual bool isShown() const = 0;
    // The icon's rectangle in global coordinates; nothing while it is not in a tray, and on trays that
    // never tell where their icons are (StatusNotifier hosts).
    virtual std::optional<QRect> iconGeometry() const = 0;
    // A message shown by the tray next to the icon; nothing happens where no tray shows one.
    virtual void showMessage(const QString& title, const QString& text) = 0;

    void setClickHandler(std::function<void()> handler) { clickHandler_ = std::move(handler); }

    // A double click starts with a single click the tray reports on its own: a double click within
    // this time after that click is its second half and toggles nothing again.
    static constexpr std::chrono::milliseconds doubleClickWindow{600};

protected:
    // What the tray reported: a click, or the second press of a double click.
    enum class Activation { trigger, doubleClick };
    void activated(Activation activation, std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now())
    {
        if (activation == Activation::doubleClick && lastTrigger_ && at - *lastTrigger_ <= doubleClickWindow) {
            lastTrigger_.reset();
            return;
        }
        lastTrigger_ = activation == Activation::trigger ? std::optional(at) : std::nullopt;
        if (clickHandler_)
            clickHandler_();
    }

private:
    std::function<void()> clickHandler_;
    std::optional<std::chrono::steady_clock::time_point> lastTrigger_;
};

} // namespace ui

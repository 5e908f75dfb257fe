// The application's icon in the desktop's tray: shown, hidden and clicked. Controllers hold this
// interface so that tests can put a fake in place of the real tray.
#pragma once

#include <functional>

namespace ui {

class StatusItem {
public:
    virtual ~StatusItem() = default;

    virtual void show() = 0;
    virtual void hide() = 0;
    // Whether the item is in the tray (a hidden or never placed item is not).
    virtual bool isShown() const = 0;

    void setClickHandler(std::function<void()> handler) { clickHandler_ = std::move(handler); }

protected:
    void clicked()
    {
        if (clickHandler_)
            clickHandler_();
    }

private:
    std::function<void()> clickHandler_;
};

} // namespace ui

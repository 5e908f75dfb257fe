// The mini window: a frameless panel above normal windows that hangs from the tray icon, drawn by its
// background view (a rounded body with an arrow), its content inset from the arrow's side. Its
// controller is made on first use and kept; closing only hides the panel, and the panel closes itself,
// recording nothing, as soon as it stops being the active window.
#pragma once

#include "app/mini_window_placement.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

namespace data {
class ObjectContext;
}

namespace app {

class MiniWindowBackgroundView;
class MiniWindowViewController;

class MiniWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 300;

    MiniWindow();

    bool canBecomeKeyWindow() const { return true; }
    MiniWindowBackgroundView* backgroundView() const { return backgroundView_; }
    void setContentView(QWidget* content);
    QWidget* contentView() const { return content_; }
    // Puts the arrow on `edge` at `tip` from the left edge and insets the content from it.
    void setArrow(ArrowEdge edge, qreal tip);
    // Whether the panel cuts itself to its shape (where nothing composites transparent windows).
    bool clipsToShape() const { return clipsToShape_; }

signals:
    // The panel was shown and is no longer the active window.
    void didResignKey();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateMask();

    MiniWindowBackgroundView* backgroundView_ = nullptr;
    QWidget* content_ = nullptr;
    bool clipsToShape_ = false;
};

class MiniWindowController : public QObject {
    Q_OBJECT
public:
    using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

    explicit MiniWindowController(
        data::ObjectContext* context, MonotonicClock now = [] { return std::chrono::steady_clock::now(); },
        QObject* parent = nullptr);
    ~MiniWindowController() override;

    MiniWindow* window() const { return window_.get(); }
    MiniWindowViewController* viewController() const { return viewController_; }

    // Closes the panel when it stops being the active window; remembers when.
    void windowDidResignKey();
    // Whether the panel closed itself within `within` before now: a tray host that takes the focus
    // on the press closes it just before the click reaches the toggle.
    bool closedByResignKeyWithin(std::chrono::milliseconds within) const;
    void forgetResignKeyClose() { lastResignKeyClose_.reset(); }

    static constexpr std::chrono::milliseconds toggleAfterCloseWindow{300};

private:
    data::ObjectContext* context_;
    MonotonicClock now_;
    std::unique_ptr<MiniWindow> window_;
    MiniWindowViewController* viewController_ = nullptr;
    std::optional<std::chrono::steady_clock::time_point> lastResignKeyClose_;
};

} // namespace app

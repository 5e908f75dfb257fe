// The status item as a QSystemTrayIcon. One icon object lives as long as the item, so showing it
// again never places a second icon. Without a tray the item says so once; it is shown all the same,
// so a tray started later gets it.
#pragma once

#include "ui/status_item.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <memory>

class QSystemTrayIcon;

namespace ui {

class TrayStatusItem final : public StatusItem {
public:
    TrayStatusItem(const QIcon& icon, const QString& toolTip);
    ~TrayStatusItem() override;

    void show() override;
    void hide() override;
    bool isShown() const override;
    std::optional<QRect> iconGeometry() const override;
    void showMessage(const QString& title, const QString& text) override;

private:
    void sampleGeometry();

    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    // An XEmbed tray takes the icon in a moment after it is shown; until then Qt reports the icon's
    // window where it was made. The rectangle counts once it has moved from there, or has stayed
    // there for a second (a tray in the top-left corner).
    QTimer settleTimer_;
    QElapsedTimer sinceShown_;
    QRect geometryWhenShown_;
    bool placed_ = false;
};

} // namespace ui

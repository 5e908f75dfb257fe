// The status item as a QSystemTrayIcon. One icon object lives as long as the item, so showing it
// again never places a second icon. Without a tray the item says so once and stays hidden.
#pragma once

#include "ui/status_item.h"

#include <QIcon>

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

private:
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
};

} // namespace ui

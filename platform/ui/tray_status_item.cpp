// The status item as a QSystemTrayIcon; a desktop without a tray is reported once per process.
#include "ui/tray_status_item.h"

#include <QSystemTrayIcon>

#include <cstdio>

namespace ui {

TrayStatusItem::TrayStatusItem(const QIcon& icon, const QString& toolTip)
    : trayIcon_(std::make_unique<QSystemTrayIcon>(icon))
{
    trayIcon_->setToolTip(toolTip);
    QObject::connect(trayIcon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            clicked();
    });
}

TrayStatusItem::~TrayStatusItem() = default;

void TrayStatusItem::show()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        static bool reported = false;
        if (!reported) {
            reported = true;
            std::fputs("horavine: this desktop has no system tray, so the menu icon is not shown; "
                       "everything stays reachable from the windows\n",
                       stderr);
        }
        return;
    }
    trayIcon_->show();
}

void TrayStatusItem::hide()
{
    trayIcon_->hide();
}

bool TrayStatusItem::isShown() const
{
    return trayIcon_->isVisible();
}

} // namespace ui

// The status item as a QSystemTrayIcon; a desktop without a tray is reported once per process.
#include "ui/tray_status_item.h"

#include <QSystemTrayIcon>

#include <cstdio>

namespace ui {

TrayStatusItem::TrayStatusItem(const QIcon& icon, const QString& toolTip)
    : trayIcon_(std::make_unique<QSystemTrayIcon>(icon))
{
    trayIcon_->setToolTip(toolTip);
    // An XEmbed tray reports the first press of a double click as a click of its own, then the
    // double click; the base class makes the pair one click.
    QObject::connect(trayIcon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            activated(Activation::trigger);
        else if (reason == QSystemTrayIcon::DoubleClick)
            activated(Activation::doubleClick);
    });
    settleTimer_.setInterval(100);
    QObject::connect(&settleTimer_, &QTimer::timeout, [this] { sampleGeometry(); });
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
    }
    // Shown even without a tray: Qt places the icon once a tray appears, which it could not do for
    // an icon that was never shown.
    if (!trayIcon_->isVisible()) {
        trayIcon_->show();
        placed_ = false;
        geometryWhenShown_ = trayIcon_->geometry();
        sinceShown_.start();
        settleTimer_.start();
    }
}

void TrayStatusItem::sampleGeometry()
{
    if (!trayIcon_->isVisible()) {
        settleTimer_.stop();
        return;
    }
    const QRect geometry = trayIcon_->geometry();
    if (geometry.isEmpty()) {
        // Not placed yet, or a tray that never says where its icons are; given up after a while.
        if (sinceShown_.elapsed() > 10'000)
            settleTimer_.stop();
        return;
    }
    if (geometry != geometryWhenShown_ || sinceShown_.elapsed() >= 1000) {
        placed_ = true;
        settleTimer_.stop();
    }
}

void TrayStatusItem::hide()
{
    trayIcon_->hide();
    settleTimer_.stop();
    placed_ = false;
}

bool TrayStatusItem::isShown() const
{
    return trayIcon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

std::optional<QRect> TrayStatusItem::iconGeometry() const
{
    if (!isShown() || !placed_)
        return std::nullopt;
    const QRect geometry = trayIcon_->geometry();
    if (geometry.isEmpty())
        return std::nullopt;
    return geometry;
}

void TrayStatusItem::showMessage(const QString& title, const QString& text)
{
    if (isShown())
        trayIcon_->showMessage(title, text, QSystemTrayIcon::Information);
}

} // namespace ui

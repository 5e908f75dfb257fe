// The application menu's items and the delegate actions behind them.
#include "app/application_menu.h"

#include "app/app_delegate.h"
#include "app/updater.h"

#include <QApplication>
#include <QMenu>

namespace app {

ApplicationMenu makeApplicationMenu(AppDelegate& delegate, QWidget* parent)
{
    auto* application = new QMenu(QStringLiteral("&Horavine"), parent);
    application->addAction(QObject::tr("About Horavine"), &delegate, &AppDelegate::about);
    QAction* checkForUpdates =
        application->addAction(QObject::tr("Check for Updates…"), &delegate, &AppDelegate::checkForUpdates);
    // Without an updater the item would do nothing, so it is offered only with one.
    checkForUpdates->setEnabled(delegate.updater() && delegate.updater()->validateMenuItem());
    application->addSeparator();
    application->addAction(QObject::tr("Mini Window"), &delegate,
                           [&delegate] { delegate.openMiniWindow(AppDelegate::MiniWindowToggle::menu); });
    application->addSeparator();
    application->addAction(QObject::tr("Preferences…"), QKeySequence::Preferences, &delegate,
                           &AppDelegate::openPreferencesWindow);
    application->addSeparator();
    application->addAction(QObject::tr("Send Support Mail…"), &delegate, &AppDelegate::sendSupportEmail);
    application->addAction(QObject::tr("Visit Website"), &delegate, &AppDelegate::openWebsite);
    application->addAction(QObject::tr("Rate Horavine"), &delegate, &AppDelegate::rateOnAppStore);
    QMenu* debug = application->addMenu(QObject::tr("Debug"));
    debug->addAction(QObject::tr("Crash"), &delegate, &AppDelegate::debugCrash);
    application->addSeparator();
    application->addAction(QObject::tr("Quit Horavine"), QKeySequence::Quit, &delegate, &AppDelegate::terminate);
    return {application, debug->menuAction()};
}

} // namespace app

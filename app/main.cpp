// Starts Horavine: one instance per store, the store and the defaults before any window, then the
// delegate's launch sequence; quitting (also by SIGTERM, SIGINT or SIGHUP) saves the store, or
// keeps what cannot be saved in a recovery file.
#include "app/app_delegate.h"
#include "app/application_menu.h"
#include "app/event_loop_hook.h"
#include "app/inspector_panes.h"
#include "app/launch_report.h"
#include "app/platform_choice.h"
#include "app/settings_warning.h"
#include "app/single_instance.h"
#include "app/store_save_monitor.h"
#include "app/unix_signal_quitter.h"
#include "app/updater.h"
#include "foundation/defaults_store.h"
#include "foundation/locale.h"
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/alerts.h"
#include "ui/tray_status_item.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QIcon>
#include <QSessionManager>

#include <csignal>

int main(int argc, char** argv)
{
    const std::filesystem::path storePath = model::PersistenceController::defaultStorePath();
    const QString instanceName = app::SingleInstance::serverName(storePath);
    // Before anything is opened or written: a running instance of this store takes over.
    if (app::SingleInstance::handToRunningInstance(instanceName))
        return 0;

    app::choosePlatform(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Horavine"));
    QApplication::setDesktopFileName(QStringLiteral("horavine"));
    QApplication::setQuitOnLastWindowClosed(false);
    app::LaunchReport launchReport;

    app::SingleInstance instance;
    if (!instance.listen(instanceName) && app::SingleInstance::handToRunningInstance(instanceName))
        return 0; // another launch of the same store won the race
    app::UnixSignalQuitter signalQuitter({SIGTERM, SIGINT, SIGHUP});

    model::PersistenceController persistenceController(storePath);
    if (!persistenceController.storeIsOpen()) {
        ui::runWarningAlert(nullptr, QObject::tr("Horavine cannot open its projects"),
                            QString::fromStdString(persistenceController.statusMessage()));
        return 1;
    }

    // The one defaults store of the program, shared with everything that reads a setting.
    model::Preferences& settings = model::Preferences::standard();
    const foundation::Status currencyWrite = settings.registerDefaults();
    // Both problems are already on stderr; the user hears of them once the main window is up.
    app::SettingsWarning settingsWarning(settings.loadProblem(), currencyWrite, settings.store().file());
    foundation::DefaultsStore& defaults = settings.store();
    app::Updater updater(defaults);

    app::EventLoopHook eventLoopHook(persistenceController.managedObjectContext(),
                                     *QAbstractEventDispatcher::instance());
    app::EditPreserver editPreserver;
    editPreserver.install(persistenceController);

    app::AppDelegate delegate({
        .persistenceController = persistenceController,
        .settings = settings,
        .updater = &updater,
        .makeStatusItem =
            [] {
                return std::make_unique<ui::TrayStatusItem>(QIcon(QStringLiteral(":/statusbar_icon.svg")),
                                                            QStringLiteral("Horavine"));
            },
    });
    // Nobody to ask at a signal or at the end of the desktop session: what cannot be saved goes to
    // a recovery file, and the exit status says so.
    signalQuitter.setQuitStatus([&delegate] { return delegate.terminateWithoutAsking(); });
    int sessionEndStatus = 0;
    QObject::connect(
        &application, &QGuiApplication::commitDataRequest, &delegate,
        [&delegate, &sessionEndStatus](QSessionManager&) { sessionEndStatus = delegate.terminateWithoutAsking(); });
    QObject::connect(&instance, &app::SingleInstance::reopenRequested, &delegate, [&delegate, &launchReport] {
        delegate.applicationShouldHandleReopen();
        launchReport.reportReopen();
    });

    mainwindow::MainWindowController mainWindow(&persistenceController.managedObjectContext(), defaults);
    mainWindow.splitViewController()->setClientsViewController(
        new mainwindow::ClientsViewController(&persistenceController.managedObjectContext(), &defaults));
    mainWindow.splitViewController()->setInspectorPaneFactory(
        app::inspectorPaneFactory(persistenceController.managedObjectContext()));
    const app::ApplicationMenu applicationMenu = app::makeApplicationMenu(delegate, &mainWindow);
    mainWindow.setApplicationMenu(applicationMenu.menu);
    delegate.setMainWindow(&mainWindow);
    delegate.setDebugMenuItem(applicationMenu.debugMenuItem);
    launchReport.watchMainWindow(mainWindow);
    mainWindow.show();
    delegate.applicationDidFinishLaunching();
    settingsWarning.showAfterLaunch(&mainWindow, ui::runWarningAlert);
    app::StoreSaveMonitor saveMonitor(persistenceController, &mainWindow,
                                      [&mainWindow](const QString& mark) { mainWindow.setSaveStatusMark(mark); });
    saveMonitor.start();
    const int status = application.exec();
    return status != 0 ? status : sessionEndStatus;
}

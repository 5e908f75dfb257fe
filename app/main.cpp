// Starts Horavine: one instance per store; the store opens before any window and loads on a thread
// of its own while the main window is built and shown (offering nothing until the load is in), then
// the delegate's launch sequence; quitting (also by SIGTERM, SIGINT or SIGHUP) saves the store, or
// keeps what cannot be saved in a recovery file.
#include "app/app_delegate.h"
#include "app/application_menu.h"
#include "app/event_loop_hook.h"
#include "app/inspector_panes.h"
#include "app/launch_report.h"
#include "app/platform_choice.h"
#include "app/settings_warning.h"
#include "app/single_instance.h"
#include "app/store_loader.h"
#include "app/store_save_monitor.h"
#include "app/thread_budget.h"
#include "app/unix_signal_quitter.h"
#include "app/updater.h"
#include "foundation/defaults_store.h"
#include "foundation/diagnostics.h"
#include "foundation/locale.h"
#include "mainwindow/clients_view_controller.h"
#include "mainwindow/main_split_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/alerts.h"
#include "ui/tray_status_item.h"
#include "ui/widget_extensions.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QIcon>
#include <QSessionManager>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv)
{
    app::limitThreadCosts();
    const std::filesystem::path storePath = model::PersistenceController::defaultStorePath();
    const QString instanceName = app::SingleInstance::serverName(storePath);
    // Before anything is opened or written: a running instance of this store takes over.
    if (app::SingleInstance::handToRunningInstance(instanceName))
        return 0;

    app::choosePlatform(argc, argv);
    QApplication application(argc, argv);
    if (!app::startQtThreads()) {
        foundation::diagnostic("Horavine cannot start: the system does not let it start the threads it needs "
                               "(is the address-space limit, ulimit -v, too low?)");
        // Not a return: Qt's thread pool would wait for ever, at exit, for a thread that never started.
        std::_Exit(1);
    }
    QApplication::setApplicationName(QStringLiteral("Horavine"));
    QApplication::setDesktopFileName(QStringLiteral("horavine"));
    QApplication::setQuitOnLastWindowClosed(false);
    app::LaunchReport launchReport;

    app::SingleInstance instance;
    if (!instance.listen(instanceName) && app::SingleInstance::handToRunningInstance(instanceName))
        return 0; // another launch of the same store won the race
    app::UnixSignalQuitter signalQuitter({SIGTERM, SIGINT, SIGHUP});

    // The store opens and loads on a thread of its own while the window is built and shown. Only
    // whether it opened is awaited here: a store that is locked, newer or unreadable is told before
    // any window, and the failed start writes nothing, not even the defaults.
    app::StoreLoader storeLoader(storePath, foundation::NotificationCenter::defaultCenter());
    // Tells why a store that failed to open or load is not there.
    const auto tellStoreFailed = [](model::PersistenceController::LoadedStore loaded) {
        const model::PersistenceController failed(std::move(loaded));
        ui::runWarningAlert(nullptr, QObject::tr("Horavine cannot open its projects"),
                            QString::fromStdString(failed.statusMessage()));
    };
    if (!storeLoader.waitUntilOpened()) {
        tellStoreFailed(storeLoader.take());
        return 1;
    }

    // The one defaults store of the program, shared with everything that reads a setting.
    model::Preferences& settings = model::Preferences::standard();
    const foundation::Status currencyWrite = settings.registerDefaults();
    // Both problems are already on stderr; the user hears of them once the main window is up.
    app::SettingsWarning settingsWarning(settings.loadProblem(), currencyWrite, settings.store().file());
    foundation::DefaultsStore& defaults = settings.store();
    app::Updater updater(defaults);

    // Everything that works on the store, made once it has loaded; the window goes first at the end.
    struct Running {
        explicit Running(model::PersistenceController::LoadedStore loaded) : persistenceController(std::move(loaded)) {}
        model::PersistenceController persistenceController;
        std::unique_ptr<app::EventLoopHook> eventLoopHook;
        app::EditPreserver editPreserver;
        std::unique_ptr<app::AppDelegate> delegate;
        app::ApplicationMenu applicationMenu;
        std::unique_ptr<app::StoreSaveMonitor> saveMonitor;
    };
    std::unique_ptr<Running> running;
    int sessionEndStatus = 0;
    bool quitting = false; // a quitting signal came before the store: nothing more is started
    QObject::connect(&signalQuitter, &app::UnixSignalQuitter::signalReceived, [&quitting] { quitting = true; });

    // Greyed out, and keeping no frame, until the store is in.
    mainwindow::MainWindowController mainWindow(nullptr, defaults);
    mainWindow.waitForStore(QString::fromStdString(storePath.filename().string()));
    launchReport.watchMainWindow(mainWindow);

    // The hand-over: the loaded context becomes the main thread's, and everything that reads it is
    // made. False when the load failed; the user has been told as for a store that cannot be opened.
    const auto takeLoadedStore = [&]() -> bool {
        model::PersistenceController::LoadedStore loaded = storeLoader.take();
        if (loaded.status != model::PersistenceController::Status::ok) {
            mainWindow.hide();
            tellStoreFailed(std::move(loaded));
            return false;
        }
        running = std::make_unique<Running>(std::move(loaded));
        model::PersistenceController& persistenceController = running->persistenceController;
        data::ObjectContext& context = persistenceController.managedObjectContext();
        running->eventLoopHook = std::make_unique<app::EventLoopHook>(context, *QAbstractEventDispatcher::instance());
        running->editPreserver.install(persistenceController);
        running->delegate = std::make_unique<app::AppDelegate>(app::AppDelegate::Services{
            .persistenceController = persistenceController,
            .settings = settings,
            .updater = &updater,
            .makeStatusItem =
                [] {
                    return std::make_unique<ui::TrayStatusItem>(QIcon(QStringLiteral(":/statusbar_icon.svg")),
                                                                QStringLiteral("Horavine"));
                },
        });
        app::AppDelegate& delegate = *running->delegate;
        // Nobody to ask at a signal or at the end of the desktop session: what cannot be saved goes
        // to a recovery file, and the exit status says so.
        signalQuitter.setQuitStatus([&delegate] { return delegate.terminateWithoutAsking(); });
        QObject::connect(
            &application, &QGuiApplication::commitDataRequest, &delegate,
            [&delegate, &sessionEndStatus](QSessionManager&) { sessionEndStatus = delegate.terminateWithoutAsking(); });

        mainWindow.attachContext(context);
        launchReport.watchStoreInWindow(*mainWindow.splitViewController());
        mainWindow.splitViewController()->setClientsViewController(
            new mainwindow::ClientsViewController(&context, &defaults));
        mainWindow.splitViewController()->setInspectorPaneFactory(app::inspectorPaneFactory(context));
        running->applicationMenu = app::makeApplicationMenu(delegate, &mainWindow);
        mainWindow.setApplicationMenu(running->applicationMenu.menu);
        delegate.setMainWindow(&mainWindow);
        delegate.setDebugMenuItem(running->applicationMenu.debugMenuItem);
        return true;
    };
    const auto finishLaunching = [&] {
        app::AppDelegate& delegate = *running->delegate;
        delegate.applicationDidFinishLaunching();
        settingsWarning.showAfterLaunch(&mainWindow, ui::runWarningAlert);
        running->saveMonitor = std::make_unique<app::StoreSaveMonitor>(
            running->persistenceController, &mainWindow,
            [&mainWindow](const QString& mark) { mainWindow.setSaveStatusMark(mark); });
        // Quit chosen over a damaged store: as from the menu (what cannot be saved is asked about).
        running->saveMonitor->setQuit([&delegate] { delegate.terminate(); });
        running->saveMonitor->start();
        // Closed while the store loaded: as if closed now (quits unless the tray icon is up).
        if (!mainWindow.isVisible())
            delegate.mainWindowDidClose();
    };

    QObject::connect(&instance, &app::SingleInstance::reopenRequested, &mainWindow, [&] {
        if (running)
            running->delegate->applicationShouldHandleReopen();
        else
            ui::bringToFront(mainWindow);
        launchReport.reportReopen();
    });

    if (storeLoader.isLoaded()) {
        // A small store is in before the window is ready: it shows filled, as without the thread.
        if (!takeLoadedStore())
            return 1;
        mainWindow.show();
        finishLaunching();
    } else {
        QObject::connect(&storeLoader, &app::StoreLoader::loaded, &mainWindow, [&] {
            if (quitting)
                return; // the loader's thread is waited for on the way out; nothing was changed
            if (!takeLoadedStore()) {
                QCoreApplication::exit(1);
                return;
            }
            finishLaunching();
        });
        mainWindow.show();
    }
    const int status = application.exec();
    return status != 0 ? status : sessionEndStatus;
}

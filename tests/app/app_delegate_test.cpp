// The launch sequence, the tray item's life, the menu actions' links and events, and the event-loop
// hook that processes and saves each turn's changes.
#include "app_shell_fixture.h"
#include "support/scoped_environment.h"

#include "app/event_loop_hook.h"
#include "app/preferences_window.h"
#include "foundation/activity_register.h"
#include "foundation/application_notifications.h"
#include "foundation/locale.h"
#include "model/project.h"
#include "ui/modal_test_hook.h"
#include "ui/tray_status_item.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <sqlite3.h>

#include <atomic>
#include <thread>

namespace {

class RefusingWindow : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

int countRows(const std::filesystem::path& store, const std::string& table)
{
    sqlite3* db = nullptr;
    int count = -1;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return count;
}

TEST_F(AppShellTest, LaunchShowsTheTrayItemWithoutMarkingTheHintShown)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    auto delegate = makeDelegate();
    QAction debugItem(QStringLiteral("Debug"));
    delegate->setDebugMenuItem(&debugItem);
    delegate->applicationDidFinishLaunching();

    ASSERT_EQ(statusItems.size(), 1u);
    EXPECT_TRUE(statusItems[0]->shown);
    EXPECT_EQ(delegate->statusItem(), statusItems[0]);
    EXPECT_FALSE(debugItem.isVisible());
    EXPECT_TRUE(delegate->refreshTimer().isActive());
    EXPECT_EQ(delegate->refreshTimer().interval(), 10'000);
    EXPECT_FALSE(delegate->refreshTimer().isSingleShot());
    // No hint was shown, so nothing says it was.
    EXPECT_FALSE(defaults.object("didShowMiniWindowHint").has_value());
}

TEST_F(AppShellTest, WithoutMenuIconThereIsNoTrayItemUntilItIsTurnedOn)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    settings.setShowsMenuIcon(false);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(statusItems.empty());
    EXPECT_EQ(delegate->statusItem(), nullptr);

    delegate->openPreferencesWindow();
    app::PreferencesWindow* preferences = delegate->preferencesWindow();
    ASSERT_NE(preferences, nullptr);
    preferences->menuIconCheckbox()->setChecked(true);
    ASSERT_EQ(statusItems.size(), 1u);
    EXPECT_TRUE(statusItems[0]->shown);
    EXPECT_TRUE(settings.showsMenuIcon());

    preferences->menuIconCheckbox()->setChecked(false);
    EXPECT_FALSE(statusItems[0]->shown);
    EXPECT_EQ(delegate->statusItem(), nullptr);
    EXPECT_FALSE(settings.showsMenuIcon());

    // Turning it on again shows the same item: never two icons.
    preferences->menuIconCheckbox()->setChecked(true);
    EXPECT_EQ(statusItems.size(), 1u);
    EXPECT_TRUE(statusItems[0]->shown);
}

TEST_F(AppShellTest, ReopenShowsTheMainWindowWithoutEvents)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen()); // no main window yet: still true

    QWidget mainWindow;
    delegate->setMainWindow(&mainWindow);
    delegate->showMainWindow(true);
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_TRUE(mainWindow.isVisible());
    mainWindow.close();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_TRUE(usageEvents().empty());
}

TEST_F(AppShellTest, ClosingTheMainWindowWithoutATrayIconEndsTheEventLoopWithTheStoreSaved)
{
    settings.setShowsMenuIcon(false);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(delegate->statusItem(), nullptr);
    QWidget mainWindow;
    delegate->setMainWindow(&mainWindow);
    mainWindow.show();
    ASSERT_TRUE(persistence.storeIsOpen());
    persistence.managedObjectContext().insert<model::Project>()->setName("Garden");

    bool timedOut = false;
    QObject guard; // ends the timer with the test
    QTimer::singleShot(0, &mainWindow, &QWidget::close);
    QTimer::singleShot(5000, &guard, [&] {
        timedOut = true;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();

    EXPECT_FALSE(timedOut) << "the event loop kept running";
    EXPECT_EQ(countRows(persistence.storePath(), "Project"), 1);
}

TEST_F(AppShellTest, ClosingTheMainWindowWithATrayIconKeepsTheProgramRunning)
{
    settings.setShowsMenuIcon(true);
    auto delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    ASSERT_NE(delegate->statusItem(), nullptr);
    QWidget mainWindow;
    delegate->setMainWindow(&mainWindow);
    mainWindow.show();

    bool stillRunning = false;
    QObject guard;
    QTimer::singleShot(0, &mainWindow, &QWidget::close);
    QTimer::singleShot(300, &guard, [&] {
        stillRunning = true;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(stillRunning);
    EXPECT_FALSE(mainWindow.isVisible());

    // A window that refuses to close quits nothing, tray or not.
    delegate->removeStatusBarItem();
    RefusingWindow refusing;
    delegate->setMainWindow(&refusing);
    refusing.show();
    stillRunning = false;
    QTimer::singleShot(0, &refusing, &QWidget::close);
    QTimer::singleShot(300, &guard, [&] {
        stillRunning = true;
        EXPECT_TRUE(refusing.isVisible());
        refusing.hide(); // a quit first closes every window, and this one would refuse
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(stillRunning);
}

// Only under with_tray.sh: the real tray icon on an X display with a tray host.
TEST_F(AppShellTest, RealTrayClosingTheMainWindowKeepsTheProgramRunning)
{
    if (!std::getenv("HORAVINE_TEST_TRAY"))
        GTEST_SKIP() << "needs an X display with a tray host (with_tray.sh)";
    QElapsedTimer waited;
    waited.start();
    while (!QSystemTrayIcon::isSystemTrayAvailable() && waited.elapsed() < 10'000)
        QTest::qWait(100);
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "no tray host appeared";

    settings.setShowsMenuIcon(true);
    app::AppDelegate delegate({
        .persistenceController = persistence,
        .settings = settings,
        .makeStatusItem =
            [] {
                return std::make_unique<ui::TrayStatusItem>(QIcon(QStringLiteral(":/statusbar_icon.svg")),
                                                            QStringLiteral("Horavine"));
            },
        .openLink = app::openWithDesktop,
    });
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.statusItem(), nullptr);
    QWidget mainWindow;
    delegate.setMainWindow(&mainWindow);
    mainWindow.show();

    bool stillRunning = false;
    QObject guard;
    QTimer::singleShot(0, &mainWindow, &QWidget::close);
    QTimer::singleShot(500, &guard, [&] {
        stillRunning = true;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(stillRunning);
}

TEST_F(AppShellTest, MenuActionsOpenTheConfiguredLinksAndRecordTheirEvents)
{
    auto delegate = makeDelegate();
    delegate->sendSupportEmail();
    delegate->openWebsite();
    delegate->rateOnAppStore();
    ASSERT_EQ(openedLinks.size(), 3u);
    EXPECT_EQ(openedLinks[0].toString(), "mailto:support@horavine.org");
    EXPECT_EQ(openedLinks[1].toString(), "https://horavine.org/");
    EXPECT_EQ(openedLinks[2].scheme(), "appstream");
    EXPECT_EQ(usageEvents(), (std::vector<std::string>{"Open Support Mail", "Open Website", "Rate App"}));
}

TEST_F(AppShellTest, ALinkNothingCanOpenIsExplainedInAWarningWithTheAddressToCopy)
{
    ui::ModalTestHook hook;
    auto delegate = makeDelegate();
    QWidget mainWindow;
    delegate->setMainWindow(&mainWindow);
    mainWindow.show();

    delegate->openWebsite(); // opens: no warning
    QCoreApplication::processEvents();
    EXPECT_TRUE(hook.alerts.empty());

    linksOpen = false;
    QGuiApplication::clipboard()->clear();
    delegate->openWebsite();
    QCoreApplication::processEvents();
    ASSERT_EQ(hook.alerts.size(), 1u);
    const ui::PresentedAlert& website = hook.alerts[0];
    EXPECT_EQ(website.window, &mainWindow);
    EXPECT_TRUE(website.windowModal);
    EXPECT_EQ(website.alert.alertStyle, ui::AlertStyle::warning);
    EXPECT_TRUE(website.alert.informativeText.contains("https://horavine.org/"));
    EXPECT_EQ(website.alert.buttons.value(0), "Copy Address");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://horavine.org/");

    // The mail warning names the address itself, not the link; "OK" copies nothing.
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    QGuiApplication::clipboard()->clear();
    delegate->sendSupportEmail();
    QCoreApplication::processEvents();
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_TRUE(hook.alerts[1].alert.informativeText.contains("support@horavine.org"));
    EXPECT_FALSE(hook.alerts[1].alert.informativeText.contains("mailto:"));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());

    // Without a window on screen the warning stands alone.
    mainWindow.hide();
    delegate->rateOnAppStore();
    QCoreApplication::processEvents();
    ASSERT_EQ(hook.alerts.size(), 3u);
    EXPECT_FALSE(hook.alerts[2].windowModal);
    EXPECT_TRUE(hook.alerts[2].alert.informativeText.contains("appstream:"));
    EXPECT_EQ(openedLinks.size(), 4u);
}

TEST_F(AppShellTest, WindowsAreMadeOnceAndKept)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    auto delegate = makeDelegate();
    delegate->about();
    auto* about = delegate->aboutWindow();
    delegate->about();
    EXPECT_EQ(delegate->aboutWindow(), about);

    delegate->openPreferencesWindow();
    auto* preferences = delegate->preferencesWindow();
    delegate->openPreferencesWindow();
    EXPECT_EQ(delegate->preferencesWindow(), preferences);
    EXPECT_EQ(usageEvents(), (std::vector<std::string>{"content_view About Window", "Open Preferences Window",
                                                       "Open Preferences Window"}));
}

TEST_F(AppShellTest, RefreshTickPostsItsNoticeWithoutSender)
{
    auto delegate = makeDelegate();
    int notices = 0;
    const void* sender = &notices;
    foundation::ObserverToken token = foundation::NotificationCenter::defaultCenter().addObserver(
        app::AppDelegate::refreshTimerFiredNotification, nullptr, [&](const foundation::Notification& notification) {
            ++notices;
            sender = notification.object;
        });
    delegate->applicationDidFinishLaunching();
    QMetaObject::invokeMethod(const_cast<QTimer*>(&delegate->refreshTimer()), "timeout", Qt::DirectConnection);
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(sender, nullptr);
}

TEST_F(AppShellTest, StateChangesAcrossActivePostTheApplicationNotifications)
{
    auto delegate = makeDelegate();
    std::vector<std::string> posted;
    auto& center = foundation::NotificationCenter::defaultCenter();
    const auto record = [&](const foundation::Notification& notification) { posted.push_back(notification.name); };
    foundation::ObserverToken active =
        center.addObserver(foundation::ApplicationDidBecomeActiveNotification, nullptr, record);
    foundation::ObserverToken resign =
        center.addObserver(foundation::ApplicationWillResignActiveNotification, nullptr, record);
    foundation::ObserverToken willBecome =
        center.addObserver(foundation::ApplicationWillBecomeActiveNotification, nullptr, record);
    foundation::ObserverToken didResign =
        center.addObserver(foundation::ApplicationDidResignActiveNotification, nullptr, record);
    delegate->applicationStateChanged(Qt::ApplicationInactive); // not active to begin with: nothing
    delegate->applicationStateChanged(Qt::ApplicationActive);
    delegate->applicationStateChanged(Qt::ApplicationInactive);
    delegate->applicationStateChanged(Qt::ApplicationHidden); // still not active: told once
    delegate->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(posted, (std::vector<std::string>{
                          "NSApplicationWillBecomeActiveNotification", "NSApplicationDidBecomeActiveNotification",
                          "NSApplicationWillResignActiveNotification", "NSApplicationDidResignActiveNotification",
                          "NSApplicationWillBecomeActiveNotification", "NSApplicationDidBecomeActiveNotification"}));
}

TEST_F(AppShellTest, QuittingPostsTheTerminationNoticeAndWaitsForKitActivities)
{
    auto delegate = makeDelegate();
    int notices = 0;
    foundation::ObserverToken token = foundation::NotificationCenter::defaultCenter().addObserver(
        foundation::ApplicationWillTerminateNotification, nullptr, [&](const foundation::Notification&) { ++notices; });
    auto activity = foundation::ActivityRegister::begin("io.quenrow.RecordEvent");
    std::atomic<bool> workDone = false;
    std::thread kitWork([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        workDone = true;
        activity.end();
    });
    delegate->applicationWillTerminate();
    EXPECT_EQ(notices, 1);
    EXPECT_TRUE(workDone.load()); // the quit waited for the activity to end
    EXPECT_EQ(foundation::ActivityRegister::activeCount(), 0u);
    kitWork.join();
}

TEST_F(AppShellTest, EventLoopHookAnnouncesAndSavesATurnsChangesOnce)
{
    ASSERT_TRUE(persistence.storeIsOpen());
    data::ObjectContext& context = persistence.managedObjectContext();
    app::EventLoopHook hook(context, *QAbstractEventDispatcher::instance());
    int notices = 0;
    foundation::ObserverToken token = foundation::NotificationCenter::defaultCenter().addObserver(
        data::ObjectsDidChangeNotification, &context, [&](const foundation::Notification&) { ++notices; });

    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        context.insert<model::Project>()->setName("Garden");
        context.insert<model::Project>()->setName("Kitchen");
    });
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();

    EXPECT_EQ(notices, 1);
    EXPECT_FALSE(context.hasPendingChanges());
    EXPECT_FALSE(context.hasUnsavedChanges());
    EXPECT_TRUE(context.undoManager().canUndo());
    EXPECT_EQ(persistence.status(), model::PersistenceController::Status::ok);
}

} // namespace

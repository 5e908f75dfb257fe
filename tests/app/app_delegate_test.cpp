// The launch sequence, the tray item's life, the menu actions' links and events, and the event-loop
// hook that processes and saves each turn's changes.
#include "app_shell_fixture.h"
#include "support/scoped_environment.h"

#include "app/event_loop_hook.h"
#include "app/preferences_window.h"
#include "foundation/locale.h"
#include "model/project.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

namespace {

using app::UsageEvent;

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

TEST_F(AppShellTest, TrayClickAndReopenShowTheMainWindowWithoutEvents)
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
    ASSERT_EQ(statusItems.size(), 1u);
    statusItems[0]->click();
    EXPECT_TRUE(mainWindow.isVisible());
    mainWindow.close();
    EXPECT_TRUE(delegate->applicationShouldHandleReopen());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_TRUE(events.empty());
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
    EXPECT_EQ(events,
              (std::vector<UsageEvent>{UsageEvent::openSupportMail, UsageEvent::openWebsite, UsageEvent::rateApp}));
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
    EXPECT_EQ(events, (std::vector<UsageEvent>{UsageEvent::viewAboutWindow, UsageEvent::openPreferencesWindow,
                                               UsageEvent::openPreferencesWindow}));
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

// The shell's usage events as the analytics kit receives them, and the application menu's items:
// which action records what, the debug item it hands back, check for updates only with an updater.
#include "app_shell_fixture.h"

#include "app/application_menu.h"
#include "app/usage_events.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace {

class RecordedTally {
public:
    RecordedTally() { kits::Tally::setEventControllerForTesting(recorder); }
    ~RecordedTally() { kits::Tally::setEventControllerForTesting(nullptr); }
    RecordedTally(const RecordedTally&) = delete;
    RecordedTally& operator=(const RecordedTally&) = delete;

    std::shared_ptr<kits::TLYRecordingEventController> recorder = std::make_shared<kits::TLYRecordingEventController>();
};

QAction* actionTitled(const QMenu& menu, const QString& title)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

TEST(UsageEventsTest, EachShellEventReachesTheKitUnderItsOwnName)
{
    RecordedTally tally;
    const std::pair<app::UsageEvent, const char*> customEvents[] = {
        {app::UsageEvent::openSupportMail, "Open Support Mail"},
        {app::UsageEvent::openWebsite, "Open Website"},
        {app::UsageEvent::rateApp, "Rate App"},
        {app::UsageEvent::openPreferencesWindow, "Open Preferences Window"},
    };
    for (const auto& [event, name] : customEvents)
        app::recordWithTally(event);
    app::recordWithTally(app::UsageEvent::viewAboutWindow);

    const auto events = tally.recorder->events();
    ASSERT_EQ(events.size(), std::size(customEvents) + 1);
    for (std::size_t index = 0; index < std::size(customEvents); ++index)
        EXPECT_EQ(events[index], kits::TLYEvent(kits::TLYCustomEvent{customEvents[index].second, {}})) << index;
    const kits::TLYPredefinedEvent aboutWindow{"content_view", {}, {{"content_name", std::string("About Window")}}};
    EXPECT_EQ(events.back(), kits::TLYEvent(aboutWindow));
}

TEST_F(AppShellTest, ApplicationMenuHandsBackTheDebugItemAndOffersUpdatesOnlyWithAnUpdater)
{
    QWidget parent;
    auto delegate = makeDelegate();
    const app::ApplicationMenu menu = app::makeApplicationMenu(*delegate, &parent);
    ASSERT_NE(menu.menu, nullptr);
    EXPECT_EQ(menu.menu->parent(), &parent);
    ASSERT_NE(menu.debugMenuItem, nullptr);
    ASSERT_NE(menu.debugMenuItem->menu(), nullptr);
    EXPECT_EQ(menu.debugMenuItem->menu()->actions().size(), 1);
    EXPECT_TRUE(menu.menu->actions().contains(menu.debugMenuItem));
    QAction* updates = actionTitled(*menu.menu, QObject::tr("Check for Updates…"));
    ASSERT_NE(updates, nullptr);
    EXPECT_TRUE(updates->isEnabled());

    // The items call the delegate, which records their events.
    actionTitled(*menu.menu, QObject::tr("Preferences…"))->trigger();
    actionTitled(*menu.menu, QObject::tr("About Horavine"))->trigger();
    EXPECT_EQ(events, (std::vector{app::UsageEvent::openPreferencesWindow, app::UsageEvent::viewAboutWindow}));

    app::AppDelegate withoutUpdater({.persistenceController = persistence,
                                     .settings = settings,
                                     .updater = nullptr,
                                     .makeStatusItem = {},
                                     .recordUsage = {}});
    const app::ApplicationMenu plain = app::makeApplicationMenu(withoutUpdater, &parent);
    QAction* noUpdates = actionTitled(*plain.menu, QObject::tr("Check for Updates…"));
    ASSERT_NE(noUpdates, nullptr);
    EXPECT_FALSE(noUpdates->isEnabled());
}

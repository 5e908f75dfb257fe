// The application menu's items: which action records what, the debug item it hands back, and
// "Check for Updates" only with an updater.
#include "app_shell_fixture.h"

#include "app/application_menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace {

QAction* actionTitled(const QMenu& menu, const QString& title)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

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
    EXPECT_EQ(usageEvents(), (std::vector<std::string>{"Open Preferences Window", "content_view About Window"}));

    app::AppDelegate withoutUpdater(
        {.persistenceController = persistence, .settings = settings, .updater = nullptr, .makeStatusItem = {}});
    const app::ApplicationMenu plain = app::makeApplicationMenu(withoutUpdater, &parent);
    QAction* noUpdates = actionTitled(*plain.menu, QObject::tr("Check for Updates…"));
    ASSERT_NE(noUpdates, nullptr);
    EXPECT_FALSE(noUpdates->isEnabled());
}

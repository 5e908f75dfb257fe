// A temporary store and defaults file, a fake tray item, and an AppDelegate wired to them.
#pragma once

#include "app/app_delegate.h"
#include "app/updater.h"
#include "foundation/defaults_store.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/status_item.h"

#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

class FakeStatusItem final : public ui::StatusItem {
public:
    void show() override { shown = true; }
    void hide() override { shown = false; }
    bool isShown() const override { return shown; }
    void click() { clicked(); }
    bool shown = false;
};

class AppShellTest : public ::testing::Test {
protected:
    AppShellTest()
        : persistence(std::filesystem::path(directory.path().toStdString()) / "Projects.horavine"),
          defaults(std::filesystem::path(directory.path().toStdString()) / "defaults.json"), settings(defaults),
          updater(defaults)
    {}

    std::unique_ptr<app::AppDelegate> makeDelegate()
    {
        return std::make_unique<app::AppDelegate>(app::AppDelegate::Services{
            .persistenceController = persistence,
            .settings = settings,
            .updater = &updater,
            .makeStatusItem =
                [this] {
                    auto item = std::make_unique<FakeStatusItem>();
                    statusItems.push_back(item.get());
                    return item;
                },
            .recordUsage = [this](app::UsageEvent event) { events.push_back(event); },
            .openLink =
                [this](const QUrl& link) {
                    openedLinks.push_back(link);
                    return linksOpen;
                },
        });
    }

    QTemporaryDir directory;
    model::PersistenceController persistence;
    foundation::DefaultsStore defaults;
    model::Preferences settings;
    app::Updater updater;
    std::vector<FakeStatusItem*> statusItems;
    std::vector<app::UsageEvent> events;
    std::vector<QUrl> openedLinks;
    bool linksOpen = true; // false: the desktop has nothing that opens them
};

// A temporary store and defaults file, a fake tray item, and an AppDelegate wired to them.
#pragma once

#include "app/app_delegate.h"
#include "app/updater.h"
#include "foundation/defaults_store.h"
#include "kits/analytics/event_controller.h"
#include "kits/analytics/tally.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "ui/status_item.h"

#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class FakeStatusItem final : public ui::StatusItem {
public:
    void show() override { shown = true; }
    void hide() override { shown = false; }
    bool isShown() const override { return shown; }
    std::optional<QRect> iconGeometry() const override { return shown ? geometry : std::nullopt; }
    void showMessage(const QString& title, const QString& text) override { messages.push_back({title, text}); }
    // What a tray reports for one click, and for a double click (its first press comes as a click).
    void click() { activated(Activation::trigger); }
    void doubleClick()
    {
        activated(Activation::trigger);
        activated(Activation::doubleClick);
    }
    bool shown = false;
    std::optional<QRect> geometry;
    std::vector<std::pair<QString, QString>> messages;
};

class AppShellTest : public ::testing::Test {
protected:
    AppShellTest()
        : persistence(std::filesystem::path(directory.path().toStdString()) / "Projects.horavine"),
          defaults(std::filesystem::path(directory.path().toStdString()) / "defaults.json"), settings(defaults),
          updater(defaults)
    {
        kits::Tally::setEventControllerForTesting(tally);
    }
    ~AppShellTest() override { kits::Tally::setEventControllerForTesting(nullptr); }

    // The usage events the analytics kit received: a custom event by its name, a predefined one by
    // its type and content name ("content_view About Window").
    std::vector<std::string> usageEvents() const
    {
        std::vector<std::string> names;
        for (const auto& event : tally->events()) {
            if (const auto* custom = dynamic_cast<const kits::TLYCustomEvent*>(event.get())) {
                names.push_back(custom->customEventName().value_or(""));
                continue;
            }
            const auto* predefined = dynamic_cast<const kits::TLYPredefinedEvent*>(event.get());
            if (!predefined) {
                names.push_back(event->name());
                continue;
            }
            const auto* content = predefined->predefinedAttributes().find("content_name");
            const auto* name = content ? std::get_if<std::string>(content) : nullptr;
            names.push_back(predefined->predefinedEventName() + " " + (name ? *name : std::string("?")));
        }
        return names;
    }

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
    std::shared_ptr<kits::TLYRecordingEventController> tally = std::make_shared<kits::TLYRecordingEventController>();
    std::vector<QUrl> openedLinks;
    bool linksOpen = true; // false: the desktop has nothing that opens them
};

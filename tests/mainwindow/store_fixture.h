// A small store for the main-window tests: a context without a file, defaults in a temporary folder,
// the clock pinned to Wednesday 6 March 2024, 10:17 UTC, and helpers that add projects and timers.
#pragma once

#include "model/client.h"
#include "model/data_model.h"
#include "model/managed_object.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "foundation/clock.h"
#include "foundation/defaults_store.h"
#include "foundation/notification_center.h"
#include "support/dates.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>

namespace testsupport {

inline foundation::Date march(unsigned day, int hour, int minute = 0)
{
    return utc(2024, 3, day, hour, minute);
}

class StoreFixture : public ::testing::Test {
protected:
    StoreFixture() { context_->processPendingChanges(); }

    std::filesystem::path defaultsPath() const
    {
        return std::filesystem::path(folder_.path().toStdString()) / "defaults.json";
    }

    model::Project* project(const std::string& name, bool archived = false, model::Client* client = nullptr)
    {
        auto* project = model::initInContext<model::Project>(*context_);
        project->setName(name);
        project->setArchived(archived);
        project->setClient(client);
        return project;
    }
    model::Client* client(const std::string& name)
    {
        auto* client = model::initInContext<model::Client>(*context_);
        client->setName(name);
        return client;
    }
    // A stopped period timer of `minutes` from `start`.
    model::Timer* periodTimer(model::Project* project, foundation::Date start, int minutes, std::string notes = "")
    {
        auto* timer = model::initInContext<model::Timer>(*context_);
        timer->setProject(project);
        timer->setType(0);
        timer->setStart(start);
        timer->setEnd(start + std::chrono::minutes(minutes));
        timer->setNotes(notes);
        return timer;
    }
    model::Timer* runningTimer(model::Project* project, foundation::Date start, std::string notes = "")
    {
        model::Timer* timer = periodTimer(project, start, 0, std::move(notes));
        timer->setEnd(std::nullopt);
        return timer;
    }
    model::Timer* pausedTimer(model::Project* project, foundation::Date start, foundation::Date pausedAt)
    {
        model::Timer* timer = runningTimer(project, start);
        auto* pause = model::initInContext<model::PauseEntry>(*context_);
        pause->setTimer(timer);
        pause->setStart(pausedAt);
        return timer;
    }
    model::Timer* fixedTimer(model::Project* project, foundation::Date start, int minutes, std::string notes = "")
    {
        model::Timer* timer = periodTimer(project, start, 0, std::move(notes));
        timer->setType(1);
        timer->setFixedDuration(minutes);
        return timer;
    }
    model::Timer* expenseTimer(model::Project* project, foundation::Date start, std::optional<std::string> cost,
                               std::string notes = "")
    {
        model::Timer* timer = periodTimer(project, start, 0, std::move(notes));
        timer->setType(2);
        if (cost)
            timer->setFixedCost(foundation::Decimal::parse(*cost));
        return timer;
    }

    std::shared_ptr<foundation::FixedClock> clock_ = std::make_shared<foundation::FixedClock>(march(6, 10, 17));
    foundation::ScopedClock scopedClock_{clock_};
    QTemporaryDir folder_;
    foundation::NotificationCenter center_;
    std::unique_ptr<data::ObjectContext> context_ =
        std::make_unique<data::ObjectContext>(model::managedObjectModel(), center_);
    std::unique_ptr<foundation::DefaultsStore> defaults_ =
        std::make_unique<foundation::DefaultsStore>(defaultsPath(), center_);
};

} // namespace testsupport

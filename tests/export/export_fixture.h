// The store the export documents are checked against: client "ACME" in "$" with the project
// "Website" (own rate, a period timer, an expense and a billed period timer with a pause), "Café ☕"
// in "€" with a fixed-duration timer, and "Empty". The clock stands at 2024-01-10 12:00 UTC.
#pragma once

#include "export/export_format.h"

#include "model/client.h"
#include "model/data_model.h"
#include "model/filter.h"
#include "model/managed_object.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"

#include "data/object_context.h"
#include "foundation/clock.h"
#include "foundation/notification_center.h"
#include "support/dates.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

inline foundation::Date january(unsigned day, int hour, int minute = 0)
{
    return utc(2024, 1, day, hour, minute);
}

// The filter the projects view builds: timers by start ascending, billed ones included.
inline model::Filter allTimers()
{
    model::Filter filter;
    filter.sortDescriptors = std::vector<data::SortDescriptor>{{"start", true}};
    filter.includeBilledTimers = true;
    return filter;
}

inline const exports::ExportFields& defaultFields()
{
    static const exports::ExportFields fields = {
        exports::ExportField::projectDuration,   exports::ExportField::projectClientName,
        exports::ExportField::projectHourlyRate, exports::ExportField::projectNotes,
        exports::ExportField::timerStartEnd,     exports::ExportField::timerDuration,
        exports::ExportField::timerCost,         exports::ExportField::timerNotes,
    };
    return fields;
}

inline exports::ExportFields allFields()
{
    return exports::ExportFields(exports::allExportFields().begin(), exports::allExportFields().end());
}

class ExportFixture : public ::testing::Test {
protected:
    ExportFixture() { context_->processPendingChanges(); }

    model::Timer* timer(model::Project* project, model::TimerType type, foundation::Date start, std::string notes)
    {
        auto* timer = model::initInContext<model::Timer>(*context_);
        timer->setProject(project);
        timer->setType(model::rawValue(type));
        timer->setStart(start);
        timer->setEnd(start);
        timer->setNotes(std::move(notes));
        return timer;
    }
    model::Timer* periodTimer(model::Project* project, foundation::Date start, foundation::Date end, std::string notes)
    {
        model::Timer* period = timer(project, model::TimerType::period, start, std::move(notes));
        period->setEnd(end);
        return period;
    }
    model::PauseEntry* pause(model::Timer* timer, foundation::Date start, foundation::Date end)
    {
        auto* entry = model::initInContext<model::PauseEntry>(*context_);
        entry->setTimer(timer);
        entry->setStart(start);
        entry->setEnd(end);
        return entry;
    }
    model::Project* project(std::string name)
    {
        auto* project = model::initInContext<model::Project>(*context_);
        project->setName(std::move(name));
        return project;
    }

    // The store the golden files were made from.
    std::vector<model::Project*> buildGoldenStore()
    {
        auto* acme = model::initInContext<model::Client>(*context_);
        acme->setName("ACME");
        acme->setCurrency("$");
        acme->setHourlyRate(std::nullopt);

        website_ = project("Website");
        website_->setClient(acme);
        website_->setCustomHourlyRate(foundation::Decimal(100));
        website_->setNotes("Redesign");
        kickoff_ = periodTimer(website_, january(5, 9, 30), january(5, 10, 45), "Kickoff");
        expense_ = timer(website_, model::TimerType::expense, january(6, 14), "");
        expense_->setFixedCost(foundation::Decimal(40));
        review_ = periodTimer(website_, january(8, 13), january(8, 15), "Review; round 2 \"final\"");
        pause(review_, january(8, 13, 30), january(8, 13, 45));
        review_->setBilled(true);

        cafe_ = project("Cafe\u0301 \u2615");
        cafe_->setCustomCurrency("\u20AC");
        fixed_ = timer(cafe_, model::TimerType::duration, january(7, 9), "<b>bold</b> & %cost_sum%");
        fixed_->setFixedDuration(90);

        empty_ = project("Empty");
        empty_->setNotes("");
        return {website_, cafe_, empty_};
    }

    // Compares `actual` with the reviewed file byte for byte. With HORAVINE_UPDATE_GOLDEN set the
    // file is written instead (review the difference before committing it).
    static void expectGolden(const std::string& name, const std::string& actual)
    {
        const std::filesystem::path path = std::filesystem::path(HORAVINE_EXPORT_GOLDEN_DIR) / name;
        if (std::getenv("HORAVINE_UPDATE_GOLDEN")) {
            std::ofstream(path, std::ios::binary) << actual;
            return;
        }
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file) << "no golden file " << path;
        std::ostringstream expected;
        expected << file.rdbuf();
        EXPECT_EQ(actual, expected.str()) << "differs from " << path;
    }
    static std::string goldenPath(const std::string& name)
    {
        return (std::filesystem::path(HORAVINE_EXPORT_GOLDEN_DIR) / name).string();
    }

    std::shared_ptr<foundation::FixedClock> clock_ = std::make_shared<foundation::FixedClock>(january(10, 12));
    foundation::ScopedClock scopedClock_{clock_};
    foundation::NotificationCenter center_;
    std::unique_ptr<data::ObjectContext> context_ =
        std::make_unique<data::ObjectContext>(model::managedObjectModel(), center_);

    model::Project* website_ = nullptr;
    model::Project* cafe_ = nullptr;
    model::Project* empty_ = nullptr;
    model::Timer* kickoff_ = nullptr;
    model::Timer* expense_ = nullptr;
    model::Timer* review_ = nullptr;
    model::Timer* fixed_ = nullptr;
};

} // namespace testsupport

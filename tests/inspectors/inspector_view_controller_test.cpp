// The pane base: which objects it inspects and which store notices reach its two hooks.
#include "mainwindow/store_fixture.h"

#include "inspectors/inspector_view_controller.h"

#include <gtest/gtest.h>

namespace {

class CountingPane : public inspectors::InspectorViewController {
public:
    using InspectorViewController::InspectorViewController;
    void contentObjectChanged() override { changed.push_back(inspectedObject()); }
    void contentObjectUpdated() override { ++updated; }
    std::vector<data::Object*> changed;
    int updated = 0;
};

class InspectorViewControllerTest : public testsupport::StoreFixture {
protected:
    model::Project* website_ = project("Website");
    model::Timer* first_ = periodTimer(website_, testsupport::march(6, 8), 30);
    model::Timer* second_ = periodTimer(website_, testsupport::march(6, 9), 30);
    CountingPane pane_{context_.get(), {}};
};

TEST_F(InspectorViewControllerTest, EveryNewContentCallsTheHookOnceAndADeletedObjectShowsAsNothing)
{
    context_->processPendingChanges();
    pane_.setInspectedObject(first_);
    pane_.setInspectedObject(second_);
    pane_.setInspectedObject(nullptr);
    EXPECT_EQ(pane_.changed, (std::vector<data::Object*>{first_, second_, nullptr}));

    context_->deleteObject(first_);
    pane_.setInspectedObject(first_);
    EXPECT_EQ(pane_.inspectedObject(), nullptr);
    EXPECT_EQ(pane_.changed.back(), nullptr);
}

TEST_F(InspectorViewControllerTest, OnlyANoticeUpdatingTheInspectedObjectCallsTheUpdateHook)
{
    context_->processPendingChanges();
    pane_.setInspectedObject(first_);

    second_->setNotes("other");
    context_->processPendingChanges();
    EXPECT_EQ(pane_.updated, 0);

    first_->setNotes("mine");
    second_->setNotes("other again");
    context_->processPendingChanges();
    EXPECT_EQ(pane_.updated, 1);

    // Inserting a sibling updates the project, not the timer.
    periodTimer(website_, testsupport::march(6, 11), 10);
    context_->processPendingChanges();
    EXPECT_EQ(pane_.updated, 1);

    // A notice that only deletes the inspected timer does not count as its update.
    context_->deleteObject(first_);
    context_->processPendingChanges();
    EXPECT_EQ(pane_.updated, 1);
}

} // namespace

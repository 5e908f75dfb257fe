// Installs a fresh recording controller as Tally's for one test and removes it afterwards, so every
// test sees only its own events.
#pragma once

#include "kits/analytics/tally.h"

#include <gtest/gtest.h>

class TallyTest : public ::testing::Test {
protected:
    void SetUp() override { kits::Tally::setEventControllerForTesting(recorder); }
    void TearDown() override { kits::Tally::setEventControllerForTesting(nullptr); }

    // The one custom event recorded; fails the test when there is not exactly one.
    kits::TLYCustomEvent onlyCustomEvent() const
    {
        auto events = recorder->events();
        EXPECT_EQ(events.size(), 1u);
        if (events.size() != 1 || !std::holds_alternative<kits::TLYCustomEvent>(events.front()))
            return {"<no single custom event>", {}};
        return std::get<kits::TLYCustomEvent>(events.front());
    }

    std::shared_ptr<kits::TLYRecordingEventController> recorder = std::make_shared<kits::TLYRecordingEventController>();
};

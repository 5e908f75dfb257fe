// The index of running timers: it walks the context at its first read, not when it is made, and
// from then on follows the change notices it is given.
#include "mainwindow/running_timer_index.h"

#include "data/change_set.h"

#include "store_fixture.h"

using mainwindow::RunningTimerIndex;
using testsupport::march;

namespace {

class RunningTimerIndexTest : public testsupport::StoreFixture {};

TEST_F(RunningTimerIndexTest, ScansAtTheFirstReadAndThenFollowsTheNotices)
{
    model::Project* website = project("Website");
    model::Timer* first = runningTimer(website, march(6, 8));
    periodTimer(website, march(6, 7), 30);
    RunningTimerIndex index(context_.get());
    EXPECT_FALSE(index.scanned());

    // Changes before the first read need no notice: the scan sees the context as it is then.
    model::Timer* second = runningTimer(website, march(6, 9));
    index.apply(data::ChangeSet{{second}, {}, {}, {}});
    first->stop();
    EXPECT_EQ(index.runningTimers(), std::vector<model::Timer*>{second});
    EXPECT_TRUE(index.scanned());

    // After the scan, the notices keep it: a timer that starts joins, one that stops leaves.
    model::Timer* third = runningTimer(website, march(6, 10));
    index.apply(data::ChangeSet{{third}, {}, {}, {}});
    EXPECT_EQ(index.size(), 2u);
    second->stop();
    index.apply(data::ChangeSet{{}, {second}, {}, {}});
    EXPECT_EQ(index.runningTimers(), std::vector<model::Timer*>{third});
    // Unannounced changes are not seen until a rebuild, which scans again at the next read.
    model::Timer* unannounced = runningTimer(website, march(6, 10, 5));
    EXPECT_EQ(index.size(), 1u);
    index.rebuild();
    EXPECT_FALSE(index.scanned());
    EXPECT_EQ(index.runningTimers(), (std::vector<model::Timer*>{third, unannounced}));

    RunningTimerIndex withoutContext(nullptr);
    EXPECT_TRUE(withoutContext.runningTimers().empty());
}

} // namespace

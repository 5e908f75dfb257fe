// The pause entries sheet, each case on its own timer from 10:00 to 11:00: the conflict messages,
// the tint of the rows overlapping the selected entry, Add, Delete, undo inside the sheet, and the
// pane opening the sheet for its timer.
#include "inspector_fixture.h"

#include "inspectors/pause_entries_view_controller.h"
#include "inspectors/timer_inspector_view_controller.h"

#include "ui/modal_test_hook.h"
#include "ui/object_controller.h"

#include <QAction>
#include <QApplication>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

using inspectors::PauseEntriesViewController;
using testsupport::march;

namespace {

class PauseEntriesTest : public testsupport::InspectorFixture {
protected:
    model::PauseEntry* pause(int startHour, int startMinute, std::optional<std::pair<int, int>> end)
    {
        auto* entry = model::initInContext<model::PauseEntry>(*context_);
        entry->setTimer(timer_);
        entry->setStart(march(6, startHour, startMinute));
        if (end)
            entry->setEnd(march(6, end->first, end->second));
        return entry;
    }
    // The sheet open on the timer, as the pane opens it.
    void open()
    {
        endTurn();
        sheet_.setTimer(timer_);
        sheet_.show();
    }
    void select(model::PauseEntry* entry)
    {
        sheet_.pauseEntriesTableView()->selectRow(sheet_.tableModel()->row(entry));
    }
    QString message() const
    {
        return sheet_.conflictErrorLabel()->isHidden() ? QString() : sheet_.conflictErrorLabel()->text();
    }

    model::Project* website_ = project("Website");
    model::Timer* timer_ = periodTimer(website_, march(6, 10), 60);
    PauseEntriesViewController sheet_{context_.get()};
};

const QString overlaps = "This pause entry overlaps other pause entries.";
const QString outside = "This pause entry is not within the timer's start and end.";

TEST_F(PauseEntriesTest, TouchingPausesBothOverlap)
{
    model::PauseEntry* first = pause(10, 0, {{10, 10}});
    model::PauseEntry* second = pause(10, 10, {{10, 20}});
    open();
    EXPECT_EQ(sheet_.tableModel()->entries(), (std::vector<model::PauseEntry*>{first, second}));
    EXPECT_EQ(sheet_.tableModel()->data(sheet_.tableModel()->index(0, 1), Qt::DisplayRole), QVariant());
    select(first);
    EXPECT_EQ(message(), overlaps);
    select(second);
    EXPECT_EQ(message(), overlaps);
    EXPECT_TRUE(sheet_.hasConflicts());
}

TEST_F(PauseEntriesTest, APauseStartingBeforeTheTimerIsOutOfRange)
{
    model::PauseEntry* early = pause(9, 59, {{10, 5}});
    open();
    EXPECT_TRUE(sheet_.editBoxContent()->isHidden());
    select(early);
    EXPECT_FALSE(sheet_.editBoxContent()->isHidden());
    EXPECT_EQ(message(), outside);
    EXPECT_TRUE(sheet_.hasConflicts());
    // Its row is flagged too, whichever row is selected: the warning image in place of its length.
    const QModelIndex duration = sheet_.tableModel()->index(0, 1);
    EXPECT_EQ(sheet_.tableModel()->data(duration, Qt::DisplayRole), QVariant());
    EXPECT_TRUE(sheet_.tableModel()->data(duration, Qt::DecorationRole).isValid());
    EXPECT_EQ(sheet_.tableModel()->data(duration, Qt::ToolTipRole).toString(), outside);

    // Moved inside the timer in the edit box, the conflict goes.
    sheet_.startField()->setDateTime(QDateTime(QDate(2024, 3, 6), QTime(10, 1), Qt::UTC));
    Q_EMIT sheet_.startField()->editingFinished();
    EXPECT_EQ(early->start(), march(6, 10, 1));
    EXPECT_EQ(message(), QString());
    EXPECT_FALSE(sheet_.hasConflicts());
    EXPECT_EQ(sheet_.tableModel()->data(duration, Qt::DisplayRole).toString(), QString::fromUtf8("00h\u00A004m"));
}

// Now is 10:17. A running timer ends now: its pauses cannot be moved past it, and one a stored file
// holds past it is flagged in its row and in the edit box.
TEST_F(PauseEntriesTest, APauseOfARunningTimerCannotEndAfterNow)
{
    timer_->setEnd(std::nullopt);
    model::PauseEntry* entry = pause(10, 5, {{10, 10}});
    model::PauseEntry* stored = pause(10, 12, {{10, 40}});
    open();
    std::vector<QString> refusals;
    select(entry);
    sheet_.findChild<ui::ObjectController*>()->setRefusalHandler(
        [&](QWidget&, const QString& text) { refusals.push_back(text); });
    EXPECT_EQ(message(), QString());

    sheet_.endField()->setDateTime(QDateTime(QDate(2024, 3, 6), QTime(10, 30), Qt::UTC));
    Q_EMIT sheet_.endField()->editingFinished();
    EXPECT_EQ(refusals, std::vector<QString>{"A pause of a running timer cannot end after now"});
    EXPECT_EQ(entry->end(), march(6, 10, 10));
    sheet_.endField()->setDateTime(QDateTime(QDate(2024, 3, 6), QTime(10, 11), Qt::UTC));
    Q_EMIT sheet_.endField()->editingFinished();
    EXPECT_EQ(entry->end(), march(6, 10, 11));

    const QModelIndex storedDuration = sheet_.tableModel()->index(sheet_.tableModel()->row(stored), 1);
    EXPECT_EQ(sheet_.tableModel()->data(storedDuration, Qt::ToolTipRole).toString(), outside);
    select(stored);
    EXPECT_EQ(message(), outside);
    EXPECT_TRUE(sheet_.hasConflicts());
}

TEST_F(PauseEntriesTest, SelectingAnInnerPauseTintsTheOuterRowAndNotTheReverse)
{
    model::PauseEntry* outer = pause(10, 20, {{10, 40}});
    model::PauseEntry* inner = pause(10, 25, {{10, 30}});
    open();
    select(inner);
    EXPECT_EQ(message(), overlaps);
    const auto tint = sheet_.rowBackground(sheet_.tableModel()->row(outer));
    ASSERT_TRUE(tint);
    EXPECT_NEAR(tint->redF(), 0.95, 0.01);
    EXPECT_NEAR(tint->greenF(), 0.51, 0.01);
    EXPECT_NEAR(tint->blueF(), 0.51, 0.01);
    EXPECT_FALSE(sheet_.rowBackground(sheet_.tableModel()->row(inner)));

    select(outer);
    EXPECT_EQ(message(), QString());
    EXPECT_FALSE(sheet_.rowBackground(0));
    EXPECT_FALSE(sheet_.rowBackground(1));
    EXPECT_TRUE(sheet_.hasConflicts());
}

TEST_F(PauseEntriesTest, AddWhileAPauseRunsDoesNothing)
{
    pause(10, 30, std::nullopt);
    open();
    sheet_.addPause();
    endTurn();
    EXPECT_EQ(timer_->pauseEntries().size(), 1u);
    EXPECT_EQ(eventNames(), std::vector<std::string>{"view"});
}

TEST_F(PauseEntriesTest, AddGivesASelectedPauseAtTheTimersStart)
{
    open();
    sheet_.addPause();
    endTurn();
    QApplication::processEvents(); // the selection comes on the next turn
    ASSERT_EQ(timer_->pauseEntries().size(), 1u);
    model::PauseEntry* added = timer_->pauseEntries().front();
    EXPECT_EQ(added->start(), march(6, 10));
    EXPECT_EQ(added->end(), march(6, 10));
    EXPECT_EQ(sheet_.selectedPauseEntry(), added);
    EXPECT_EQ(eventNames(), (std::vector<std::string>{"view", "Add Pause"}));
}

TEST_F(PauseEntriesTest, DeleteThenUndoInTheSheetRestoresThePause)
{
    model::PauseEntry* entry = pause(10, 20, {{10, 30}});
    open();
    EXPECT_FALSE(sheet_.deleteAction()->isEnabled());
    select(entry);
    EXPECT_TRUE(sheet_.deleteAction()->isEnabled());
    sheet_.deleteAction()->trigger();
    endTurn();
    EXPECT_TRUE(timer_->pauseEntries().empty());
    EXPECT_EQ(sheet_.tableModel()->rowCount(), 0);
    EXPECT_EQ(eventNames().back(), "Delete Pause");

    sheet_.undoAction()->trigger();
    ASSERT_EQ(timer_->pauseEntries().size(), 1u);
    EXPECT_EQ(timer_->pauseEntries().front()->start(), march(6, 10, 20));
    EXPECT_EQ(sheet_.tableModel()->rowCount(), 1);
    sheet_.redoAction()->trigger();
    EXPECT_TRUE(timer_->pauseEntries().empty());
}

TEST_F(PauseEntriesTest, ThePaneOpensTheSheetForItsTimer)
{
    ui::ModalTestHook hook; // the sheet stays shown for the test
    pause(10, 5, {{10, 15}});
    endTurn();
    inspectors::TimerInspectorViewController pane(context_.get());
    pane.show();
    pane.setInspectedObject(timer_);
    pane.pauseEntriesButton()->click();
    ASSERT_EQ(hook.sheets.size(), 1u);
    PauseEntriesViewController* sheet = pane.pauseEntriesViewController();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->timer(), timer_);
    EXPECT_EQ(sheet->tableModel()->rowCount(), 1);
    sheet->doneButton()->click();
    QApplication::processEvents();
}

} // namespace

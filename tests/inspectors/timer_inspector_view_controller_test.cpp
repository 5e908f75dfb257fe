// The timer pane on real timers: its rows for each type and state, type and rate choices (the same
// choice again changes nothing), the rate's key path and editability, the duration editor beyond a
// day, validated dates, refreshes after changes made elsewhere, the buttons and their events.
#include "inspector_fixture.h"

#include "inspectors/duration_editor.h"
#include "inspectors/timer_inspector_view_controller.h"

#include "model/project.h"
#include "ui/autosizing_text_field.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTextCursor>

using inspectors::TimerInspectorViewController;
using testsupport::march;

namespace {

class TimerInspectorTest : public testsupport::InspectorFixture {
protected:
    TimerInspectorTest() { pane_.show(); }

    // The rows shown, by name, in the pane's order.
    std::vector<std::string> shownRows() const
    {
        const std::pair<const char*, QWidget*> rows[] = {
            {"date", pane_.dateContainerView()},       {"start", pane_.startContainerView()},
            {"end", pane_.endContainerView()},         {"duration", pane_.durationContainerView()},
            {"expense", pane_.expenseContainerView()}, {"separator", pane_.pauseSeparator()},
            {"pauses", pane_.pausesContainerView()},   {"rate", pane_.hourlyRateContainerView()},
            {"billed", pane_.billedContainerView()},
        };
        std::vector<std::string> shown;
        for (const auto& [name, row] : rows)
            if (!row->isHidden())
                shown.push_back(name);
        return shown;
    }
    void inspect(model::Timer* timer)
    {
        endTurn();
        pane_.setInspectedObject(timer);
    }

    model::Client* acme_ = client("Acme");
    model::Project* website_ = project("Website", false, acme_);
    TimerInspectorViewController pane_{context_.get()};
};

TEST_F(TimerInspectorTest, RowsFollowTheTypeAndWhetherAPeriodRuns)
{
    using Rows = std::vector<std::string>;
    model::Timer* running = runningTimer(website_, march(6, 9));
    inspect(running);
    EXPECT_EQ(shownRows(), (Rows{"start", "separator", "pauses", "rate"}));
    EXPECT_FALSE(pane_.stopButton()->isHidden());
    EXPECT_FALSE(pane_.pauseButton()->isHidden());
    EXPECT_TRUE(pane_.resumeButton()->isHidden());

    pane_.stopTimer();
    EXPECT_EQ(shownRows(), (Rows{"start", "end", "separator", "pauses", "rate", "billed"}));
    EXPECT_TRUE(pane_.stopButton()->isHidden());
    EXPECT_FALSE(pane_.resumeButton()->isHidden());
    pane_.resumeTimer();
    EXPECT_EQ(shownRows(), (Rows{"start", "separator", "pauses", "rate"}));
    EXPECT_EQ(eventNames(), (std::vector<std::string>{"Stop Timer", "Resume from stopped"}));

    // The billed row keeps what the last period timer left (hidden here); the rest follows the type.
    inspect(fixedTimer(website_, march(6, 8), 90));
    EXPECT_EQ(shownRows(), (Rows{"date", "duration", "rate"}));
    EXPECT_EQ(pane_.typePopupButton()->currentText(), "Duration");
    inspect(expenseTimer(website_, march(6, 8), "12.50"));
    EXPECT_EQ(shownRows(), (Rows{"date", "expense"}));
    EXPECT_EQ(pane_.expenseTextField()->text(), "12.50");
}

TEST_F(TimerInspectorTest, ATypeChoiceEndsARunningTimerAtItsStartButTheSameChoiceChangesNothing)
{
    model::Timer* running = runningTimer(website_, march(6, 9));
    inspect(running);
    pane_.typeChanged(pane_.typePopupButton()->findText("Period"));
    EXPECT_FALSE(running->end());
    EXPECT_TRUE(eventNames().empty());

    pane_.typeChanged(pane_.typePopupButton()->findText("Duration"));
    EXPECT_EQ(running->type(), 1);
    EXPECT_EQ(running->end(), march(6, 9));
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Timer type changed"});
    EXPECT_EQ(lastAttributes(), (foundation::PropertyListDictionary{{"timer type", std::string("Duration")}}));
}

TEST_F(TimerInspectorTest, RateKindAndItsFieldFollowTheCustomRateTheBilledStateAndTheArchive)
{
    model::Timer* timer = periodTimer(website_, march(6, 8), 60);
    acme_->setHourlyRate(foundation::Decimal(30));
    inspect(timer);
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "30.00");
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());

    pane_.hourlyRateTypeChanged(1);
    EXPECT_EQ(timer->customHourlyRate(), foundation::Decimal(0));
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_EQ(lastAttributes(), (foundation::PropertyListDictionary{{"hourly rate type", std::string("custom")}}));
    pane_.hourlyRateTextField()->setText("45");
    Q_EMIT pane_.hourlyRateTextField()->editingFinished();
    EXPECT_EQ(timer->customHourlyRate(), foundation::Decimal(45));
    pane_.hourlyRateTypeChanged(1); // custom again
    EXPECT_EQ(timer->customHourlyRate(), foundation::Decimal(45));
    EXPECT_EQ(eventNames().size(), 1u);

    pane_.billedCheckbox()->click();
    EXPECT_TRUE(timer->billed()); // stored before the pane reacted
    EXPECT_EQ(timer->billedHourlyRate(), foundation::Decimal(45));
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_EQ(eventNames().back(), "Toggle billed");
    timer->setCustomHourlyRate(foundation::Decimal(60)); // the billed rate stays what was billed
    endTurn();
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "45.00");

    pane_.billedCheckbox()->click();
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "60.00");

    pane_.hourlyRateTypeChanged(0);
    EXPECT_EQ(timer->customHourlyRate(), std::nullopt);
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "30.00");

    website_->setArchived(true);
    timer->setCustomHourlyRate(foundation::Decimal(50));
    inspect(timer);
    EXPECT_EQ(pane_.hourlyRatePopUpButton()->currentIndex(), 1);
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());
}

TEST_F(TimerInspectorTest, RatesChangedElsewhereShowAndTheBilledRateIsNotEditable)
{
    model::Timer* timer = periodTimer(website_, march(6, 8), 60);
    acme_->setHourlyRate(foundation::Decimal(30));
    inspect(timer);
    acme_->setHourlyRate(foundation::Decimal(50)); // the client's rate reaches the timer through its project
    endTurn();
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "50.00");

    timer->setCustomHourlyRate(foundation::Decimal(70));
    endTurn();
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    timer->setBilled(true); // from the outline
    endTurn();
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "70.00");

    // A rate that is no number, or out of bounds, is refused and the stored one shown again.
    std::vector<QString> refusals;
    pane_.objectController().setRefusalHandler([&](QWidget&, const QString& message) { refusals.push_back(message); });
    timer->setBilled(false);
    endTurn();
    for (const char* text : {"lots", "-1", "2000000"}) {
        pane_.hourlyRateTextField()->setText(text);
        Q_EMIT pane_.hourlyRateTextField()->editingFinished();
        EXPECT_EQ(timer->customHourlyRate(), foundation::Decimal(70)) << text;
        EXPECT_EQ(pane_.hourlyRateTextField()->text(), "70.00") << text;
    }
    EXPECT_EQ(refusals.size(), 3u);
}

TEST_F(TimerInspectorTest, DurationsAreHoursAndMinutesBeyondADay)
{
    model::Timer* timer = fixedTimer(website_, march(6, 8), 90);
    inspect(timer);
    inspectors::DurationEditor& editor = *pane_.durationDatePicker();
    EXPECT_EQ(editor.text(), "01:30");

    auto enter = [&](int hours, int minutes) {
        editor.hoursField()->setValue(hours);
        editor.minutesField()->setValue(minutes);
        Q_EMIT editor.editingFinished();
    };
    enter(2, 15);
    EXPECT_EQ(timer->fixedDuration(), 135);
    enter(26, 15);
    EXPECT_EQ(timer->fixedDuration(), 1575);
    endTurn();
    EXPECT_EQ(editor.text(), "26:15");
}

TEST_F(TimerInspectorTest, AnEndBeforeTheStartShowsTheModelsMessageAndKeepsTheStoredEnd)
{
    model::Timer* timer = periodTimer(website_, march(6, 8), 60);
    inspect(timer);
    std::vector<QString> refusals;
    pane_.objectController().setRefusalHandler([&](QWidget&, const QString& message) { refusals.push_back(message); });

    QDateTimeEdit& end = *pane_.endField();
    end.setDateTime(QDateTime(QDate(2024, 3, 6), QTime(7, 30), Qt::UTC));
    Q_EMIT end.editingFinished();
    EXPECT_EQ(refusals, std::vector<QString>{"End date must be later than start date"});
    EXPECT_EQ(timer->end(), march(6, 9));
    EXPECT_EQ(end.dateTime().time(), QTime(9, 0));

    end.setDateTime(QDateTime(QDate(2024, 3, 6), QTime(9, 45), Qt::UTC));
    Q_EMIT end.editingFinished();
    EXPECT_EQ(timer->end(), march(6, 9, 45));

    // Now is 10:17: an end after it is refused too.
    end.setDateTime(QDateTime(QDate(2024, 3, 6), QTime(10, 30), Qt::UTC));
    Q_EMIT end.editingFinished();
    EXPECT_EQ(refusals.back(), "End date must not lie in the future");
    EXPECT_EQ(timer->end(), march(6, 9, 45));

    // The date row moves the start to another day and keeps its time.
    QDateTimeEdit& date = *pane_.dateField();
    timer->setType(1);
    endTurn();
    date.setDate(QDate(2024, 3, 4));
    Q_EMIT date.editingFinished();
    EXPECT_EQ(timer->start(), march(4, 8));
}

TEST_F(TimerInspectorTest, ChangesElsewhereUpdateIdleFieldsButNotTheOneBeingEdited)
{
    model::Timer* timer = periodTimer(website_, march(6, 8), 60, "first notes");
    inspect(timer);
    EXPECT_EQ(pane_.notesField()->toPlainText(), "first notes");
    EXPECT_EQ(pane_.numberOfPauseEntriesLabel()->text(), "0 entries");

    pane_.notesField()->setPlainText("typing");
    timer->setNotes("from elsewhere");
    timer->setStart(march(6, 7));
    auto* pause = model::initInContext<model::PauseEntry>(*context_);
    pause->setTimer(timer);
    endTurn();
    EXPECT_EQ(pane_.notesField()->toPlainText(), "typing");
    EXPECT_EQ(pane_.startField()->dateTime().time(), QTime(7, 0));
    EXPECT_EQ(pane_.numberOfPauseEntriesLabel()->text(), "1 entry");

    // The edit goes to its timer when another one is shown.
    model::Timer* other = periodTimer(website_, march(6, 9), 30, "other");
    inspect(other);
    EXPECT_EQ(timer->notes(), "typing");
    EXPECT_EQ(pane_.notesField()->toPlainText(), "other");
}

// Notes take line breaks; what is typed is stored whenever the user pauses, still in the field, and
// when the focus leaves it for the pane's empty space: the whole edit is one step to undo.
TEST_F(TimerInspectorTest, NotesAreMultiLineStoredAsTypingPausesAndUndoneAsOneEdit)
{
    model::Timer* timer = periodTimer(website_, march(6, 9), 30, "Pots");
    inspect(timer);
    pane_.resize(420, 900);
    pane_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pane_));
    ui::AutosizingTextField& notes = *pane_.notesField();
    notes.setFocus();
    notes.moveCursor(QTextCursor::End);
    const auto steps = context_->undoManager().undoCount();

    QTest::keyClick(&notes, Qt::Key_Return);
    QTest::keyClicks(&notes, "Seeds");
    EXPECT_EQ(timer->notes(), "Pots");
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer->notes() == "Pots\nSeeds"; }, 10000));
    EXPECT_TRUE(notes.hasFocus());
    endTurn();
    QTest::keyClicks(&notes, " and soil");
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer->notes() == "Pots\nSeeds and soil"; }, 10000));
    endTurn();
    QTest::keyClicks(&notes, "!");
    QTest::mouseClick(&pane_, Qt::LeftButton, Qt::NoModifier, QPoint(10, pane_.height() - 10));
    EXPECT_FALSE(notes.hasFocus());
    EXPECT_EQ(timer->notes(), "Pots\nSeeds and soil!");
    endTurn();

    EXPECT_EQ(context_->undoManager().undoCount(), steps + 1);
    context_->undoManager().undo();
    EXPECT_EQ(timer->notes(), "Pots");
    EXPECT_EQ(notes.toPlainText(), "Pots");
}

TEST_F(TimerInspectorTest, ThePauseButtonFollowsPausesMadeHereAndElsewhere)
{
    model::Timer* running = runningTimer(website_, march(6, 9));
    inspect(running);
    EXPECT_EQ(pane_.pauseButtonImageName(), "pause");
    pane_.togglePause();
    EXPECT_TRUE(running->paused());
    EXPECT_EQ(pane_.pauseButtonImageName(), "play");
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Toggle Pause"});

    running->togglePause(); // resumed from the mini window
    endTurn();
    EXPECT_EQ(pane_.pauseButtonImageName(), "pause");
    running->togglePause();
    endTurn();
    EXPECT_EQ(pane_.pauseButtonImageName(), "play");
}

TEST_F(TimerInspectorTest, WithoutATimerActionsDoNothingButBillingStillCounts)
{
    inspect(nullptr);
    pane_.stopTimer();
    pane_.togglePause();
    pane_.resumeTimer();
    pane_.typeChanged(0);
    pane_.hourlyRateTypeChanged(1);
    pane_.showPauseEntries();
    EXPECT_EQ(pane_.pauseEntriesViewController(), nullptr);
    EXPECT_TRUE(eventNames().empty());
    pane_.billedStateChanged();
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Toggle billed"});
}

} // namespace

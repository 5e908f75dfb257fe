// The inspector pane of one timer: its type, date, start and end or duration or expense amount, its
// pauses, hourly rate, billed state and notes, and the buttons that stop, pause and resume it. The
// fields are bound to the timer; the code picks the rows for the timer's type and state, the rate's
// key path and whether it is editable, and carries out the user's choices.
#pragma once

#include "inspectors/inspector_view_controller.h"

#include <QPointer>

#include <cstdint>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace model {
class Timer;
}
namespace ui {
class AutosizingTextField;
}

namespace inspectors {

class DurationEditor;
class PauseEntriesViewController;

class TimerInspectorViewController : public InspectorViewController {
    Q_OBJECT
public:
    explicit TimerInspectorViewController(data::ObjectContext* context, QWidget* parent = nullptr);
    ~TimerInspectorViewController() override;

    // The content when it is a timer.
    model::Timer* timer() const;

    void focusDurationPicker() override;

    // Actions.
    void stopTimer();
    void togglePause();
    void resumeTimer();
    void billedStateChanged();
    void hourlyRateTypeChanged(int index);
    void typeChanged(int index);
    // Opens the pause entries editor for the timer, as a sheet over the pane's window.
    void showPauseEntries();

    // The pane's controls.
    QWidget* stackView() const { return stackView_; }
    QComboBox* typePopupButton() const { return typePopupButton_; }
    QWidget* dateContainerView() const { return dateContainerView_; }
    QWidget* startContainerView() const { return startContainerView_; }
    QWidget* endContainerView() const { return endContainerView_; }
    QWidget* durationContainerView() const { return durationContainerView_; }
    QWidget* pausesContainerView() const { return pausesContainerView_; }
    QWidget* hourlyRateContainerView() const { return hourlyRateContainerView_; }
    QWidget* expenseContainerView() const { return expenseContainerView_; }
    QWidget* billedContainerView() const { return billedContainerView_; }
    QFrame* pauseSeparator() const { return pauseSeparator_; }
    QDateEdit* dateField() const { return dateField_; }
    QDateTimeEdit* startField() const { return startField_; }
    QDateTimeEdit* endField() const { return endField_; }
    DurationEditor* durationDatePicker() const { return durationDatePicker_; }
    QLineEdit* expenseTextField() const { return expenseTextField_; }
    QComboBox* hourlyRatePopUpButton() const { return hourlyRatePopUpButton_; }
    QLineEdit* hourlyRateTextField() const { return hourlyRateTextField_; }
    QCheckBox* billedCheckbox() const { return billedCheckbox_; }
    QLabel* numberOfPauseEntriesLabel() const { return numberOfPauseEntriesLabel_; }
    QPushButton* pauseEntriesButton() const { return pauseEntriesButton_; }
    QPushButton* pauseButton() const { return pauseButton_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* resumeButton() const { return resumeButton_; }
    ui::AutosizingTextField* notesField() const { return notesField_; }
    // "pause" or "play": what the pause button offers.
    QString pauseButtonImageName() const;
    // The open pause entries editor, while one is open.
    PauseEntriesViewController* pauseEntriesViewController() const;

protected:
    void showEvent(QShowEvent* event) override;
    void contentObjectChanged() override;
    void contentObjectUpdated() override;

private:
    void buildRows();
    void updateUI(bool animated);
    void updatePauseButton();
    void updateHourlyRateUI();
    QWidget* row(const QString& title, QWidget* field);

    QWidget* stackView_ = nullptr;
    QComboBox* typePopupButton_ = nullptr;
    QWidget* dateContainerView_ = nullptr;
    QWidget* startContainerView_ = nullptr;
    QWidget* endContainerView_ = nullptr;
    QWidget* durationContainerView_ = nullptr;
    QWidget* pausesContainerView_ = nullptr;
    QWidget* hourlyRateContainerView_ = nullptr;
    QWidget* expenseContainerView_ = nullptr;
    QWidget* billedContainerView_ = nullptr;
    QFrame* pauseSeparator_ = nullptr;
    QDateEdit* dateField_ = nullptr;
    QDateTimeEdit* startField_ = nullptr;
    QDateTimeEdit* endField_ = nullptr;
    DurationEditor* durationDatePicker_ = nullptr;
    QLineEdit* expenseTextField_ = nullptr;
    QComboBox* hourlyRatePopUpButton_ = nullptr;
    QLineEdit* hourlyRateTextField_ = nullptr;
    QCheckBox* billedCheckbox_ = nullptr;
    QLabel* numberOfPauseEntriesLabel_ = nullptr;
    QPushButton* pauseEntriesButton_ = nullptr;
    QPushButton* pauseButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* resumeButton_ = nullptr;
    ui::AutosizingTextField* notesField_ = nullptr;
    QPointer<PauseEntriesViewController> pauseEntries_;
};

} // namespace inspectors

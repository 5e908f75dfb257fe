// The date picker popover: a calendar and, when asked for, an hour-and-minute field below it, shown in
// a popover anchored to a view. Every date the user picks goes to the handler at once; there is no
// confirm and no cancel.
#pragma once

#include "foundation/clock.h"

#include <QWidget>

#include <functional>

class QCalendarWidget;
class QTimeEdit;

namespace ui {
class Popover;
}

namespace inspectors {

class PopoverDatePickerController : public QWidget {
    Q_OBJECT
public:
    // `date` starts as the current minute; the time picker is hidden.
    explicit PopoverDatePickerController(QWidget* parent = nullptr);
    ~PopoverDatePickerController() override;

    // Called with the new date after every change the user makes in either picker.
    std::function<void(foundation::Date)> dateChangeHandler;

    foundation::Date date() const { return date_; }
    // Shows the date in both pickers; calls no handler.
    void setDate(foundation::Date date);

    bool showsTimePicker() const { return showsTimePicker_; }
    // Shows or hides the time picker; the popover grows or shrinks by its height.
    void setShowsTimePicker(bool shows);

    QCalendarWidget* datePicker() const { return datePicker_; }
    QTimeEdit* timePicker() const { return timePicker_; }
    // The time picker's natural height, measured once.
    int timePickerHeight() const { return timePickerHeight_; }
    // The popover while it is shown, else null.
    ui::Popover* popover() const { return popover_; }

    // Shows this controller in a new popover under `anchor` (above it when the screen has no room).
    void showFromView(QWidget& anchor);

    // The pickers' action: the sender's value becomes `date` (a picked day keeps the time of day, a
    // typed time keeps the day), then the handler hears of it. A null sender is ignored.
    void datePickerValueChanged(QObject* sender);
    // Drops the closed popover; showing again makes a new one.
    void popoverDidClose();

private:
    void setupView();
    void showDateInPickers();

    foundation::Date date_;
    bool showsTimePicker_ = false;
    ui::Popover* popover_ = nullptr;
    QCalendarWidget* datePicker_ = nullptr;
    QTimeEdit* timePicker_ = nullptr;
    int timePickerHeight_ = 0;
    // Set while this controller writes into the pickers, so their change signals are not taken for
    // the user's.
    bool showingDate_ = false;
};

} // namespace inspectors

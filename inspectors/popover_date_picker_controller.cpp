// The date picker popover's view, built in code: the calendar on top, the time field below it without a
// gap, 8-pixel margins; the two pickers and `date` always agree.
#include "inspectors/popover_date_picker_controller.h"

#include "model/dates.h"

#include "ui/popover.h"

#include <QCalendarWidget>
#include <QLocale>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace inspectors {

namespace {

constexpr int margin = 8;

// `date` with the local fields given replaced, at whole seconds 0; the date itself when the calendar
// cannot make one (beyond its years).
foundation::Date withLocalFields(foundation::Date date, std::optional<QDate> day, std::optional<QTime> time)
{
    const foundation::Calendar calendar = foundation::Calendar::current();
    foundation::DateComponents fields = calendar.components(date);
    if (day) {
        fields.year = day->year();
        fields.month = day->month();
        fields.day = day->day();
    }
    if (time) {
        fields.hour = time->hour();
        fields.minute = time->minute();
    }
    fields.second = 0;
    fields.nanosecond = 0;
    return calendar.date(fields).value_or(date);
}

} // namespace

PopoverDatePickerController::PopoverDatePickerController(QWidget* parent)
    : QWidget(parent), date_(model::roundedToMinute(foundation::now())), datePicker_(new QCalendarWidget(this)),
      timePicker_(new QTimeEdit(this))
{
    setupView();
}

PopoverDatePickerController::~PopoverDatePickerController()
{
    // Leave the popup before it goes, so the popover never hands back a half-destroyed widget.
    if (popover_) {
        popover_->setContentWidget(nullptr);
        setParent(nullptr);
        popover_->close();
    }
}

void PopoverDatePickerController::setupView()
{
    datePicker_->setObjectName("datePicker");
    datePicker_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    datePicker_->setGridVisible(false);
    connect(datePicker_, &QCalendarWidget::selectionChanged, this, [this] { datePickerValueChanged(datePicker_); });

    timePicker_->setObjectName("timePicker");
    timePicker_->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat));
    connect(timePicker_, &QTimeEdit::timeChanged, this, [this] { datePickerValueChanged(timePicker_); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    layout->addWidget(datePicker_);
    layout->addWidget(timePicker_);

    timePickerHeight_ = timePicker_->sizeHint().height();
    showDateInPickers();
    setShowsTimePicker(false);
}

void PopoverDatePickerController::setDate(foundation::Date date)
{
    date_ = date;
    showDateInPickers();
}

void PopoverDatePickerController::showDateInPickers()
{
    const foundation::DateComponents fields = model::components(date_);
    showingDate_ = true;
    datePicker_->setSelectedDate(QDate(*fields.year, *fields.month, *fields.day));
    timePicker_->setTime(QTime(*fields.hour, *fields.minute));
    showingDate_ = false;
}

void PopoverDatePickerController::setShowsTimePicker(bool shows)
{
    showsTimePicker_ = shows;
    timePicker_->setVisible(shows);
    timePicker_->setFixedHeight(shows ? timePickerHeight_ : 0);
}

void PopoverDatePickerController::showFromView(QWidget& anchor)
{
    if (popover_)
        return;
    popover_ = new ui::Popover(this);
    popover_->setContentWidget(this);
    connect(popover_, &ui::Popover::didClose, this, &PopoverDatePickerController::popoverDidClose);
    popover_->showRelativeTo(anchor.rect(), anchor, ui::PopoverEdge::below);
}

void PopoverDatePickerController::datePickerValueChanged(QObject* sender)
{
    if (!sender || showingDate_)
        return;
    if (sender == datePicker_)
        date_ = withLocalFields(date_, datePicker_->selectedDate(), std::nullopt);
    else if (sender == timePicker_)
        date_ = withLocalFields(date_, std::nullopt, timePicker_->time());
    else
        return;
    showDateInPickers();
    if (dateChangeHandler)
        dateChangeHandler(date_);
}

void PopoverDatePickerController::popoverDidClose()
{
    if (popover_)
        popover_->deleteLater();
    popover_ = nullptr;
}

} // namespace inspectors

// The timer pane's rows, bindings, refreshes and actions.
#include "inspectors/timer_inspector_view_controller.h"

#include "inspectors/duration_editor.h"
#include "inspectors/key_tables.h"
#include "inspectors/pause_entries_view_controller.h"

#include "kits/analytics/tally_events.h"
#include "model/enums.h"
#include "model/project.h"
#include "model/timer.h"
#include "ui/autosizing_text_field.h"
#include "ui/bindings.h"
#include "ui/sheets.h"
#include "ui/widget_extensions.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace inspectors {

namespace {

constexpr std::int64_t periodType = 0, durationType = 1, expenseType = 2;

// The type as the pane reads it: no type counts as a duration timer.
std::int64_t shownType(const model::Timer& timer)
{
    return timer.type().value_or(durationType);
}

const char* typeName(std::int64_t type)
{
    switch (type) {
    case periodType: return "Period";
    case expenseType: return "Expense";
    default: return "Duration";
    }
}

// Rows hide and show only when their state changes, at once; the billed and end rows animate.
void setRowHidden(QWidget& stack, QWidget* row, bool hidden)
{
    if (row->isHidden() == hidden)
        return;
    if (hidden)
        ui::hideViews(stack, {row}, false);
    else
        ui::showViews(stack, {row}, false);
}

} // namespace

TimerInspectorViewController::TimerInspectorViewController(data::ObjectContext* context, QWidget* parent)
    : InspectorViewController(context, timerKeys(), parent)
{
    setObjectName(QStringLiteral("TimerInspector"));
    buildRows();
}

TimerInspectorViewController::~TimerInspectorViewController() = default;

QWidget* TimerInspectorViewController::row(const QString& title, QWidget* field)
{
    auto* container = new QWidget(stackView_);
    auto* layout = new QHBoxLayout(container);
    layout->setContentsMargins(0, 2, 0, 2);
    auto* label = new QLabel(title, container);
    label->setMinimumWidth(90);
    layout->addWidget(label);
    layout->addWidget(field, 1);
    stackView_->layout()->addWidget(container);
    return container;
}

void TimerInspectorViewController::buildRows()
{
    auto* outer = new QVBoxLayout(this);
    stackView_ = new QWidget(this);
    auto* stack = new QVBoxLayout(stackView_);
    stack->setContentsMargins(12, 12, 12, 12);
    outer->addWidget(stackView_);
    outer->addStretch();

    typePopupButton_ = new QComboBox;
    typePopupButton_->addItem(tr("Period"), QVariant::fromValue(periodType));
    typePopupButton_->addItem(tr("Duration"), QVariant::fromValue(durationType));
    typePopupButton_->addItem(tr("Expense"), QVariant::fromValue(expenseType));
    row(tr("Type"), typePopupButton_);
    connect(typePopupButton_, &QComboBox::activated, this, &TimerInspectorViewController::typeChanged);

    dateField_ = new QDateEdit;
    dateField_->setCalendarPopup(true);
    dateContainerView_ = row(tr("Date"), dateField_);
    startField_ = new QDateTimeEdit;
    startField_->setCalendarPopup(true);
    startContainerView_ = row(tr("Start"), startField_);
    endField_ = new QDateTimeEdit;
    endField_->setCalendarPopup(true);
    endContainerView_ = row(tr("End"), endField_);
    durationDatePicker_ = new DurationEditor;
    durationContainerView_ = row(tr("Duration"), durationDatePicker_);
    expenseTextField_ = new QLineEdit;
    expenseContainerView_ = row(tr("Amount"), expenseTextField_);

    pauseSeparator_ = new QFrame(stackView_);
    pauseSeparator_->setFrameShape(QFrame::HLine);
    pauseSeparator_->setFrameShadow(QFrame::Sunken);
    stack->addWidget(pauseSeparator_);
    auto* pauses = new QWidget;
    auto* pausesLayout = new QHBoxLayout(pauses);
    pausesLayout->setContentsMargins(0, 0, 0, 0);
    numberOfPauseEntriesLabel_ = new QLabel(pauses);
    pauseEntriesButton_ = new QPushButton(tr("Edit Pauses…"), pauses);
    pausesLayout->addWidget(numberOfPauseEntriesLabel_, 1);
    pausesLayout->addWidget(pauseEntriesButton_);
    pausesContainerView_ = row(tr("Pauses"), pauses);
    connect(pauseEntriesButton_, &QPushButton::clicked, this, &TimerInspectorViewController::showPauseEntries);

    auto* rate = new QWidget;
    auto* rateLayout = new QHBoxLayout(rate);
    rateLayout->setContentsMargins(0, 0, 0, 0);
    hourlyRatePopUpButton_ = new QComboBox(rate);
    hourlyRatePopUpButton_->addItems({tr("Project rate"), tr("Custom rate")});
    hourlyRateTextField_ = new QLineEdit(rate);
    rateLayout->addWidget(hourlyRatePopUpButton_);
    rateLayout->addWidget(hourlyRateTextField_, 1);
    hourlyRateContainerView_ = row(tr("Hourly rate"), rate);
    connect(hourlyRatePopUpButton_, &QComboBox::activated, this, &TimerInspectorViewController::hourlyRateTypeChanged);

    billedCheckbox_ = new QCheckBox(tr("Billed"));
    billedContainerView_ = row(QString(), billedCheckbox_);

    auto* buttons = new QWidget;
    auto* buttonsLayout = new QHBoxLayout(buttons);
    buttonsLayout->setContentsMargins(0, 0, 0, 0);
    stopButton_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), tr("Stop"), buttons);
    pauseButton_ = new QPushButton(buttons);
    resumeButton_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), tr("Resume"), buttons);
    for (QPushButton* button : {stopButton_, pauseButton_, resumeButton_})
        buttonsLayout->addWidget(button);
    buttonsLayout->addStretch();
    stack->addWidget(buttons);
    connect(stopButton_, &QPushButton::clicked, this, &TimerInspectorViewController::stopTimer);
    connect(pauseButton_, &QPushButton::clicked, this, &TimerInspectorViewController::togglePause);
    connect(resumeButton_, &QPushButton::clicked, this, &TimerInspectorViewController::resumeTimer);

    notesField_ = new ui::AutosizingTextField;
    notesField_->setPlaceholderText(tr("Notes"));
    notesField_->setTabChangesFocus(true);
    stack->addWidget(new QLabel(tr("Notes"), stackView_));
    stack->addWidget(notesField_);

    ui::ObjectController& bindings = objectController();
    ui::bindDate(*dateField_, bindings, QStringLiteral("content.date"));
    ui::bindDate(*startField_, bindings, QStringLiteral("content.start"));
    ui::bindDate(*endField_, bindings, QStringLiteral("content.end"));
    bindDuration(*durationDatePicker_, bindings, QStringLiteral("content.fixedDuration"));
    ui::bindDecimal(*expenseTextField_, bindings, QStringLiteral("content.fixedCost"));
    ui::bindChecked(*billedCheckbox_, bindings, QStringLiteral("content.billed"));
    ui::bindLabel(*numberOfPauseEntriesLabel_, bindings, QStringLiteral("content.pauseEntriesLabelText"));
    ui::bindText(*notesField_, bindings, QStringLiteral("content.notes"));
    // The billed value is stored by its binding before the pane reacts to it.
    connect(&bindings, &ui::ObjectController::valueWritten, this, [this](const QString& keyPath) {
        if (keyPath == QLatin1String("content.billed"))
            billedStateChanged();
    });
    updatePauseButton();
}

model::Timer* TimerInspectorViewController::timer() const
{
    return dynamic_cast<model::Timer*>(inspectedObject());
}

void TimerInspectorViewController::showEvent(QShowEvent* event)
{
    InspectorViewController::showEvent(event);
    updatePauseButton();
    updateHourlyRateUI();
    updateUI(false);
}

void TimerInspectorViewController::contentObjectChanged()
{
    updatePauseButton();
    updateHourlyRateUI();
    updateUI(true);
}

void TimerInspectorViewController::contentObjectUpdated()
{
    // The pause button and the rate follow changes made elsewhere too (the mini window pausing,
    // the outline billing the timer): a stale button would resume where it offers to pause.
    updatePauseButton();
    updateHourlyRateUI();
    updateUI(true);
}

void TimerInspectorViewController::updateUI(bool animated)
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    const std::int64_t type = shownType(*shown);
    if (int index = typePopupButton_->findData(QVariant::fromValue(type)); index >= 0)
        typePopupButton_->setCurrentIndex(index);

    const bool period = type == periodType, expense = type == expenseType, duration = !period && !expense;
    setRowHidden(*stackView_, dateContainerView_, period);
    setRowHidden(*stackView_, startContainerView_, !period);
    if (!period)
        setRowHidden(*stackView_, endContainerView_, true);
    setRowHidden(*stackView_, durationContainerView_, !duration);
    setRowHidden(*stackView_, pausesContainerView_, !period);
    setRowHidden(*stackView_, pauseSeparator_, !period);
    setRowHidden(*stackView_, hourlyRateContainerView_, expense);
    setRowHidden(*stackView_, expenseContainerView_, !expense);

    if (period) {
        const QList<QWidget*> billedAndEnd{billedContainerView_, endContainerView_};
        if (shown->end() && billedContainerView_->isHidden())
            ui::showViews(*stackView_, billedAndEnd, animated);
        else if (!shown->end() && !billedContainerView_->isHidden())
            ui::hideViews(*stackView_, billedAndEnd, animated);
        setRowHidden(*stackView_, endContainerView_, !shown->end()); // when the billed row was already right
    }
    const bool running = period && !shown->end();
    stopButton_->setHidden(!running);
    pauseButton_->setHidden(!running);
    resumeButton_->setHidden(!period || running);
}

void TimerInspectorViewController::updatePauseButton()
{
    model::Timer* shown = timer();
    const bool paused = shown && !shown->billed() && !shown->end() && shown->activePauseEntry();
    pauseButton_->setProperty("imageName", paused ? QStringLiteral("play") : QStringLiteral("pause"));
    pauseButton_->setIcon(style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    pauseButton_->setText(paused ? tr("Continue") : tr("Pause"));
}

PauseEntriesViewController* TimerInspectorViewController::pauseEntriesViewController() const
{
    return pauseEntries_;
}

QString TimerInspectorViewController::pauseButtonImageName() const
{
    return pauseButton_->property("imageName").toString();
}

void TimerInspectorViewController::updateHourlyRateUI()
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    const bool custom = shown->customHourlyRate().has_value();
    hourlyRatePopUpButton_->setCurrentIndex(custom ? 1 : 0);
    bool enabled = custom;
    QString keyPath =
        custom ? QStringLiteral("content.customHourlyRate") : QStringLiteral("content.project.hourlyRate");
    if (shown->billed()) {
        enabled = false;
        keyPath = QStringLiteral("content.billedHourlyRate");
    }
    if (const model::Project* project = shown->project())
        enabled = enabled && !project->archived();
    hourlyRateTextField_->setEnabled(enabled);
    ui::bindDecimal(*hourlyRateTextField_, objectController(), keyPath);
}

void TimerInspectorViewController::focusDurationPicker()
{
    if (QWidget* window = QApplication::activeWindow(); window && window->isAncestorOf(durationDatePicker_))
        durationDatePicker_->hoursField()->setFocus(Qt::OtherFocusReason);
}

void TimerInspectorViewController::stopTimer()
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    shown->stop();
    updateUI(true);
    kits::TallyEvents::trackTrackStopTimerFromInspector();
}

void TimerInspectorViewController::togglePause()
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    shown->togglePause();
    updatePauseButton();
    kits::TallyEvents::trackTogglePauseFromInspector();
}

void TimerInspectorViewController::resumeTimer()
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    shown->resumeFromStopped();
    updateUI(true);
    kits::TallyEvents::trackResumeFromInspector();
}

void TimerInspectorViewController::billedStateChanged()
{
    updateHourlyRateUI();
    kits::TallyEvents::trackToggleBilledFromInspector();
}

void TimerInspectorViewController::hourlyRateTypeChanged(int index)
{
    model::Timer* shown = timer();
    if (!shown)
        return;
    // Choosing the kind already in force changes nothing: it would reset a custom rate to 0.
    const int current = shown->customHourlyRate() ? 1 : 0;
    if (index == current)
        return;
    std::string kind = "unknown";
    if (index == 1) {
        shown->setCustomHourlyRate(foundation::Decimal(0));
        kind = "custom";
    } else if (index == 0) {
        shown->setCustomHourlyRate(std::nullopt);
        kind = "project";
    }
    updateHourlyRateUI();
    kits::TallyEvents::trackTimerHourlyRateTypeChangedFromInspector(kind);
}

void TimerInspectorViewController::typeChanged(int index)
{
    model::Timer* shown = timer();
    if (!shown || index < 0)
        return;
    const std::int64_t type = typePopupButton_->itemData(index).toLongLong();
    // Choosing the type already in force changes nothing: it would end a running timer at its start.
    if (type == shownType(*shown))
        return;
    shown->setType(type);
    if (!shown->end())
        shown->setEnd(shown->start());
    updateUI(true);
    kits::TallyEvents::trackTimerTypeChangedFromInspector(std::string(typeName(shownType(*shown))));
}

void TimerInspectorViewController::showPauseEntries()
{
    model::Timer* shown = timer();
    if (!shown || pauseEntries_)
        return;
    pauseEntries_ = new PauseEntriesViewController(shown->context(), this);
    pauseEntries_->setTimer(shown);
    ui::beginSheet(*window(), *pauseEntries_, [editor = pauseEntries_](ui::ModalResponse) {
        if (editor)
            editor->deleteLater();
    });
}

} // namespace inspectors

// The date filter bar of the projects view: one page per range with its labels, the custom range's
// two day controls, the navigation (back, today, forward), the date picker popover opened from a
// label, and the bar's animated height.
#include "mainwindow/date_filter_label.h"
#include "mainwindow/projects_view_controller.h"

#include "model/date_filter_interval.h"
#include "model/dates.h"

#include "inspectors/popover_date_picker_controller.h"
#include "kits/analytics/tally_events.h"

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QToolButton>
#include <QVariantAnimation>

namespace mainwindow {

namespace {

constexpr int dateFilterBarAnimationMilliseconds = 200;
// The value a custom bound control holds while its bound is empty; it shows no date then.
const QDate noDate(100, 1, 1);

QDate localDay(foundation::Date date)
{
    const foundation::DateComponents fields = model::components(date);
    return QDate(*fields.year, *fields.month, *fields.day);
}

QWidget* centredPage(QStackedWidget* tabs, std::initializer_list<QWidget*> widgets)
{
    auto* page = new QWidget(tabs);
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    for (QWidget* widget : widgets) {
        widget->setParent(page);
        layout->addWidget(widget);
    }
    layout->addStretch();
    tabs->addWidget(page);
    return page;
}

} // namespace

QWidget* ProjectsViewController::buildDateFilterBar()
{
    dateFilterBar_ = new QWidget(this);
    dateFilterBar_->setObjectName("dateFilterBar");
    dateFilterBar_->setFixedHeight(dateFilterBarHeight);
    // The widest page (custom) must not widen the window's middle column; a narrow one clips the bar.
    dateFilterBar_->setMinimumWidth(1);
    dateFilterView_ = new QWidget(dateFilterBar_);
    dateFilterView_->setObjectName("dateFilterView");
    auto* barLayout = new QVBoxLayout(dateFilterBar_);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->addWidget(dateFilterView_);

    dateFilterTabView_ = new QStackedWidget(dateFilterView_);
    dateFilterTabView_->setObjectName("dateFilterTabView");
    centredPage(dateFilterTabView_, {});
    dayFilterTextField_ = dateFilterLabel("dayFilterTextField", DateFilterLabel::full, nullptr);
    centredPage(dateFilterTabView_, {dayFilterTextField_});
    weekFilterFromTextField_ = dateFilterLabel("weekFilterFromTextField", DateFilterLabel::medium, nullptr);
    weekFilterToTextField_ = dateFilterLabel("weekFilterToTextField", DateFilterLabel::medium, nullptr);
    centredPage(dateFilterTabView_,
                {weekFilterFromTextField_, new QLabel(QStringLiteral("\u2013")), weekFilterToTextField_});
    monthFilterTextField_ = dateFilterLabel("monthFilterTextField", DateFilterLabel::monthYear, nullptr);
    centredPage(dateFilterTabView_, {monthFilterTextField_});
    yearFilterTextField_ = dateFilterLabel("yearFilterTextField", DateFilterLabel::year, nullptr);
    centredPage(dateFilterTabView_, {yearFilterTextField_});
    dateFilterStartDateControl_ = dateFilterBoundControl("dateFilterStartDate", nullptr, false);
    dateFilterEndDateControl_ = dateFilterBoundControl("dateFilterEndDate", nullptr, true);
    // A start after the end matches no timer; the bar says so rather than leave the list empty.
    dateFilterReversedLabel_ = new QLabel(tr("“From” is after “to”: no timer can match"));
    dateFilterReversedLabel_->setObjectName("dateFilterReversedLabel");
    dateFilterReversedLabel_->setStyleSheet(QStringLiteral("color: #b3261e;"));
    dateFilterReversedLabel_->hide();
    centredPage(dateFilterTabView_, {new QLabel(tr("From")), dateFilterStartDateControl_, new QLabel(tr("to")),
                                     dateFilterEndDateControl_, dateFilterReversedLabel_});

    dateFilterNavigationSegmentedControl_ = new QWidget(dateFilterView_);
    dateFilterNavigationSegmentedControl_->setObjectName("dateFilterNavigationSegmentedControl");
    auto* segmentsLayout = new QHBoxLayout(dateFilterNavigationSegmentedControl_);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    dateFilterNavigationSegments_ = new QButtonGroup(dateFilterNavigationSegmentedControl_);
    const QStringList titles{QStringLiteral("\u2039"), tr("Today"), QStringLiteral("\u203A")};
    const QStringList tips{tr("Previous"), tr("Today"), tr("Next")};
    for (int segment = 0; segment < titles.size(); ++segment) {
        auto* button = new QToolButton(dateFilterNavigationSegmentedControl_);
        button->setText(titles[segment]);
        button->setToolTip(tips[segment]);
        dateFilterNavigationSegments_->addButton(button, segment);
        segmentsLayout->addWidget(button);
    }
    connect(dateFilterNavigationSegments_, &QButtonGroup::idClicked, this,
            &ProjectsViewController::dateFilterNavigationAction);

    auto* viewLayout = new QHBoxLayout(dateFilterView_);
    viewLayout->setContentsMargins(10, 4, 10, 4);
    viewLayout->addWidget(dateFilterTabView_, 1);
    viewLayout->addWidget(dateFilterNavigationSegmentedControl_);

    dateFilterBarAnimation_ = new QVariantAnimation(this);
    dateFilterBarAnimation_->setDuration(dateFilterBarAnimationMilliseconds);
    connect(dateFilterBarAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& height) { dateFilterBar_->setFixedHeight(height.toInt()); });
    connect(dateFilterBarAnimation_, &QVariantAnimation::finished, this,
            [this] { dateFilterView_->setVisible(!dateFilterBarHiddenRequested_); });
    return dateFilterBar_;
}

DateFilterLabel* ProjectsViewController::dateFilterLabel(const char* name, int style, QWidget* page)
{
    auto* label = new DateFilterLabel(static_cast<DateFilterLabel::Style>(style), page);
    label->setObjectName(name);
    connect(label, &QPushButton::clicked, this, [this, label] { showDateFilterDatePicker(*label); });
    return label;
}

QDateEdit* ProjectsViewController::dateFilterBoundControl(const char* name, QWidget* page, bool end)
{
    auto* control = new QDateEdit(page);
    control->setObjectName(name);
    control->setCalendarPopup(true);
    control->setMinimumDate(noDate);
    control->setSpecialValueText(QStringLiteral(" "));
    connect(control, &QDateEdit::dateChanged, this, [this, end](const QDate& day) {
        if (!showingDateFilterBounds_ && day != noDate)
            customBoundChosen(end, day);
    });
    return control;
}

model::DateFilterRange ProjectsViewController::currentDateFilterRange() const
{
    return dateFilter_.range();
}

int ProjectsViewController::dateFilterBarHeightConstant() const
{
    return dateFilterBar_->maximumHeight();
}

void ProjectsViewController::updateDateFilterBar()
{
    const model::DateFilterRange range = currentDateFilterRange();
    dateFilterNavigationSegmentedControl_->setVisible(range != model::DateFilterRange::all
                                                      && range != model::DateFilterRange::custom);
    dateFilterTabView_->setVisible(range != model::DateFilterRange::all);

    const auto start = dateFilter_.startDate();
    const auto end = dateFilter_.endDate();
    dayFilterTextField_->setDate(start);
    weekFilterFromTextField_->setDate(start);
    weekFilterToTextField_->setDate(end);
    monthFilterTextField_->setDate(start);
    yearFilterTextField_->setDate(start);

    // The custom controls show the bounds in force; an empty bound shows no date, with the
    // calendar opening on the reference date's month. The calendars are made on first use: only
    // the custom page shows them, and this runs again whenever the range changes.
    showingDateFilterBounds_ = true;
    const QDate reference = localDay(dateFilter_.referenceDate());
    for (auto [control, bound] :
         {std::pair{dateFilterStartDateControl_, start}, std::pair{dateFilterEndDateControl_, end}}) {
        control->setDate(bound ? localDay(*bound) : noDate);
        if (!bound && range == model::DateFilterRange::custom)
            control->calendarWidget()->setCurrentPage(reference.year(), reference.month());
    }
    showingDateFilterBounds_ = false;

    dateFilterReversedLabel_->setVisible(range == model::DateFilterRange::custom && start && end && *start > *end);

    const bool hidden = range == model::DateFilterRange::all;
    if (hidden != dateFilterBarHiddenRequested_)
        setDateFilterBarHidden(hidden);
}

void ProjectsViewController::customBoundChosen(bool end, const QDate& day)
{
    const auto interval = model::dayInterval(day.year(), day.month(), day.day());
    if (!interval)
        return;
    if (end)
        setDateFilterBounds(dateFilter_.startDate(), interval->to);
    else
        setDateFilterBounds(interval->from, dateFilter_.endDate());
    updateDateFilter();
}

void ProjectsViewController::dateFilterNavigationAction(int selectedSegment)
{
    std::string direction;
    switch (selectedSegment) {
    case 0:
        navigateDateFilter(false);
        direction = "left";
        break;
    case 1:
        navigateToToday();
        direction = "today";
        break;
    case 2:
        navigateDateFilter(true);
        direction = "right";
        break;
    default: direction = "unknown"; break;
    }
    kits::TallyEvents::trackNavigateDateFilter(direction);
}

void ProjectsViewController::navigateDateFilter(bool forward)
{
    dateFilter_.navigate(forward, foundation::now());
    dateFilterDidChange();
}

void ProjectsViewController::showDateFilterDatePicker(QWidget& anchor)
{
    auto picker = std::make_unique<inspectors::PopoverDatePickerController>();
    picker->dateChangeHandler = [this](foundation::Date date) {
        dateFilter_.setReferenceDate(date);
        updateDateFilter();
    };
    picker->setDate(dateFilter_.referenceDate());
    picker->showFromView(anchor);
    // The one opened before is closed by now (a click outside closed it) or closes as it goes.
    dateFilterDatePicker_ = std::move(picker);
    kits::TallyEvents::trackShowDateFilterDatePicker();
}

void ProjectsViewController::setDateFilterBarHidden(bool hidden)
{
    dateFilterBarHiddenRequested_ = hidden;
    // A running animation is replaced: its end, which would set the visibility, never comes.
    dateFilterBarAnimation_->stop();
    dateFilterBarAnimation_->setStartValue(dateFilterBar_->maximumHeight());
    dateFilterBarAnimation_->setEndValue(hidden ? 0 : dateFilterBarHeight);
    dateFilterBarAnimation_->start();
}

} // namespace mainwindow

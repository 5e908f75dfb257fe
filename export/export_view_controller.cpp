// The options sheet's widgets and its round trip through the defaults: loaded when the sheet is
// configured, stored only when the user confirms.
#include "export/export_view_controller.h"

#include "model/preferences.h"

#include "kits/analytics/tally_events.h"
#include "ui/modal_response.h"
#include "ui/widget_extensions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace exports {

namespace {

QString segmentTitle(ExportFormat format)
{
    switch (format) {
    case ExportFormat::text: return QObject::tr("Text");
    case ExportFormat::csv: return QObject::tr("CSV");
    case ExportFormat::html: return QObject::tr("HTML");
    case ExportFormat::pdf: return QObject::tr("PDF");
    }
    return {};
}

QString checkboxTitle(ExportField field)
{
    switch (field) {
    case ExportField::projectDuration: return QObject::tr("Duration");
    case ExportField::projectClientName: return QObject::tr("Client");
    case ExportField::projectHourlyRate: return QObject::tr("Hourly Rate");
    case ExportField::projectNotes: return QObject::tr("Notes");
    case ExportField::timerDuration: return QObject::tr("Duration");
    case ExportField::timerStartEnd: return QObject::tr("Start and End");
    case ExportField::timerPause: return QObject::tr("Pause");
    case ExportField::timerHourlyRate: return QObject::tr("Own Hourly Rate");
    case ExportField::timerCost: return QObject::tr("Cost");
    case ExportField::timerBilled: return QObject::tr("Billed");
    case ExportField::timerNotes: return QObject::tr("Notes");
    }
    return {};
}

bool isProjectField(ExportField field)
{
    return field == ExportField::projectDuration || field == ExportField::projectClientName
           || field == ExportField::projectHourlyRate || field == ExportField::projectNotes;
}

kits::TallyEvents::ExportFormat tallyFormat(ExportFormat format)
{
    return static_cast<kits::TallyEvents::ExportFormat>(rawValue(format));
}

} // namespace

ExportViewController::ExportViewController(foundation::DefaultsStore& defaults, QWidget* parent)
    : QDialog(parent), defaults_(defaults)
{
    setObjectName("exportPanel");
    buildViews();
}

ExportViewController::~ExportViewController() = default;

void ExportViewController::buildViews()
{
    auto* layout = new QVBoxLayout(this);
    titleLabel_ = new QLabel(this);
    QFont titleFont = titleLabel_->font();
    titleFont.setBold(true);
    titleLabel_->setFont(titleFont);
    layout->addWidget(titleLabel_);

    exportTypeSegmentedControl_ = new QWidget(this);
    exportTypeSegmentedControl_->setObjectName("exportTypeSegmentedControl");
    auto* segmentsLayout = new QHBoxLayout(exportTypeSegmentedControl_);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    exportTypeSegments_ = new QButtonGroup(this);
    exportTypeSegments_->setExclusive(true);
    for (ExportFormat format : {ExportFormat::text, ExportFormat::csv, ExportFormat::html, ExportFormat::pdf}) {
        auto* segment = new QToolButton(exportTypeSegmentedControl_);
        segment->setText(segmentTitle(format));
        segment->setCheckable(true);
        exportTypeSegments_->addButton(segment, static_cast<int>(rawValue(format)));
        segmentsLayout->addWidget(segment);
    }
    segmentsLayout->addStretch();
    connect(exportTypeSegments_, &QButtonGroup::idClicked, this, [this] { exportTypeChanged(); });
    layout->addWidget(exportTypeSegmentedControl_);

    auto* projectBox = new QGroupBox(tr("Project"), this);
    auto* projectLayout = new QVBoxLayout(projectBox);
    auto* timerBox = new QGroupBox(tr("Timers"), this);
    auto* timerLayout = new QVBoxLayout(timerBox);
    for (ExportField field : selectedFieldsOrder()) {
        auto* checkbox = new QCheckBox(checkboxTitle(field), this);
        checkbox->setObjectName(QString::fromUtf8(rawValue(field).data(), static_cast<int>(rawValue(field).size())));
        (isProjectField(field) ? projectLayout : timerLayout)->addWidget(checkbox);
        checkboxes_[static_cast<std::size_t>(field)] = checkbox;
    }
    auto* fieldsLayout = new QHBoxLayout;
    fieldsLayout->addWidget(projectBox, 0, Qt::AlignTop);
    fieldsLayout->addWidget(timerBox, 0, Qt::AlignTop);
    layout->addLayout(fieldsLayout);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel(); });
    buttons->addWidget(cancelButton);
    exportButton_ = new QPushButton(this);
    exportButton_->setDefault(true);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportPressed(); });
    buttons->addWidget(exportButton_);
    layout->addLayout(buttons);
}

void ExportViewController::setFormat(ExportFormat format)
{
    format_ = format;
    if (viewLoaded_)
        exportTypeSegment(format)->setChecked(true);
}

QAbstractButton* ExportViewController::exportTypeSegment(ExportFormat format) const
{
    return exportTypeSegments_->button(static_cast<int>(rawValue(format)));
}

void ExportViewController::loadViewIfNeeded()
{
    if (viewLoaded_)
        return;
    viewLoaded_ = true;
    viewDidLoad();
}

void ExportViewController::viewDidLoad()
{
    titleLabel_->setText(isPrintDialog_ ? tr("Print Projects") : tr("Export Projects"));
    setWindowTitle(titleLabel_->text());
    exportButton_->setText(isPrintDialog_ ? tr("Print") : tr("Export"));
    exportTypeSegmentedControl_->setHidden(isPrintDialog_);
    exportTypeSegment(format_)->setChecked(true);
    loadExportSettings();
}

void ExportViewController::showEvent(QShowEvent* event)
{
    loadViewIfNeeded();
    QDialog::showEvent(event);
    // Counted for printing as well as for exporting.
    if (!event->spontaneous())
        kits::TallyEvents::trackViewExport();
}

void ExportViewController::exportTypeChanged()
{
    if (const auto format = exportFormatFromRawValue(exportTypeSegments_->checkedId()))
        format_ = *format;
}

ExportFields ExportViewController::selectedFields() const
{
    ExportFields fields;
    for (ExportField field : selectedFieldsOrder())
        if (ui::isChecked(*checkbox(field)))
            fields.push_back(field);
    return fields;
}

void ExportViewController::storeExportSettings()
{
    model::Preferences(defaults_).setExportFields(rawValues(selectedFields()));
}

void ExportViewController::loadExportSettings()
{
    const ExportFieldSet stored(exportFieldsFromRawValues(model::Preferences(defaults_).exportFields()));
    for (ExportField field : allExportFields())
        ui::setIsChecked(*checkbox(field), stored.contains(field));
}

void ExportViewController::exportPressed()
{
    done(ui::modalResponseOK);
}

void ExportViewController::cancel()
{
    done(ui::modalResponseCancel);
}

void ExportViewController::done(int code)
{
    if (ending_)
        return;
    ending_ = true;
    loadViewIfNeeded();
    QDialog::done(code);
    if (code == ui::modalResponseOK) {
        storeExportSettings();
        if (completionHandler_)
            completionHandler_(format_);
        // After the handler, which only starts the presenter's next step (a save dialog, a print).
        kits::TallyEvents::trackStartExport(tallyFormat(format_));
    }
    ending_ = false;
}

} // namespace exports

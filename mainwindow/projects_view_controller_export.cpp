// Export and print from the projects outline: the options sheet, then the save dialog (export) or the
// print dialog (print), then the listed projects under the current filter as a document written
// atomically, a PDF or a print job; a failure ends in an alert.
#include "mainwindow/projects_view_controller.h"

#include "export/export_view_controller.h"
#include "export/exporter.h"

#include "foundation/calendar.h"
#include "foundation/defaults_store.h"
#include "foundation/user_dirs.h"
#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/sheets.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace mainwindow {

void ProjectsViewController::exportProjects(std::optional<std::int64_t> tag)
{
    std::optional<exports::ExportFormat> format = tag ? exports::exportFormatFromRawValue(*tag) : std::nullopt;
    auto* sheet = new exports::ExportViewController(defaults_, this);
    sheet->setFormat(format.value_or(exports::ExportFormat::text));
    // The fields are read while the sheet still exists; it is released once it has ended.
    sheet->setCompletionHandler(
        [this, sheet](exports::ExportFormat chosen) { showExportSaveDialog(chosen, sheet->selectedFields()); });
    sheet->loadViewIfNeeded();
    ui::beginSheet(*this, *sheet, [sheet](ui::ModalResponse) { sheet->deleteLater(); });
}

void ProjectsViewController::printProjects()
{
    auto* sheet = new exports::ExportViewController(defaults_, this);
    sheet->setFormat(exports::ExportFormat::pdf);
    sheet->setIsPrintDialog(true);
    // The print dialog and the progress dialog let events through; they run on a later turn, once
    // the sheet's own handlers have returned, so the sheet (released when it ends) is never under them.
    sheet->setCompletionHandler([this, sheet](exports::ExportFormat) {
        QTimer::singleShot(0, this, [this, fields = sheet->selectedFields()] {
            const foundation::Status status =
                exports::Exporter::printDocument(projects(), filter(), std::nullopt, fields, window());
            if (!status.isOk())
                showExportFailure(tr("The projects could not be printed."), status.message());
        });
    });
    sheet->loadViewIfNeeded();
    ui::beginSheet(*this, *sheet, [sheet](ui::ModalResponse) { sheet->deleteLater(); });
}

QString ProjectsViewController::exportFileName(exports::ExportFormat format) const
{
    const model::DateFilterRange range = currentDateFilterRange();
    const QString ranges[] = {tr("All"), tr("Day"), tr("Week"), tr("Month"), tr("Year"), tr("Custom")};
    const std::optional<foundation::Date> start = dateFilterStartDate();
    const foundation::Date day = range != model::DateFilterRange::all && start ? *start : foundation::now();
    const foundation::DateComponents local = foundation::Calendar::current().components(day);
    const std::string_view extension = exports::fileExtension(format);
    return QStringLiteral("%1 %2-%3-%4.%5")
        .arg(ranges[static_cast<std::size_t>(range)])
        .arg(local.year.value_or(0), 4, 10, QLatin1Char('0'))
        .arg(local.month.value_or(0), 2, 10, QLatin1Char('0'))
        .arg(local.day.value_or(0), 2, 10, QLatin1Char('0'))
        .arg(QString::fromLatin1(extension.data(), static_cast<int>(extension.size())));
}

QString ProjectsViewController::exportFolder() const
{
    if (const std::optional<std::string> last = defaults_.stringValue(std::string(lastExportFolderKey))) {
        std::error_code error;
        if (std::filesystem::is_directory(*last, error))
            return QString::fromStdString(*last);
    }
    return QString::fromStdString(foundation::documentsFolder().string());
}

void ProjectsViewController::showExportSaveDialog(exports::ExportFormat format, exports::ExportFields fields)
{
    const std::string_view extension = exports::fileExtension(format);
    ui::SavePanel panel;
    // The dialog makes the name end in the extension ("report" becomes "report.csv").
    panel.allowedFileTypes = {QString::fromLatin1(extension.data(), static_cast<int>(extension.size()))};
    panel.allowsOtherFileTypes = false;
    // Opens where the last export went (else in Documents), not where any other picker was last.
    panel.directory = exportFolder();
    panel.nameFieldStringValue = exportFileName(format);
    panel.beginSheetModal(*window(),
                          [this, format, fields = std::move(fields)](ui::ModalResponse response, QString path) {
                              if (response != ui::modalResponseOK || path.isEmpty())
                                  return;
                              const std::string folder = QFileInfo(path).absolutePath().toStdString();
                              (void)defaults_.set(std::string(lastExportFolderKey), foundation::DefaultsValue(folder));
                              writeExport(format, fields, path);
                          });
}

void ProjectsViewController::writeExport(exports::ExportFormat format, const exports::ExportFields& fields,
                                         const QString& path)
{
    // The projects and the filter as they are now, when the user has chosen the file.
    const std::filesystem::path file = QFile::encodeName(path).toStdString();
    std::string document;
    switch (format) {
    case exports::ExportFormat::text: document = exports::Exporter::textDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::csv: document = exports::Exporter::csvDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::html: document = exports::Exporter::htmlDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::pdf:
        if (const foundation::Status status =
                exports::Exporter::printDocument(projects(), filter(), file, fields, window());
            !status.isOk())
            showExportFailure(tr("The export could not be saved."), status.message());
        return;
    }
    if (const foundation::Status status = exports::Exporter::write(document, file); !status.isOk())
        showExportFailure(tr("The export could not be saved."), status.message());
}

void ProjectsViewController::showExportFailure(const QString& message, const std::string& reason)
{
    ui::Alert alert;
    alert.alertStyle = ui::AlertStyle::warning;
    alert.messageText = message;
    alert.informativeText = QString::fromStdString(reason);
    alert.beginSheetModal(*window(), {});
}

} // namespace mainwindow

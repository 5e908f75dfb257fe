// Export and print from the projects outline: the options sheet, then the save dialog (export) or the
// print dialog (print), then the listed projects under the current filter as a document written
// atomically, a PDF or a print job; a failure ends in an alert.
#include "mainwindow/projects_view_controller.h"

#include "export/export_view_controller.h"
#include "export/exporter.h"

#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/sheets.h"

#include <QFile>

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
    // Printing runs to its end inside the handler, so the sheet's "Start export" follows it.
    sheet->setCompletionHandler([this, sheet](exports::ExportFormat) {
        const foundation::Status status =
            exports::Exporter::printDocument(projects(), filter(), std::nullopt, sheet->selectedFields(), window());
        if (!status.isOk())
            showExportFailure(tr("The projects could not be printed."), status.message());
    });
    sheet->loadViewIfNeeded();
    ui::beginSheet(*this, *sheet, [sheet](ui::ModalResponse) { sheet->deleteLater(); });
}

void ProjectsViewController::showExportSaveDialog(exports::ExportFormat format, exports::ExportFields fields)
{
    const std::string_view extension = exports::fileExtension(format);
    ui::SavePanel panel;
    // The dialog makes the name end in the extension ("report" becomes "report.csv").
    panel.allowedFileTypes = {QString::fromLatin1(extension.data(), static_cast<int>(extension.size()))};
    panel.allowsOtherFileTypes = false;
    panel.beginSheetModal(*window(),
                          [this, format, fields = std::move(fields)](ui::ModalResponse response, QString path) {
                              if (response == ui::modalResponseOK && !path.isEmpty())
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

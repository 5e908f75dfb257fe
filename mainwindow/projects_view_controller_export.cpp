// Export from the projects outline: the options sheet, then the save dialog, then the document of the
// listed projects under the current filter, written atomically; a failed write ends in an alert.
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
    if (!format || !exports::exportFormatAvailable(*format))
        format = exports::ExportFormat::text;
    auto* sheet = new exports::ExportViewController(defaults_, this);
    sheet->setFormat(*format);
    // The fields are read while the sheet still exists; it is released once it has ended.
    sheet->setCompletionHandler(
        [this, sheet](exports::ExportFormat chosen) { showExportSaveDialog(chosen, sheet->selectedFields()); });
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
    std::string document;
    switch (format) {
    case exports::ExportFormat::text: document = exports::Exporter::textDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::csv: document = exports::Exporter::csvDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::html: document = exports::Exporter::htmlDocument(projects(), filter(), fields); break;
    case exports::ExportFormat::pdf:
        // Not offered yet (exportFormatAvailable): neither the menu nor the sheet can choose them.
        return;
    }
    if (const foundation::Status status = exports::Exporter::write(document, QFile::encodeName(path).toStdString());
        !status.isOk()) {
        ui::Alert alert;
        alert.alertStyle = ui::AlertStyle::warning;
        alert.messageText = tr("The export could not be saved.");
        alert.informativeText = QString::fromStdString(status.message());
        alert.beginSheetModal(*window(), {});
    }
}

} // namespace mainwindow

// PDF export and printing: the projects as the HTML page shows them, laid out at the printable size
// and painted page by page (PrintedPages) to a PDF writer in memory (then stored by Exporter::write) or
// to the printer of the print dialog.
#include "export/exporter.h"

#include "export/document_values.h"
#include "export/print_layout.h"

#include "model/project.h"

#include "foundation/diagnostics.h"
#include "foundation/locale.h"
#include "ui/print_panel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QProgressDialog>

#include <malloc.h>

namespace exports {
namespace {

const QMarginsF pageMargins(35, 45, 35, 35); // left, top, right, bottom, in points

QString translated(const char* text)
{
    return QCoreApplication::translate("exports::Exporter", text);
}

// The paper of the user's LC_PAPER (else LC_ALL, LANG); Letter when ICU does not know.
QPageSize localePaper()
{
    const auto size = foundation::Locale::current(foundation::LocaleCategory::paper).paperSizeMillimetres();
    if (!size || (size->first == 216 && size->second == 279))
        return QPageSize(QPageSize::Letter);
    if (size->first == 210 && size->second == 297)
        return QPageSize(QPageSize::A4);
    return QPageSize(QSizeF(size->first, size->second), QPageSize::Millimeter);
}

QString qt(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The projects with their timers of the filter, and the number of those timers.
struct Listed {
    std::vector<const model::Project*> projects;
    std::vector<std::vector<model::Timer*>> timers;
    std::size_t timerCount = 0;
};

// One project as the HTML page shows it, its hidden parts left out.
PrintedProject printedProject(const model::Project& project, const std::vector<model::Timer*>& timers,
                              const DocumentValues& values)
{
    const ProjectValues shown = values.project(project, timers);
    const ShownParts& parts = values.shown();
    PrintedProject printed;
    printed.name = qt(shown.name);
    if (parts.clientName)
        printed.headingLines.push_back(qt(labels::client) + QStringLiteral(": ") + qt(shown.clientName));
    if (parts.hourlyRate)
        printed.headingLines.push_back(qt(labels::hourlyRate) + QStringLiteral(": ") + qt(shown.hourlyRate));
    if (parts.projectNotes && !shown.notes.empty())
        printed.notes = qt(shown.notes);

    // The columns and the cells of the sum row in the page's order, those of hidden columns left out.
    const auto addColumn = [&](bool shownColumn, std::string_view label, std::string_view sum) {
        if (!shownColumn)
            return;
        printed.columns.push_back(qt(label));
        printed.sum.push_back(qt(sum));
    };
    addColumn(true, labels::date, labels::sum);
    addColumn(parts.duration, labels::duration, shown.durationSum);
    addColumn(parts.pause, labels::pause, {});
    addColumn(parts.timerHourlyRate, labels::hourlyRate, {});
    addColumn(parts.cost, labels::cost, shown.costSum);
    addColumn(parts.billed, labels::billed, {});
    addColumn(parts.timerNotes, labels::notes, {});
    printed.notesColumn = parts.timerNotes;

    printed.cells.reserve(timers.size() * printed.columns.size());
    for (std::size_t index = 0; index < timers.size(); ++index) {
        const TimerCells cells =
            values.timer(*timers[index], shown.currency, shown.durations[index], shown.costs[index]);
        printed.cells.push_back(qt(cells.date));
        if (parts.duration)
            printed.cells.push_back(qt(cells.duration));
        if (parts.pause)
            printed.cells.push_back(qt(cells.pause));
        if (parts.timerHourlyRate)
            printed.cells.push_back(qt(cells.hourlyRate));
        if (parts.cost)
            printed.cells.push_back(qt(cells.cost));
        if (parts.billed)
            printed.cells.push_back(qt(cells.billed));
        if (parts.timerNotes)
            printed.cells.push_back(qt(cells.notes));
    }
    return printed;
}

// Qt's PDF engine compresses every page through two scratch buffers of 10 MB. Depending on where
// they fall in the heap, glibc gives them fresh pages and returns them to the kernel for every page
// (then more than half the time of a long PDF). The thresholds set here keep them for reuse; they are
// the values glibc raises its own to once a block of 32 MiB has been freed (they never come down),
// so the rest of the program sees nothing it would not see anyway.
void keepLargeBlocksForReuse()
{
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

// Projects are laid out a batch at a time, so what is held at once stays small: a batch closes after
// the project that brings it to this many timers.
constexpr std::size_t timersPerBatch = 512;

// Lays the projects out and paints them page by page on `device` (its printable area, from the top
// of its first page); the progress dialog's Cancel stops between pages.
PrintOutcome paintPages(const Listed& listed, const DocumentValues& values, QPagedPaintDevice& device, QWidget* window,
                        const QString& label)
{
    QProgressDialog progress(label, translated("Cancel"), 0, static_cast<int>(listed.timerCount),
                             window ? window->window() : nullptr);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    progress.show();

    keepLargeBlocksForReuse();
    QPainter painter;
    if (!painter.begin(&device))
        return PrintOutcome::failed;
    PrintedPages pages(device, painter, [&](std::size_t timersPainted) {
        progress.setValue(static_cast<int>(timersPainted));
        // The dialog's Cancel (and nothing else: the dialog is modal) is handled between pages.
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    std::vector<PrintedProject> batch;
    std::size_t batchTimers = 0;
    PrintOutcome outcome = PrintOutcome::done;
    for (std::size_t index = 0; index < listed.projects.size() && outcome == PrintOutcome::done; ++index) {
        batch.push_back(printedProject(*listed.projects[index], listed.timers[index], values));
        batchTimers += listed.timers[index].size();
        if (batchTimers >= timersPerBatch || index + 1 == listed.projects.size()) {
            outcome = pages.paint(batch);
            batch.clear();
            batchTimers = 0;
        }
    }
    if (outcome == PrintOutcome::done)
        outcome = pages.finish();
    const bool ended = painter.end();
    return outcome == PrintOutcome::done && !ended ? PrintOutcome::failed : outcome;
}

foundation::Status failure(const QString& reason)
{
    foundation::diagnostic("ERROR: could not export");
    return foundation::Status::failure(foundation::StatusCode::ioError, reason.toStdString());
}

// The PDF is made in memory and stored by Exporter::write, as the other documents are: atomically,
// or in place where the folder takes no new files; a cancelled one leaves the destination alone.
foundation::Status writePdf(const Listed& listed, const DocumentValues& values, const std::filesystem::path& path,
                            QWidget* window)
{
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setCreator(QStringLiteral("Horavine"));
        writer.setTitle(translated("Projects"));
        writer.setPageSize(localePaper());
        writer.setPageMargins(pageMargins, QPageLayout::Point);
        switch (paintPages(listed, values, writer, window, translated("Exporting…"))) {
        case PrintOutcome::stopped: return foundation::Status::success();
        case PrintOutcome::failed: return failure(translated("The PDF could not be made."));
        case PrintOutcome::done: break;
        }
    }
    const QByteArray& bytes = pdf.data();
    return Exporter::write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), path);
}

foundation::Status print(const Listed& listed, const DocumentValues& values, QWidget* window)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(localePaper());
    printer.setPageMargins(pageMargins, QPageLayout::Point);
    if (!ui::runPrintPanel(window, printer))
        return foundation::Status::success();
    switch (paintPages(listed, values, printer, window, translated("Printing…"))) {
    case PrintOutcome::stopped: printer.abort(); return foundation::Status::success();
    case PrintOutcome::failed: return failure(translated("The printer could not print the document."));
    case PrintOutcome::done: break;
    }
    if (printer.printerState() == QPrinter::Error)
        return failure(translated("The printer could not print the document."));
    return foundation::Status::success();
}

} // namespace

foundation::Status Exporter::printDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                           const std::optional<std::filesystem::path>& pdfPath,
                                           const ExportFields& fields, QWidget* window)
{
    Listed listed;
    listed.projects.assign(projects.begin(), projects.end());
    listed.timers.reserve(projects.size());
    for (const model::Project* project : projects) {
        listed.timers.push_back(project->timers(filter));
        listed.timerCount += listed.timers.back().size();
    }
    const DocumentValues values(fields);
    return pdfPath ? writePdf(listed, values, *pdfPath, window) : print(listed, values, window);
}

} // namespace exports

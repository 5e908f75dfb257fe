// PDF export and printing: the HTML page, its hidden elements removed (Qt's rich text does not honour
// "display: none"), laid out once by a QTextDocument at the printable size and painted page by page to
// a PDF writer in memory (then stored by Exporter::write) or to the printer of the print dialog.
#include "export/exporter.h"

#include "export/html_markup.h"
#include "export/page_text_filter.h"

#include "foundation/diagnostics.h"
#include "foundation/locale.h"
#include "ui/print_panel.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QProgressDialog>
#include <QTextDocument>
#include <QTextOption>

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

enum class PaintOutcome { done, cancelled, failed };

// Lays `page` out at the device's printable size and paints it page by page; the progress dialog's
// Cancel stops between pages.
PaintOutcome paintPages(const QString& page, QPagedPaintDevice& device, QWidget* window, const QString& label)
{
    QTextDocument document;
    document.setDocumentMargin(0); // the page's margins are the whole margin
    QTextOption option = document.defaultTextOption();
    // Words longer than a column break rather than widen the table past the page.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    // Any letter spacing turns ligatures off, so "ff" stays two letters for search and copy.
    QFont font = document.defaultFont();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.02);
    document.setDefaultFont(font);
    document.documentLayout()->setPaintDevice(&device);
    document.setHtml(page);
    const QSizeF pageSize(device.width(), device.height());
    document.setPageSize(pageSize);
    const int pageCount = document.pageCount();

    QProgressDialog progress(label, translated("Cancel"), 0, pageCount, window ? window->window() : nullptr);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    progress.show();

    QPainter target;
    if (!target.begin(&device))
        return PaintOutcome::failed;
    const QRectF visible(QPointF(0, 0), pageSize);
    PageTextFilter filter(target, visible);
    for (int index = 0; index < pageCount; ++index) {
        if (index > 0 && !device.newPage()) {
            target.end();
            return PaintOutcome::failed;
        }
        {
            QPainter painter(&filter);
            const QRectF shown(QPointF(0, index * pageSize.height()), pageSize);
            painter.translate(0, -shown.top());
            document.drawContents(&painter, shown);
        }
        progress.setValue(index + 1);
        // The dialog's Cancel (and nothing else: the dialog is modal) is handled between pages.
        QCoreApplication::processEvents();
        if (progress.wasCanceled()) {
            target.end();
            return PaintOutcome::cancelled;
        }
    }
    return target.end() ? PaintOutcome::done : PaintOutcome::failed;
}

// Notes keep the line breaks they were typed with; the layout takes a CR and an LF each for a break,
// so CR LF and a lone CR become one LF, as a browser reads them.
std::string withLineFeeds(std::string_view page)
{
    std::string text;
    text.reserve(page.size());
    for (std::size_t index = 0; index < page.size(); ++index) {
        if (page[index] != '\r') {
            text += page[index];
            continue;
        }
        text += '\n';
        if (index + 1 < page.size() && page[index + 1] == '\n')
            ++index;
    }
    return text;
}

foundation::Status failure(const QString& reason)
{
    foundation::diagnostic("ERROR: could not export");
    return foundation::Status::failure(foundation::StatusCode::ioError, reason.toStdString());
}

// The PDF is made in memory and stored by Exporter::write, as the other documents are: atomically,
// or in place where the folder takes no new files; a cancelled one leaves the destination alone.
foundation::Status writePdf(const QString& page, const std::filesystem::path& path, QWidget* window)
{
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setCreator(QStringLiteral("Horavine"));
        writer.setTitle(translated("Projects"));
        writer.setPageSize(localePaper());
        writer.setPageMargins(pageMargins, QPageLayout::Point);
        switch (paintPages(page, writer, window, translated("Exporting…"))) {
        case PaintOutcome::cancelled: return foundation::Status::success();
        case PaintOutcome::failed: return failure(translated("The PDF could not be made."));
        case PaintOutcome::done: break;
        }
    }
    const QByteArray& bytes = pdf.data();
    return Exporter::write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), path);
}

foundation::Status print(const QString& page, QWidget* window)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(localePaper());
    printer.setPageMargins(pageMargins, QPageLayout::Point);
    if (!ui::runPrintPanel(window, printer))
        return foundation::Status::success();
    switch (paintPages(page, printer, window, translated("Printing…"))) {
    case PaintOutcome::cancelled: printer.abort(); return foundation::Status::success();
    case PaintOutcome::failed: return failure(translated("The printer could not print the document."));
    case PaintOutcome::done: break;
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
    std::string page = withLineFeeds(withoutHiddenElements(htmlDocument(projects, filter, fields)));
    // The page keeps dates and amounts on one line, as a browser window can scroll. On paper those
    // unbreakable cells would take the width the Notes column asks for (35 %), down to a few letters,
    // or push the table off the page: here they wrap, and Notes keeps its share.
    if (const auto styleEnd = page.find("</style>"); styleEnd != std::string::npos)
        page.insert(styleEnd, ".date, .duration, .pause, .amount, .billed { white-space: normal; }\n");
    const QString text = QString::fromUtf8(page.data(), static_cast<qsizetype>(page.size()));
    return pdfPath ? writePdf(text, *pdfPath, window) : print(text, window);
}

} // namespace exports

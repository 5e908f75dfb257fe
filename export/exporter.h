// The document builders of the export, the file writer and the PDF and print path. Stateless: every
// builder is a function of the projects, the filter and the chosen fields, reading the model and
// rendering values through the shared ExportFormatters; the writer stores a finished document. Main
// thread only.
#pragma once

#include "export/export_format.h"

#include "model/filter.h"

#include "foundation/status.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace model {
class Project;
class Timer;
}

namespace exports {

struct Exporter {
    // Plain text: per project a framed title, its notes and totals, then one entry per timer of
    // `filter`. Names and notes are written as stored; lines end in "\n". No projects: "".
    static std::string textDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                    const ExportFields& fields);
    // One project's block without the "\n" the document adds after it.
    static std::string textProjectBlock(const model::Project& project, const model::Filter& filter,
                                        const ExportFields& fields);
    // The title between two rules of "-" as long as the title (in user-perceived characters) plus two.
    static std::string textProjectHeader(const model::Project& project, const ExportFields& fields);
    // One timer's entry: its date line and indented detail lines, ending in an empty line.
    static std::string textTimerLine(const model::Timer& timer, const ExportFields& fields);

    // CSV with ";" between cells: a header row, then per project its row, its timers' rows and an
    // empty line. A cell holding ";", a double quote, a line feed or a carriage return is written in
    // double quotes with inner quotes doubled, so it stays one cell; every other cell is bare. No BOM.
    // A name or note that starts with "=", "+", "-", "@", a tab or a carriage return is written with a
    // leading "'", so no spreadsheet takes it for a formula; formatted amounts, durations and dates
    // are written as they are.
    static std::string csvDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                   const ExportFields& fields);
    // The project row and its timer rows, each ending in "\n".
    static std::string csvProjectRows(const model::Project& project, const model::Filter& filter,
                                      const ExportFields& fields);
    // One timer's row without its line feed.
    static std::string csvTimerRow(const model::Timer& timer, const ExportFields& fields);
    static constexpr std::string_view csvSeparator = ";";

    // HTML: the page template with the style sheet inlined and one block per project, each with a
    // table of its timers of `filter` and a sum row. Every inserted value is escaped, so names and
    // notes show as stored and never as markup or placeholders. An unchosen field's elements are
    // classed "hidden" (the style sheet does not display them); the cost sum, the project rate, the
    // notes and the pause cells are filled whatever the fields.
    static std::string htmlDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                    const ExportFields& fields);
    // One project's block from the project fragment, its timer rows inserted.
    static std::string htmlProjectFragment(const model::Project& project, const model::Filter& filter,
                                           const ExportFields& fields);
    // One timer's row from the timer fragment: its own placeholders filled, those the project block
    // fills (labels, sums, "_hidden") left for it.
    static std::string htmlTimerFragment(const model::Timer& timer, const ExportFields& fields);

    // PDF and printing: the projects as the HTML page shows them (its hidden parts left out), laid out
    // at the printable size of the locale's paper (LC_PAPER; Letter in en_US, A4 in de_DE) with
    // margins of 35 points (45 at the top) and painted page by page, with a progress dialog
    // window-modal over `window` whose Cancel stops it. With `pdfPath` the pages go to a PDF made in
    // memory and stored there by write() once complete; without, to the printer chosen in the print
    // dialog. Cancelling either dialog leaves no file and is no failure. A file that cannot be written
    // or a print job that fails returns an ioError for the user, "ERROR: could not export" going to
    // the diagnostics. Qt; main thread.
    static foundation::Status printDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                            const std::optional<std::filesystem::path>& pdfPath,
                                            const ExportFields& fields, QWidget* window = nullptr);

    // Stores `text` as UTF-8 at `path` atomically: it goes to a new file in the destination's
    // folder, is flushed to disk and renamed over the destination, so a reader never sees a partial
    // file. A new file gets the permissions of a plain write (0666 less the umask), an existing one
    // keeps its own; a symbolic link stays and its target is replaced. On failure the destination
    // is untouched, no temporary file stays, "ERROR: could not export" goes to the diagnostics and an
    // ioError with the system's reason ("No space left on device") is returned for the user.
    // Where the folder takes no new files but the destination may be written (a 0666 file in a 0555
    // folder), the file is truncated, written and synced in place; a failure then may leave it
    // partly written and is reported the same way. Success means every byte is on disk.
    static foundation::Status write(std::string_view text, const std::filesystem::path& path);
};

} // namespace exports

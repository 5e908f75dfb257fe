// The printed page of the projects (PDF and print), drawn as the HTML page's style sheet draws it,
// laid out without the HTML: each text one text layout. Qt; main thread.
#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace exports {

// One project as the printed page shows it. Texts are as the HTML page holds them: the notes (the
// project's and the Notes column's) keep their spaces and line breaks (CR LF, CR or LF), every other
// text shows its runs of white space as one space.
struct PrintedProject {
    QString name;
    std::vector<QString> headingLines; // "Client: ACME", "Hourly Rate: $100.00": those the fields show
    std::optional<QString> notes;      // the project's notes, where the fields show them and they are not empty
    std::vector<QString> columns;      // the labels of the shown columns, the date's first
    bool notesColumn = false;          // the last column is Notes: 35 % of the width
    std::vector<QString> cells;        // the timers' rows, one text per column each
    std::vector<QString> sum;          // the sum row, one text per column
    std::size_t rowCount() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
};

enum class PrintOutcome { done, stopped, failed };

// Per project its name, the heading lines and notes the fields show, and a table of its timers whose
// header row repeats at the top of every page the table runs onto. The pages break between rows (a
// row taller than a page between its lines).
class PrintedPages {
public:
    // Called when a page is full, before the next one starts, and by finish(): the number of timer
    // rows painted so far. Returning false stops the painting.
    using PageDone = std::function<bool(std::size_t rowsPainted)>;

    // Paints with `painter`, active on `device`, from the top of its first page.
    PrintedPages(QPagedPaintDevice& device, QPainter& painter, PageDone pageDone);
    ~PrintedPages();
    PrintedPages(const PrintedPages&) = delete;
    PrintedPages& operator=(const PrintedPages&) = delete;

    // Lays out `projects` and paints them after the ones before, starting new pages as they fill.
    PrintOutcome paint(const std::vector<PrintedProject>& projects);
    // The last page is done (pageDone is told); the painter may end.
    PrintOutcome finish();

private:
    struct Layouts;
    bool paintProject(const Layouts& layouts, std::size_t table);
    bool paintRow(const Layouts& layouts, std::size_t table, std::size_t row);
    // Lines [from, to) of each cell of `row` in a band `height` high at the current place; below it then.
    void paintBand(const Layouts& layouts, std::size_t table, std::size_t row, const std::vector<int>& from,
                   const std::vector<int>& to, double height);
    bool nextPage();

    QPagedPaintDevice& device_;
    QPainter& painter_;
    PageDone pageDone_;
    double y_ = 0; // where the next thing goes on the current page, from its top
    std::size_t rowsPainted_ = 0;
    PrintOutcome outcome_ = PrintOutcome::done;
};

} // namespace exports

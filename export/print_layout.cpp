// The printed page's layout and painting: a batch of tables laid out in two waves, then the headings
// and the pages.
#include "export/print_layout.h"

#include "export/table_columns.h"

#include <QFont>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <span>

namespace exports {
namespace {

// The HTML page's style sheet on paper, where 1 px is 1/96 inch.
constexpr double paddingPx = 4;    // of every cell
constexpr double headerRulePx = 1; // under the header row
constexpr double nameGapPx = 4;    // below the project's name
constexpr double lineGapPx = 2;    // around each heading line and the notes
constexpr double tableGapPx = 8;   // above the table
constexpr double notesPercent = 35;
constexpr QRgb textColor = 0xff222222;
constexpr QRgb nameColor = 0xff111111;
constexpr QRgb headerColor = 0xff444444;
constexpr QRgb headerBackground = 0xffeeeeee;
constexpr QRgb headerRuleColor = 0xff999999;
constexpr QRgb sumBackground = 0xfff6f6f6;

// Wider than any cell: a text broken at it keeps to the lines it was typed with.
constexpr double unboundedWidth = 1e6;

enum class TextStyle { body, strong, name };

// A font of the page at the device's resolution.
QFont pageFont(TextStyle style, const QPaintDevice& device)
{
    QFont font(QStringList{QStringLiteral("DejaVu Sans"), QStringLiteral("sans-serif")});
    font.setPointSizeF(style == TextStyle::name ? 13.5 : 10);
    font.setWeight(style == TextStyle::body ? QFont::Normal : QFont::Bold);
    // Any letter spacing turns ligatures off, so "ff" stays two letters for search and copy.
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.02);
    return QFont(font, &device);
}

// The page's rich text takes every space character but the no-break space for white space: the thin
// spaces and the narrow no-break space of dates ("9:30 – 10:45 AM") print as plain spaces.
bool isCollapsibleSpace(QChar character)
{
    return character.isSpace() && character != QChar::Nbsp;
}

// "white-space: normal": each run of white space one space, none at either end.
QString collapsedWhiteSpace(const QString& text)
{
    QString collapsed;
    collapsed.reserve(text.size());
    bool spaceBefore = false;
    for (const QChar character : text) {
        if (isCollapsibleSpace(character)) {
            spaceBefore = !collapsed.isEmpty();
            continue;
        }
        if (spaceBefore)
            collapsed += u' ';
        spaceBefore = false;
        collapsed += character;
    }
    return collapsed;
}

// "white-space: pre-wrap" as a browser reads it: CR LF, a lone CR and LF are one line break each.
QString withLineBreaks(const QString& text)
{
    if (!text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString broken;
    broken.reserve(text.size());
    for (qsizetype index = 0; index < text.size(); ++index) {
        const QChar character = text[index];
        if (character != u'\n' && character != u'\r') {
            broken += character;
            continue;
        }
        broken += QChar::LineSeparator;
        if (character == u'\r' && index + 1 < text.size() && text[index + 1] == u'\n')
            ++index;
    }
    return broken;
}

std::unique_ptr<QTextLayout> textLayout(const QString& text, const QFont& font)
{
    auto layout = std::make_unique<QTextLayout>(text, font);
    QTextOption option;
    // A word longer than its column breaks rather than widen the table past the page.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(Qt::LayoutDirectionAuto);
    layout->setTextOption(option);
    layout->setCacheEnabled(true); // the shaped text stays for painting
    return layout;
}

// Breaks the text into lines of `width`, one under the other; their height.
double breakLines(QTextLayout& layout, double width)
{
    double height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

struct CellText {
    std::unique_ptr<QTextLayout> layout;
    double brokenAt = 0; // the width its lines were broken at
    double narrowest = 0;
    double widest = 0;
    double height = 0;
};

// The height of lines [from, to) of `cell`.
double linesHeight(const CellText& cell, int from, int to)
{
    if (from >= to)
        return 0;
    const QTextLine last = cell.layout->lineAt(to - 1);
    return last.y() + last.height() - cell.layout->lineAt(from).y();
}

} // namespace

struct PrintedPages::Layouts {
    struct Table {
        const PrintedProject* project = nullptr;
        std::size_t columns = 0;
        std::size_t rows = 0; // the header, the timers and the sum
        std::vector<CellText> cells;
        std::vector<double> left;
        std::vector<double> widths;
        std::vector<double> heights; // of each row, with its padding

        CellText& cell(std::size_t row, std::size_t column) { return cells[row * columns + column]; }
        const CellText& cell(std::size_t row, std::size_t column) const { return cells[row * columns + column]; }
        const QString& text(std::size_t row, std::size_t column) const
        {
            if (row == 0)
                return project->columns[column];
            if (row + 1 == rows)
                return project->sum[column];
            return project->cells[(row - 1) * columns + column];
        }
        bool strong(std::size_t row) const { return row == 0 || row + 1 == rows; }
        bool holdsNotes(std::size_t column) const { return project->notesColumn && column + 1 == columns; }
        double width() const { return left.back() + widths.back(); }
    };
    std::vector<Table> tables;
    double px = 1;
};

PrintedPages::PrintedPages(QPagedPaintDevice& device, QPainter& painter, PageDone pageDone)
    : device_(device), painter_(painter), pageDone_(std::move(pageDone))
{}

PrintedPages::~PrintedPages() = default;

namespace {

// What a table's columns need before their cells are known: their padding, and Notes its share.
std::vector<ColumnNeed> trialNeeds(std::size_t columns, bool notesColumn, double padding)
{
    std::vector<ColumnNeed> needs(columns, ColumnNeed{2 * padding, 2 * padding, std::nullopt});
    if (notesColumn)
        needs.back().percent = notesPercent;
    return needs;
}

// The columns' left edges and widths: the rich-text layout's widths, the edges on whole device units
// as its own are (so a cell wraps where it wrapped there).
void placeColumns(std::span<const ColumnNeed> needs, double tableWidth, std::vector<double>& left,
                  std::vector<double>& widths)
{
    const std::vector<double> exact = columnWidths(needs, tableWidth);
    left.assign(exact.size(), 0);
    widths.assign(exact.size(), 0);
    double edge = 0;
    for (std::size_t column = 0; column < exact.size(); ++column) {
        left[column] = std::round(edge);
        edge += exact[column];
        widths[column] = (column + 1 < exact.size() ? std::round(edge) : tableWidth) - left[column];
    }
}

} // namespace

// The cells of the batch are laid out in two waves: each text shaped and broken at a trial width (the
// Notes share for notes, one line for the rest) to learn its narrowest and widest extent, then, once
// the table's column widths are known, broken again where its column asks for other lines. Then the
// headings are laid out and the pages filled.
PrintOutcome PrintedPages::paint(const std::vector<PrintedProject>& projects)
{
    if (outcome_ != PrintOutcome::done)
        return outcome_;
    Layouts layouts;
    layouts.px = device_.logicalDpiY() / 96.0;
    const double padding = paddingPx * layouts.px;
    const double tableWidth = device_.width();
    layouts.tables.resize(projects.size());
    for (std::size_t index = 0; index < projects.size(); ++index) {
        Layouts::Table& table = layouts.tables[index];
        table.project = &projects[index];
        table.columns = projects[index].columns.size();
        table.rows = projects[index].rowCount() + 2;
        table.cells.resize(table.rows * table.columns);
        // The Notes share as it comes out unless the other columns' narrowest cells take part of it.
        placeColumns(trialNeeds(table.columns, table.project->notesColumn, padding), tableWidth, table.left,
                     table.widths);
        table.heights.assign(table.rows, 0);
    }

    // First wave: every cell shaped and broken at its trial width.
    const QFont body = pageFont(TextStyle::body, device_);
    const QFont strong = pageFont(TextStyle::strong, device_);
    for (Layouts::Table& table : layouts.tables) {
        for (std::size_t row = 0; row < table.rows; ++row) {
            for (std::size_t column = 0; column < table.columns; ++column) {
                CellText& cell = table.cell(row, column);
                const QString& text = table.text(row, column);
                const bool notes = table.holdsNotes(column);
                cell.layout = textLayout(notes ? withLineBreaks(text) : collapsedWhiteSpace(text),
                                         table.strong(row) ? strong : body);
                cell.brokenAt = notes ? table.widths[column] - 2 * padding : unboundedWidth;
                cell.height = breakLines(*cell.layout, cell.brokenAt);
                cell.narrowest = cell.layout->minimumWidth();
                cell.widest = cell.layout->maximumWidth();
            }
        }
    }

    for (Layouts::Table& table : layouts.tables) {
        // Each cell's extent in whole device units, rounded up, as the rich-text layout takes it.
        std::vector<ColumnNeed> needs = trialNeeds(table.columns, table.project->notesColumn, padding);
        for (std::size_t row = 0; row < table.rows; ++row) {
            for (std::size_t column = 0; column < table.columns; ++column) {
                const CellText& cell = table.cell(row, column);
                needs[column].narrowest = std::max(needs[column].narrowest, std::ceil(cell.narrowest) + 2 * padding);
                needs[column].widest = std::max(needs[column].widest, std::ceil(cell.widest) + 2 * padding);
            }
        }
        placeColumns(needs, tableWidth, table.left, table.widths);
    }

    // Second wave: the cells whose lines change at their column's width, and the rows' heights.
    const double rule = headerRulePx * layouts.px;
    for (Layouts::Table& table : layouts.tables) {
        for (std::size_t row = 0; row < table.rows; ++row) {
            double height = 0;
            for (std::size_t column = 0; column < table.columns; ++column) {
                CellText& cell = table.cell(row, column);
                const double width = table.widths[column] - 2 * padding;
                // Left-aligned lines shorter than the column are the same lines at any wider width.
                const bool keepsLines = cell.brokenAt == width
                                        || (cell.brokenAt == unboundedWidth && cell.widest <= width
                                            && !cell.layout->text().isRightToLeft());
                if (!keepsLines) {
                    cell.height = breakLines(*cell.layout, width);
                    cell.brokenAt = width;
                }
                height = std::max(height, cell.height);
            }
            table.heights[row] = std::ceil(height + 2 * padding + (row == 0 ? rule : 0));
        }
    }

    for (std::size_t index = 0; index < layouts.tables.size(); ++index)
        if (!paintProject(layouts, index))
            break;
    return outcome_;
}

PrintOutcome PrintedPages::finish()
{
    if (outcome_ == PrintOutcome::done && !pageDone_(rowsPainted_))
        outcome_ = PrintOutcome::stopped;
    return outcome_;
}

bool PrintedPages::nextPage()
{
    if (!pageDone_(rowsPainted_)) {
        outcome_ = PrintOutcome::stopped;
        return false;
    }
    if (!device_.newPage()) {
        outcome_ = PrintOutcome::failed;
        return false;
    }
    y_ = 0;
    return true;
}

bool PrintedPages::paintProject(const Layouts& layouts, std::size_t index)
{
    const Layouts::Table& table = layouts.tables[index];
    const PrintedProject& project = *table.project;
    const double pageHeight = device_.height();
    const double width = device_.width();

    // The heading: the name, the chosen lines and the notes, each a block with its margins above
    // and below; between two blocks the larger of the two.
    struct Block {
        std::unique_ptr<QTextLayout> layout;
        double height;
        double marginAbove;
        double marginBelow;
        QRgb color;
    };
    std::vector<Block> blocks;
    const QFont body = pageFont(TextStyle::body, device_);
    const auto addBlock = [&](const QString& text, const QFont& font, double above, double below, QRgb color) {
        auto layout = textLayout(text, font);
        const double height = breakLines(*layout, width);
        blocks.push_back({std::move(layout), height, above * layouts.px, below * layouts.px, color});
    };
    addBlock(collapsedWhiteSpace(project.name), pageFont(TextStyle::name, device_), 0, nameGapPx, nameColor);
    for (const QString& line : project.headingLines)
        addBlock(collapsedWhiteSpace(line), body, lineGapPx, lineGapPx, textColor);
    if (project.notes)
        addBlock(withLineBreaks(*project.notes), body, lineGapPx, lineGapPx, textColor);
    const double tableGap = std::max(blocks.back().marginBelow, tableGapPx * layouts.px);

    // The heading goes where the header row and the first row go with it, unless they are taller than a page.
    double together = tableGap + table.heights[0] + table.heights[1];
    for (std::size_t block = 0; block < blocks.size(); ++block)
        together +=
            blocks[block].height + (block > 0 ? std::max(blocks[block - 1].marginBelow, blocks[block].marginAbove) : 0);
    if (y_ > 0 && y_ + together > pageHeight && together <= pageHeight && !nextPage())
        return false;

    for (std::size_t block = 0; block < blocks.size(); ++block) {
        if (block > 0 && y_ > 0)
            y_ += std::max(blocks[block - 1].marginBelow, blocks[block].marginAbove);
        painter_.setPen(QColor::fromRgb(blocks[block].color));
        const QTextLayout& layout = *blocks[block].layout;
        for (int number = 0; number < layout.lineCount(); ++number) {
            const QTextLine line = layout.lineAt(number);
            if (y_ > 0 && y_ + line.height() > pageHeight && !nextPage())
                return false;
            line.draw(&painter_, QPointF(0, y_ - line.y()));
            y_ += line.height();
        }
    }
    if (y_ > 0)
        y_ += tableGap;

    for (std::size_t row = 0; row < table.rows; ++row)
        if (!paintRow(layouts, index, row))
            return false;
    return true;
}

void PrintedPages::paintBand(const Layouts& layouts, std::size_t index, std::size_t row, const std::vector<int>& from,
                             const std::vector<int>& to, double height)
{
    const Layouts::Table& table = layouts.tables[index];
    const double padding = paddingPx * layouts.px;
    if (row == 0) {
        const double rule = headerRulePx * layouts.px;
        painter_.fillRect(QRectF(0, y_, table.width(), height), QColor::fromRgb(headerBackground));
        painter_.fillRect(QRectF(0, y_ + height - rule, table.width(), rule), QColor::fromRgb(headerRuleColor));
    } else if (row + 1 == table.rows) {
        painter_.fillRect(QRectF(0, y_, table.width(), height), QColor::fromRgb(sumBackground));
    }
    painter_.setPen(QColor::fromRgb(row == 0 ? headerColor : textColor));
    for (std::size_t column = 0; column < table.columns; ++column) {
        if (from[column] >= to[column])
            continue;
        const QTextLayout& layout = *table.cell(row, column).layout;
        const QPointF origin(table.left[column] + padding, y_ + padding - layout.lineAt(from[column]).y());
        for (int line = from[column]; line < to[column]; ++line)
            layout.lineAt(line).draw(&painter_, origin);
    }
    y_ += height;
}

bool PrintedPages::paintRow(const Layouts& layouts, std::size_t index, std::size_t row)
{
    const Layouts::Table& table = layouts.tables[index];
    const double pageHeight = device_.height();
    const double padding = paddingPx * layouts.px;
    const double rule = row == 0 ? headerRulePx * layouts.px : 0;
    const auto lineCounts = [&](std::size_t of) {
        std::vector<int> counts(table.columns);
        for (std::size_t column = 0; column < table.columns; ++column)
            counts[column] = table.cell(of, column).layout->lineCount();
        return counts;
    };
    const std::vector<int> ends = lineCounts(row);
    std::vector<int> next(table.columns, 0); // the first line of each cell not painted yet
    bool fresh = false;                      // the page holds nothing but the header above the row

    for (;;) {
        double rest = 0;
        for (std::size_t column = 0; column < table.columns; ++column)
            rest = std::max(rest, linesHeight(table.cell(row, column), next[column], ends[column]));
        rest += 2 * padding + rule;
        // Past a page of its own with no line left, only the padding is left: painted here, however
        // short the page, rather than turning pages for ever.
        if (y_ + rest <= pageHeight || (y_ == 0 && row == 0) || (fresh && next == ends)) {
            paintBand(layouts, index, row, next, ends, rest);
            break;
        }
        const double headerHeight = row > 0 ? table.heights[0] : 0;
        if (fresh || headerHeight + rest > pageHeight) {
            // Taller than a page: the lines that fit here, the others on the pages after.
            const double room = pageHeight - y_ - 2 * padding - rule;
            std::vector<int> until = next;
            double band = 0;
            for (std::size_t column = 0; column < table.columns; ++column) {
                const CellText& cell = table.cell(row, column);
                while (until[column] < ends[column] && linesHeight(cell, next[column], until[column] + 1) <= room)
                    ++until[column];
                // Each page takes a line at the least, however short the page.
                if (fresh && until[column] == next[column] && next[column] < ends[column])
                    ++until[column];
                band = std::max(band, linesHeight(cell, next[column], until[column]));
            }
            if (band > 0) {
                paintBand(layouts, index, row, next, until, band + 2 * padding + rule);
                next = until;
            }
        }
        if (!nextPage())
            return false;
        if (row > 0)
            paintBand(layouts, index, 0, std::vector<int>(table.columns, 0), lineCounts(0), table.heights[0]);
        fresh = true;
    }
    if (row > 0 && row + 1 < table.rows)
        ++rowsPainted_;
    return true;
}

} // namespace exports

// The CSV export: a header row of the columns the chosen fields call for, then per project its row,
// its timers' rows and an empty line. Cells are separated by ";"; a cell that would split the row
// is quoted, every other one is written bare; names and notes never start a formula.
#include "export/exporter.h"

#include "export/export_formatters.h"

#include "model/client.h"
#include "model/enums.h"
#include "model/project.h"
#include "model/timer.h"

#include <vector>

namespace exports {
namespace {

struct CsvContext {
    const ExportFormatters& formatters;
    ExportFieldSet fields;
    foundation::Date now;

    bool on(ExportField field) const { return fields.contains(field); }
    bool hasPauseColumn() const { return on(ExportField::timerPause); }
    bool hasDurationColumn() const { return on(ExportField::projectDuration) || on(ExportField::timerDuration); }
    bool hasRateColumn() const { return on(ExportField::projectHourlyRate) || on(ExportField::timerHourlyRate); }
    bool hasNotesColumn() const { return on(ExportField::projectNotes) || on(ExportField::timerNotes); }
};

// A row being appended to a document: cells joined by the separator.
class Row {
public:
    explicit Row(std::string& out) : text_(out) {}

    void add(std::string_view cell)
    {
        if (!first_)
            text_ += Exporter::csvSeparator;
        first_ = false;
        appendCell(cell);
    }

private:
    // Bare, a separator or a line break inside a cell would start a new cell or row, and a double
    // quote could be read as quoting; such cells are quoted with their quotes doubled.
    void appendCell(std::string_view cell)
    {
        if (cell.find_first_of(";\"\n\r") == std::string_view::npos) {
            text_ += cell;
            return;
        }
        text_ += '"';
        for (auto quote = cell.find('"'); quote != std::string_view::npos; quote = cell.find('"')) {
            text_.append(cell.substr(0, quote + 1)).push_back('"');
            cell.remove_prefix(quote + 1);
        }
        text_.append(cell).push_back('"');
    }

    std::string& text_;
    bool first_ = true;
};

// A cell of the user's own text (names, notes). One starting with "=", "+", "-", "@", a tab or a
// carriage return would be read as a formula by spreadsheets, which run what it calls (a link that
// sends the sheet away, a command); such a cell gets a leading "'", which spreadsheets take as "text"
// and do not show. The values the exporter formats itself ("-CHF 50.00", "-1:30") stay as they are.
std::string userText(std::string text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(text.begin(), '\'');
    return text;
}

std::string money(const CsvContext& context, const foundation::Decimal& amount,
                  std::optional<std::string_view> currency)
{
    return context.formatters.moneyText(amount, currency).value_or(std::string());
}

void appendHeaderRow(std::string& out, const CsvContext& context)
{
    Row row(out);
    row.add("Name");
    if (context.on(ExportField::timerStartEnd)) {
        row.add("Start");
        row.add("End");
    } else {
        row.add("Date");
    }
    if (context.hasPauseColumn())
        row.add("Pause");
    if (context.hasDurationColumn())
        row.add("Duration");
    if (context.hasRateColumn())
        row.add("Hourly Rate");
    if (context.on(ExportField::timerCost))
        row.add("Costs");
    if (context.on(ExportField::timerBilled))
        row.add("Billed");
    if (context.hasNotesColumn())
        row.add("Notes");
}

void appendTimerRow(std::string& out, const model::Timer& timer, const CsvContext& context,
                    std::optional<std::string_view> currency, std::int64_t duration)
{
    const bool expense = timer.isExpenseTimer();
    const std::optional<foundation::Date> start = timer.start();
    Row row(out);
    row.add({});
    row.add(start ? context.formatters.dateTimeText(*start) : std::string());
    if (context.on(ExportField::timerStartEnd)) {
        const bool period = timer.type() == model::rawValue(model::TimerType::period);
        row.add(period ? context.formatters.dateTimeText(timer.end().value_or(context.now)) : std::string());
    }
    if (context.hasPauseColumn())
        row.add(expense ? std::string() : clockDurationText(timer.pauseDuration()));
    if (context.hasDurationColumn())
        row.add(context.on(ExportField::timerDuration) && !expense ? clockDurationText(duration) : std::string());
    if (context.hasRateColumn())
        row.add(context.on(ExportField::timerHourlyRate) && !expense ? money(context, timer.hourlyRate(), currency)
                                                                     : std::string());
    if (context.on(ExportField::timerCost))
        row.add(money(context, timer.costsOfDuration(duration), currency));
    if (context.on(ExportField::timerBilled))
        row.add(timer.billed() ? "1" : "0");
    // Without its own notes field a row has no Notes cell at all, one cell short of the header.
    if (context.on(ExportField::timerNotes))
        row.add(userText(timer.notes().value_or(std::string())));
}

void appendProjectRow(std::string& out, const model::Project& project, std::int64_t listedMinutes,
                      const CsvContext& context, std::string_view currency)
{
    std::string name = project.name().value_or(std::string());
    if (context.on(ExportField::projectClientName))
        if (const model::Client* client = project.client())
            if (const auto clientName = client->name())
                name.append(" (").append(*clientName).append(")");
    Row row(out);
    row.add(userText(std::move(name)));
    row.add({});
    if (context.on(ExportField::timerStartEnd))
        row.add({});
    if (context.hasPauseColumn())
        row.add({});
    if (context.hasDurationColumn()) {
        std::string duration;
        if (context.on(ExportField::projectDuration))
            duration = clockDurationText(listedMinutes);
        row.add(duration);
    }
    if (context.hasRateColumn())
        row.add(context.on(ExportField::projectHourlyRate) ? money(context, project.hourlyRate(), currency)
                                                           : std::string());
    // The cost of all the project's timers, whatever the filter.
    if (context.on(ExportField::timerCost))
        row.add(money(context, project.costs(), currency));
    if (context.on(ExportField::timerBilled))
        row.add({});
    if (context.on(ExportField::projectNotes))
        row.add(userText(project.notes().value_or(std::string())));
}

void appendProjectRows(std::string& out, const model::Project& project, const std::vector<model::Timer*>& timers,
                       const CsvContext& context)
{
    const std::string currency = project.currency();
    // The listed timers' minutes: what Project::duration(filter) sums, without fetching again.
    std::vector<std::int64_t> durations;
    durations.reserve(timers.size());
    std::int64_t listedMinutes = 0;
    for (const model::Timer* timer : timers) {
        durations.push_back(timer->duration());
        listedMinutes += durations.back();
    }
    appendProjectRow(out, project, listedMinutes, context, currency);
    out += "\n";
    for (std::size_t index = 0; index < timers.size(); ++index) {
        appendTimerRow(out, *timers[index], context, currency, durations[index]);
        out += "\n";
    }
}

CsvContext makeContext(const ExportFields& fields)
{
    const ExportFormatters& formatters = ExportFormatters::shared();
    return CsvContext{formatters, ExportFieldSet(fields), formatters.nowToMinute()};
}

} // namespace

std::string Exporter::csvDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                  const ExportFields& fields)
{
    const CsvContext context = makeContext(fields);
    std::vector<std::vector<model::Timer*>> timersOfProjects;
    timersOfProjects.reserve(projects.size());
    std::size_t timerCount = 0;
    for (const model::Project* project : projects) {
        timersOfProjects.push_back(project->timers(filter));
        timerCount += timersOfProjects.back().size();
    }
    std::string document;
    document.reserve(documentCapacity(projects.size(), timerCount));
    appendHeaderRow(document, context);
    document += "\n";
    for (std::size_t index = 0; index < projects.size(); ++index) {
        appendProjectRows(document, *projects[index], timersOfProjects[index], context);
        document += "\n";
    }
    return document;
}

std::string Exporter::csvProjectRows(const model::Project& project, const model::Filter& filter,
                                     const ExportFields& fields)
{
    std::string rows;
    appendProjectRows(rows, project, project.timers(filter), makeContext(fields));
    return rows;
}

std::string Exporter::csvTimerRow(const model::Timer& timer, const ExportFields& fields)
{
    std::optional<std::string> currency;
    if (const model::Project* project = timer.project())
        currency = project->currency();
    std::string row;
    appendTimerRow(row, timer, makeContext(fields), currency, timer.duration());
    return row;
}

} // namespace exports

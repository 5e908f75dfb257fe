// The plain-text export: per project a framed title, optional notes and totals, then the timers'
// entries with their indented detail lines. The export fields decide which pieces appear.
#include "export/exporter.h"

#include "export/export_formatters.h"

#include "model/client.h"
#include "model/project.h"
#include "model/timer.h"

#include "foundation/locale.h"

#include <vector>

namespace exports {
namespace {

// What one document's builders share: the formatters, the chosen fields and the minute that stands
// in for a running timer's end, taken once so every entry of the document agrees.
struct TextContext {
    const ExportFormatters& formatters;
    ExportFieldSet fields;
    foundation::Date now;

    bool on(ExportField field) const { return fields.contains(field); }
};

std::optional<std::string_view> currencyOf(const model::Timer& timer, std::string& storage)
{
    const model::Project* project = timer.project();
    if (!project)
        return std::nullopt;
    storage = project->currency();
    return storage;
}

void appendLabelLine(std::string& text, std::string_view label, std::string_view value)
{
    text.append("  ").append(label).append(": ").append(value).append("\n");
}

// Appends one entry; the timer's duration and cost are handed in because the block sums them as well.
void appendTimerEntry(std::string& text, const model::Timer& timer, const TextContext& context,
                      std::optional<std::string_view> currency, std::int64_t duration, const foundation::Decimal& costs)
{
    const bool expense = timer.isExpenseTimer();
    text += "- ";
    text += context.formatters.timerDateText(timer, context.on(ExportField::timerStartEnd), context.now);
    if (context.on(ExportField::timerDuration) && !expense)
        text.append(", ").append(durationText(duration));
    text += "\n";
    if (context.on(ExportField::timerNotes))
        if (const auto notes = timer.notes())
            text.append("  ").append(*notes).append("\n");
    if (!expense) {
        if (context.on(ExportField::timerPause))
            if (const std::int64_t pause = timer.pauseDuration(); pause > 0)
                appendLabelLine(text, "Pause", durationText(pause));
        if (context.on(ExportField::timerHourlyRate))
            if (const auto rate = timer.customHourlyRate())
                if (const auto rateText = context.formatters.moneyText(*rate, currency))
                    appendLabelLine(text, "Hourly Rate", *rateText);
    }
    if (context.on(ExportField::timerCost))
        if (const auto costText = context.formatters.moneyText(costs, currency))
            appendLabelLine(text, "Cost", *costText);
    if (context.on(ExportField::timerBilled) && timer.billed())
        text += "  Billed: \u2714\uFE0E\n";
    text += "\n";
}

std::string projectHeader(const model::Project& project, const TextContext& context, std::string_view currency)
{
    std::string title = project.name().value_or(std::string());
    if (context.on(ExportField::projectClientName))
        if (const model::Client* client = project.client())
            if (const auto clientName = client->name())
                title.append(" | ").append(*clientName);
    if (context.on(ExportField::projectHourlyRate)) {
        const foundation::Decimal rate = project.hourlyRate();
        if (rate.toDouble() > 0.0)
            if (const auto rateText = context.formatters.moneyText(rate, currency))
                title.append(" | Hourly Rate: ").append(*rateText);
    }
    const std::string rule(foundation::graphemeClusterCount(title) + 2, '-');
    std::string header;
    header.reserve(2 * rule.size() + title.size() + 8);
    header.append(rule).append("\n ").append(title).append(" \n").append(rule).append("\n\n");
    return header;
}

// Appends one project's block. Its totals stand before its entries, so the timers' durations and
// costs are taken first; the entries then go straight into `text`.
void appendProjectBlock(std::string& text, const model::Project& project, const std::vector<model::Timer*>& timers,
                        const TextContext& context)
{
    const std::string currency = project.currency();
    text += projectHeader(project, context, currency);
    if (context.on(ExportField::projectNotes))
        if (const auto notes = project.notes())
            text.append(*notes).append("\n\n");

    std::vector<std::int64_t> durations;
    std::vector<foundation::Decimal> costs;
    durations.reserve(timers.size());
    costs.reserve(timers.size());
    std::int64_t durationTotal = 0;
    // Summed in double as the totals of the other documents are; only the sum is made decimal again.
    double costTotal = 0.0;
    for (const model::Timer* timer : timers) {
        durations.push_back(timer->duration());
        costs.push_back(timer->costsOfDuration(durations.back()));
        durationTotal += durations.back();
        costTotal += costs.back().toDouble();
    }

    if (context.on(ExportField::projectDuration))
        text.append("Duration: ").append(durationText(durationTotal)).append("\n");
    if (context.on(ExportField::timerCost))
        if (const auto total = foundation::Decimal::fromDouble(costTotal))
            if (const auto totalText = context.formatters.moneyText(*total, currency))
                text.append("Cost: ").append(*totalText).append("\n");
    text += "\n";
    for (std::size_t index = 0; index < timers.size(); ++index) {
        appendTimerEntry(text, *timers[index], context, currency, durations[index], costs[index]);
        text += "\n";
    }
}

TextContext makeContext(const ExportFields& fields)
{
    const ExportFormatters& formatters = ExportFormatters::shared();
    return TextContext{formatters, ExportFieldSet(fields), formatters.nowToMinute()};
}

} // namespace

std::string Exporter::textDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                   const ExportFields& fields)
{
    const TextContext context = makeContext(fields);
    std::vector<std::vector<model::Timer*>> timersOfProjects;
    timersOfProjects.reserve(projects.size());
    std::size_t timerCount = 0;
    for (const model::Project* project : projects) {
        timersOfProjects.push_back(project->timers(filter));
        timerCount += timersOfProjects.back().size();
    }
    std::string document;
    document.reserve(documentCapacity(projects.size(), timerCount));
    for (std::size_t index = 0; index < projects.size(); ++index) {
        appendProjectBlock(document, *projects[index], timersOfProjects[index], context);
        document += "\n";
    }
    return document;
}

std::string Exporter::textProjectBlock(const model::Project& project, const model::Filter& filter,
                                       const ExportFields& fields)
{
    std::string block;
    appendProjectBlock(block, project, project.timers(filter), makeContext(fields));
    return block;
}

std::string Exporter::textProjectHeader(const model::Project& project, const ExportFields& fields)
{
    return projectHeader(project, makeContext(fields), project.currency());
}

std::string Exporter::textTimerLine(const model::Timer& timer, const ExportFields& fields)
{
    std::string storage;
    const auto currency = currencyOf(timer, storage);
    std::string entry;
    appendTimerEntry(entry, timer, makeContext(fields), currency, timer.duration(), timer.costs());
    return entry;
}

} // namespace exports

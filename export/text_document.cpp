// The plain-text export: per project a framed title, optional notes and totals, then the timers'
// entries with their indented detail lines. The export fields decide which pieces appear.
#include "export/exporter.h"

#include "export/export_formatters.h"

#include "model/client.h"
#include "model/project.h"
#include "model/timer.h"

#include "foundation/locale.h"

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

// One entry; the timer's duration and cost are handed in because the block sums them as well.
std::string timerEntry(const model::Timer& timer, const TextContext& context, std::optional<std::string_view> currency,
                       std::int64_t duration, const foundation::Decimal& costs)
{
    const bool expense = timer.isExpenseTimer();
    std::string text = "- ";
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
    return text;
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

std::string projectBlock(const model::Project& project, const model::Filter& filter, const TextContext& context)
{
    const std::string currency = project.currency();
    std::string text = projectHeader(project, context, currency);
    if (context.on(ExportField::projectNotes))
        if (const auto notes = project.notes())
            text.append(*notes).append("\n\n");

    std::string entries;
    std::int64_t durationTotal = 0;
    // Summed in double as the totals of the other documents are; only the sum is made decimal again.
    double costTotal = 0.0;
    for (const model::Timer* timer : project.timers(filter)) {
        const std::int64_t duration = timer->duration();
        const foundation::Decimal costs = timer->costs();
        entries += timerEntry(*timer, context, currency, duration, costs);
        entries += "\n";
        durationTotal += duration;
        costTotal += costs.toDouble();
    }

    if (context.on(ExportField::projectDuration))
        text.append("Duration: ").append(durationText(durationTotal)).append("\n");
    if (context.on(ExportField::timerCost))
        if (const auto total = foundation::Decimal::fromDouble(costTotal))
            if (const auto totalText = context.formatters.moneyText(*total, currency))
                text.append("Cost: ").append(*totalText).append("\n");
    text += "\n";
    text += entries;
    return text;
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
    std::string document;
    for (const model::Project* project : projects) {
        document += projectBlock(*project, filter, context);
        document += "\n";
    }
    return document;
}

std::string Exporter::textProjectBlock(const model::Project& project, const model::Filter& filter,
                                       const ExportFields& fields)
{
    return projectBlock(project, filter, makeContext(fields));
}

std::string Exporter::textProjectHeader(const model::Project& project, const ExportFields& fields)
{
    return projectHeader(project, makeContext(fields), project.currency());
}

std::string Exporter::textTimerLine(const model::Timer& timer, const ExportFields& fields)
{
    std::string storage;
    const auto currency = currencyOf(timer, storage);
    return timerEntry(timer, makeContext(fields), currency, timer.duration(), timer.costs());
}

} // namespace exports

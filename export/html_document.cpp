// The HTML export: the page template filled with the style sheet and the project blocks, each block
// the project fragment filled with its values, its timer rows and its sums. Values are escaped as they
// are inserted; every fill is one pass over its template.
#include "export/exporter.h"

#include "export/export_formatters.h"
#include "export/html_markup.h"
#include "export/html_templates.h"

#include "model/client.h"
#include "model/project.h"
#include "model/timer.h"

#include <algorithm>
#include <array>
#include <functional>

namespace exports {
namespace {

constexpr std::string_view hidden = "hidden";
constexpr std::string_view billedMark = "\u2714\uFE0E";

struct HtmlContext {
    const ExportFormatters& formatters;
    const HtmlTemplates& templates;
    ExportFieldSet fields;
    foundation::Date now;

    bool on(ExportField field) const { return fields.contains(field); }
    // The class word of an optional field's elements: nothing when chosen, "hidden" otherwise.
    std::string_view hiddenUnless(bool chosen) const { return chosen ? std::string_view() : hidden; }
};

HtmlContext makeContext(const ExportFields& fields)
{
    const ExportFormatters& formatters = ExportFormatters::shared();
    return HtmlContext{formatters, HtmlTemplates::shared(), ExportFieldSet(fields), formatters.nowToMinute()};
}

std::string escapedMoney(const HtmlContext& context, const foundation::Decimal& amount,
                         std::optional<std::string_view> currency)
{
    const auto text = context.formatters.moneyText(amount, currency);
    return text ? htmlEscaped(*text) : std::string();
}

// Appends one timer's row: `fragment` with the timer's seven placeholders filled. The timer's duration
// and cost are handed in because the project block sums them as well.
void appendTimerRow(std::string& out, std::string_view fragment, const model::Timer& timer, const HtmlContext& context,
                    std::optional<std::string_view> currency, std::int64_t duration, const foundation::Decimal& costs)
{
    const bool expense = timer.isExpenseTimer();
    const std::string date =
        htmlEscaped(context.formatters.timerDateText(timer, context.on(ExportField::timerStartEnd), context.now));
    const std::string notes = htmlEscaped(timer.notes().value_or(std::string()));
    const std::string durationCell =
        context.on(ExportField::timerDuration) && !expense ? htmlEscaped(durationText(duration)) : std::string();
    const std::string pause = expense ? std::string() : htmlEscaped(durationText(timer.pauseDuration()));
    const std::string rate = expense ? std::string() : escapedMoney(context, timer.hourlyRate(), currency);
    const std::string cost = costs.toDouble() > 0.0 ? escapedMoney(context, costs, currency) : std::string();
    const std::string_view billed = timer.billed() ? billedMark : std::string_view();
    appendReplacingPlaceholders(out, fragment,
                                {{"%date%", date},
                                 {"%notes%", notes},
                                 {"%duration%", durationCell},
                                 {"%pause%", pause},
                                 {"%cost%", cost},
                                 {"%hourly_rate%", rate},
                                 {"%billed%", billed}});
}

void appendProjectBlock(std::string& out, const model::Project& project, const std::vector<model::Timer*>& timers,
                        const HtmlContext& context)
{
    const std::string currency = project.currency();
    std::vector<std::int64_t> durations;
    std::vector<foundation::Decimal> costs;
    durations.reserve(timers.size());
    costs.reserve(timers.size());
    std::int64_t durationSum = 0;
    // Summed in double as the other documents' totals are; only the sum is made decimal again.
    double costSum = 0.0;
    for (const model::Timer* timer : timers) {
        durations.push_back(timer->duration());
        costs.push_back(timer->costs());
        durationSum += durations.back();
        costSum += costs.back().toDouble();
    }

    const std::string durationSumText =
        context.on(ExportField::projectDuration) ? htmlEscaped(durationText(durationSum)) : std::string();
    const auto costSumDecimal = foundation::Decimal::fromDouble(costSum);
    const std::string costSumText = costSumDecimal ? escapedMoney(context, *costSumDecimal, currency) : std::string();
    const bool anyDuration = context.on(ExportField::projectDuration) || context.on(ExportField::timerDuration);

    // What the project pass fills after "%timers%" also acts on the rows, so the rows are made from
    // the timer fragment with those already filled (the values hold no "%": the order cannot matter).
    const std::array<Placeholder, 13> afterTimers = {{
        {"%sum_label%", "SUM"}, // "Sum" in upper case
        {"%duration_sum%", durationSumText},
        {"%cost_sum%", costSumText},
        {"%pause_label%", "Pause"},
        {"%project_client_name_hidden%", context.hiddenUnless(context.on(ExportField::projectClientName))},
        {"%project_hourly_rate_hidden%", context.hiddenUnless(context.on(ExportField::projectHourlyRate))},
        {"%project_notes_hidden%", context.hiddenUnless(context.on(ExportField::projectNotes))},
        {"%timer_pause_hidden%", context.hiddenUnless(context.on(ExportField::timerPause))},
        {"%timer_hourly_rate_hidden%", context.hiddenUnless(context.on(ExportField::timerHourlyRate))},
        {"%timer_cost_hidden%", context.hiddenUnless(context.on(ExportField::timerCost))},
        {"%timer_billed_hidden%", context.hiddenUnless(context.on(ExportField::timerBilled))},
        {"%timer_notes_hidden%", context.hiddenUnless(context.on(ExportField::timerNotes))},
        {"%duration_hidden%", context.hiddenUnless(anyDuration)},
    }};
    std::string rowFragment;
    appendReplacingPlaceholders(rowFragment, context.templates.timer, afterTimers);
    // The rows go straight into the block where "%timers%" stands.
    const std::function<void(std::string&)> writeRows = [&](std::string& rows) {
        for (std::size_t index = 0; index < timers.size(); ++index)
            appendTimerRow(rows, rowFragment, *timers[index], context, currency, durations[index], costs[index]);
    };

    const model::Client* client = project.client();
    const std::string name = htmlEscaped(project.name().value_or(std::string()));
    const std::string clientName = htmlEscaped(client ? client->name().value_or(std::string()) : std::string());
    const std::string rate = escapedMoney(context, project.hourlyRate(), currency);
    const std::string notes = htmlEscaped(project.notes().value_or(std::string()));
    // One pass: the rows are inserted as they are, so the placeholders before "%timers%" do not act on
    // them, and those after it already have.
    std::array<Placeholder, 25> placeholders = {{
        {"%project_name%", name},
        {"%client_name_label%", "Client"},
        {"%client_name%", clientName},
        {"%hourly_rate_label%", "Hourly Rate"},
        {"%hourly_rate%", rate},
        {"%notes%", notes},
        {"%date_label%", "Date"},
        {"%notes_label%", "Notes"},
        {"%duration_label%", "Duration"},
        {"%cost_label%", "Cost"},
        {"%billed_label%", "Billed"},
        {"%timers%", {}, &writeRows},
    }};
    std::copy(afterTimers.begin(), afterTimers.end(), placeholders.begin() + 12);
    appendReplacingPlaceholders(out, context.templates.project, placeholders);
}

} // namespace

std::string Exporter::htmlDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                   const ExportFields& fields)
{
    const HtmlContext context = makeContext(fields);
    // The blocks go straight into the page: a page of 100,000 timers is tens of megabytes, and
    // building it apart and copying it in cost as much as making it.
    std::vector<std::vector<model::Timer*>> timersOfProjects;
    timersOfProjects.reserve(projects.size());
    std::size_t timerCount = 0;
    for (const model::Project* project : projects) {
        timersOfProjects.push_back(project->timers(filter));
        timerCount += timersOfProjects.back().size();
    }
    const std::function<void(std::string&)> writeBlocks = [&](std::string& blocks) {
        for (std::size_t index = 0; index < projects.size(); ++index) {
            appendProjectBlock(blocks, *projects[index], timersOfProjects[index], context);
            blocks += "\n";
        }
    };
    // Room for rows with notes of up to about a kilobyte, so the page is not copied as it grows;
    // what the rows leave unused is never touched and takes no memory.
    std::string page;
    page.reserve(context.templates.page.size() + context.templates.css.size()
                 + projects.size() * (context.templates.project.size() + 1024)
                 + timerCount * (context.templates.timer.size() + 1024));
    appendReplacingPlaceholders(page, context.templates.page,
                                {{"%css%", context.templates.css}, {"%projects%", {}, &writeBlocks}});
    return page;
}

std::string Exporter::htmlProjectFragment(const model::Project& project, const model::Filter& filter,
                                          const ExportFields& fields)
{
    std::string block;
    appendProjectBlock(block, project, project.timers(filter), makeContext(fields));
    return block;
}

std::string Exporter::htmlTimerFragment(const model::Timer& timer, const ExportFields& fields)
{
    const HtmlContext context = makeContext(fields);
    std::string currency;
    std::optional<std::string_view> currencyView;
    if (const model::Project* project = timer.project()) {
        currency = project->currency();
        currencyView = currency;
    }
    std::string row;
    appendTimerRow(row, context.templates.timer, timer, context, currencyView, timer.duration(), timer.costs());
    return row;
}

} // namespace exports

// The HTML export: the page template filled with the style sheet and the project blocks, each block
// the project fragment filled with its values, its timer rows and its sums. Values are escaped as they
// are inserted; every fill is one pass over its template.
#include "export/exporter.h"

#include "export/document_values.h"
#include "export/html_markup.h"
#include "export/html_templates.h"

#include "model/project.h"
#include "model/timer.h"

#include <algorithm>
#include <array>
#include <functional>

namespace exports {
namespace {

constexpr std::string_view hidden = "hidden";

struct HtmlContext {
    DocumentValues values;
    const HtmlTemplates& templates;

    // The class word of an optional part's elements: nothing when shown, "hidden" otherwise.
    static std::string_view hiddenUnless(bool shown) { return shown ? std::string_view() : hidden; }
};

// Appends one timer's row: `fragment` with the timer's seven placeholders filled. The timer's duration
// and cost are handed in because the project block sums them as well.
void appendTimerRow(std::string& out, std::string_view fragment, const model::Timer& timer, const HtmlContext& context,
                    std::optional<std::string_view> currency, std::int64_t duration, const foundation::Decimal& costs)
{
    const TimerCells cells = context.values.timer(timer, currency, duration, costs);
    appendReplacingPlaceholders(out, fragment,
                                {{"%date%", htmlEscaped(cells.date)},
                                 {"%notes%", htmlEscaped(cells.notes)},
                                 {"%duration%", htmlEscaped(cells.duration)},
                                 {"%pause%", htmlEscaped(cells.pause)},
                                 {"%cost%", htmlEscaped(cells.cost)},
                                 {"%hourly_rate%", htmlEscaped(cells.hourlyRate)},
                                 {"%billed%", cells.billed}});
}

void appendProjectBlock(std::string& out, const model::Project& project, const std::vector<model::Timer*>& timers,
                        const HtmlContext& context)
{
    const ProjectValues values = context.values.project(project, timers);
    const ShownParts& shown = context.values.shown();
    const std::string durationSum = htmlEscaped(values.durationSum);
    const std::string costSum = htmlEscaped(values.costSum);

    // What the project pass fills after "%timers%" also acts on the rows, so the rows are made from
    // the timer fragment with those already filled (the values hold no "%": the order cannot matter).
    const std::array<Placeholder, 13> afterTimers = {{
        {"%sum_label%", labels::sum},
        {"%duration_sum%", durationSum},
        {"%cost_sum%", costSum},
        {"%pause_label%", labels::pause},
        {"%project_client_name_hidden%", HtmlContext::hiddenUnless(shown.clientName)},
        {"%project_hourly_rate_hidden%", HtmlContext::hiddenUnless(shown.hourlyRate)},
        {"%project_notes_hidden%", HtmlContext::hiddenUnless(shown.projectNotes)},
        {"%timer_pause_hidden%", HtmlContext::hiddenUnless(shown.pause)},
        {"%timer_hourly_rate_hidden%", HtmlContext::hiddenUnless(shown.timerHourlyRate)},
        {"%timer_cost_hidden%", HtmlContext::hiddenUnless(shown.cost)},
        {"%timer_billed_hidden%", HtmlContext::hiddenUnless(shown.billed)},
        {"%timer_notes_hidden%", HtmlContext::hiddenUnless(shown.timerNotes)},
        {"%duration_hidden%", HtmlContext::hiddenUnless(shown.duration)},
    }};
    std::string rowFragment;
    appendReplacingPlaceholders(rowFragment, context.templates.timer, afterTimers);
    // The rows go straight into the block where "%timers%" stands.
    const std::function<void(std::string&)> writeRows = [&](std::string& rows) {
        for (std::size_t index = 0; index < timers.size(); ++index)
            appendTimerRow(rows, rowFragment, *timers[index], context, values.currency, values.durations[index],
                           values.costs[index]);
    };

    const std::string name = htmlEscaped(values.name);
    const std::string clientName = htmlEscaped(values.clientName);
    const std::string rate = htmlEscaped(values.hourlyRate);
    const std::string notes = htmlEscaped(values.notes);
    // One pass: the rows are inserted as they are, so the placeholders before "%timers%" do not act on
    // them, and those after it already have.
    std::array<Placeholder, 25> placeholders = {{
        {"%project_name%", name},
        {"%client_name_label%", labels::client},
        {"%client_name%", clientName},
        {"%hourly_rate_label%", labels::hourlyRate},
        {"%hourly_rate%", rate},
        {"%notes%", notes},
        {"%date_label%", labels::date},
        {"%notes_label%", labels::notes},
        {"%duration_label%", labels::duration},
        {"%cost_label%", labels::cost},
        {"%billed_label%", labels::billed},
        {"%timers%", {}, &writeRows},
    }};
    std::copy(afterTimers.begin(), afterTimers.end(), placeholders.begin() + 12);
    appendReplacingPlaceholders(out, context.templates.project, placeholders);
}

} // namespace

std::string Exporter::htmlDocument(const std::vector<model::Project*>& projects, const model::Filter& filter,
                                   const ExportFields& fields)
{
    const HtmlContext context{DocumentValues(fields), HtmlTemplates::shared()};
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
    appendProjectBlock(block, project, project.timers(filter),
                       HtmlContext{DocumentValues(fields), HtmlTemplates::shared()});
    return block;
}

std::string Exporter::htmlTimerFragment(const model::Timer& timer, const ExportFields& fields)
{
    const HtmlContext context{DocumentValues(fields), HtmlTemplates::shared()};
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

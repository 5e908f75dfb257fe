// The values of the HTML and printed pages, taken from the model and formatted by the shared export
// formatters.
#include "export/document_values.h"

#include "export/export_formatters.h"

#include "model/client.h"
#include "model/project.h"
#include "model/timer.h"

namespace exports {

DocumentValues::DocumentValues(const ExportFields& fields)
    : formatters_(ExportFormatters::shared()), fields_(fields), now_(formatters_.nowToMinute())
{
    shown_.clientName = on(ExportField::projectClientName);
    shown_.hourlyRate = on(ExportField::projectHourlyRate);
    shown_.projectNotes = on(ExportField::projectNotes);
    shown_.duration = on(ExportField::projectDuration) || on(ExportField::timerDuration);
    shown_.pause = on(ExportField::timerPause);
    shown_.timerHourlyRate = on(ExportField::timerHourlyRate);
    shown_.cost = on(ExportField::timerCost);
    shown_.billed = on(ExportField::timerBilled);
    shown_.timerNotes = on(ExportField::timerNotes);
}

std::string DocumentValues::money(const foundation::Decimal& amount, std::optional<std::string_view> currency) const
{
    return formatters_.moneyText(amount, currency).value_or(std::string());
}

ProjectValues DocumentValues::project(const model::Project& project, const std::vector<model::Timer*>& timers) const
{
    ProjectValues values;
    values.currency = project.currency();
    values.durations.reserve(timers.size());
    values.costs.reserve(timers.size());
    std::int64_t durationSum = 0;
    // Summed in double as the other documents' totals are; only the sum is made decimal again.
    double costSum = 0.0;
    for (const model::Timer* timer : timers) {
        values.durations.push_back(timer->duration());
        values.costs.push_back(timer->costsOfDuration(values.durations.back()));
        durationSum += values.durations.back();
        costSum += values.costs.back().toDouble();
    }
    if (on(ExportField::projectDuration))
        values.durationSum = durationText(durationSum);
    if (const auto costSumDecimal = foundation::Decimal::fromDouble(costSum))
        values.costSum = money(*costSumDecimal, values.currency);

    const model::Client* client = project.client();
    values.name = project.name().value_or(std::string());
    values.clientName = client ? client->name().value_or(std::string()) : std::string();
    values.hourlyRate = money(project.hourlyRate(), values.currency);
    values.notes = project.notes().value_or(std::string());
    return values;
}

TimerCells DocumentValues::timer(const model::Timer& timer, std::optional<std::string_view> currency,
                                 std::int64_t duration, const foundation::Decimal& costs) const
{
    const bool expense = timer.isExpenseTimer();
    TimerCells cells;
    cells.date = formatters_.timerDateText(timer, on(ExportField::timerStartEnd), now_);
    cells.notes = timer.notes().value_or(std::string());
    if (on(ExportField::timerDuration) && !expense)
        cells.duration = durationText(duration);
    if (!expense) {
        cells.pause = durationText(timer.pauseDuration());
        cells.hourlyRate = money(timer.hourlyRate(), currency);
    }
    if (costs.toDouble() > 0.0)
        cells.cost = money(costs, currency);
    if (timer.billed())
        cells.billed = billedMark;
    return cells;
}

} // namespace exports

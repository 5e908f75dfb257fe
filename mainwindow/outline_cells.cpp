// The display rules of the projects outline's cells and status line.
#include "mainwindow/outline_cells.h"

#include "model/currency_formatter.h"
#include "model/duration_value_transformer.h"
#include "model/project.h"
#include "model/timer.h"

namespace mainwindow {

model::TimerStatus timerStatus(const model::Timer& timer)
{
    if (timer.billed())
        return model::TimerStatus::billed;
    if (timer.end())
        return model::TimerStatus::closed;
    if (timer.activePauseEntry())
        return model::TimerStatus::paused;
    return model::TimerStatus::running;
}

StatusImage statusImage(const model::Timer& timer)
{
    switch (timerStatus(timer)) {
    case model::TimerStatus::billed: return StatusImage::checkMark;
    case model::TimerStatus::closed: return StatusImage::none;
    case model::TimerStatus::paused: return StatusImage::pausedDot;
    case model::TimerStatus::running: return StatusImage::runningDot;
    }
    return StatusImage::none;
}

TimerActionButton timerActionButton(const model::Timer& timer)
{
    switch (timerStatus(timer)) {
    case model::TimerStatus::billed:
    case model::TimerStatus::closed: return TimerActionButton::hidden;
    case model::TimerStatus::paused: return TimerActionButton::play;
    case model::TimerStatus::running: return TimerActionButton::pause;
    }
    return TimerActionButton::hidden;
}

std::string clockText(std::int64_t minutes)
{
    return model::DurationValueTransformer().transformedValue(minutes).value_or("");
}

std::string durationCellText(const model::Timer& timer)
{
    if (timer.isExpenseTimer())
        return {};
    return clockText(timer.duration());
}

std::optional<std::string> costCellText(const model::Timer& timer, const model::CurrencyFormatter& formatter)
{
    const auto cost = timer.fixedCost();
    if (!cost || !timer.isExpenseTimer())
        return std::nullopt;
    const model::Project* project = timer.project();
    const std::optional<std::string> currency = project ? std::optional(project->currency()) : std::nullopt;
    return formatter.string(*cost, currency).value_or("");
}

std::string notesCellText(const model::Timer& timer)
{
    return timer.notes().value_or("");
}

std::string dateCellText(const model::Timer& timer, const foundation::Calendar& calendar,
                         const foundation::Locale& locale)
{
    const auto start = timer.start();
    if (!start)
        return {};
    return locale.shortDateTimeText(*start, calendar).value_or("");
}

std::string countsStatusText(std::size_t projectCount, std::size_t timerCount)
{
    return std::to_string(projectCount) + (projectCount == 1 ? " project" : " projects") + ", "
           + std::to_string(timerCount) + (timerCount == 1 ? " timer" : " timers");
}

std::string durationStatusText(std::int64_t minutes)
{
    const std::string text = clockText(minutes);
    return text.empty() ? std::string() : "Duration: " + text;
}

} // namespace mainwindow

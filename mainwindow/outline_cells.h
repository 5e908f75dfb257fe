// What the cells of the projects outline and its status line show, decided without any widget:
// a timer's display state, its status image and action button, the texts of its columns, and the
// two status-line texts. The outline's item model and delegate only turn these into pixels.
#pragma once

#include "model/enums.h"

#include "foundation/calendar.h"
#include "foundation/locale.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace model {
class CurrencyFormatter;
class Timer;
}

namespace mainwindow {

// Billed wins over closed, closed over paused, paused over running.
model::TimerStatus timerStatus(const model::Timer& timer);

enum class StatusImage { none, checkMark, pausedDot, runningDot };
// A check mark when billed, nothing when ended, a yellow dot when paused, a pulsing green dot when running.
StatusImage statusImage(const model::Timer& timer);

enum class TimerActionButton { hidden, play, pause };
// Hidden for billed or ended timers; "play" resumes a paused timer, "pause" pauses a running one.
TimerActionButton timerActionButton(const model::Timer& timer);

// The clock text of the timer's duration ("01:30", hours not capped); empty for an expense.
std::string durationCellText(const model::Timer& timer);
// The fixed cost of an expense timer in its project's currency; nothing for other timers and for an
// expense without a fixed cost.
std::optional<std::string> costCellText(const model::Timer& timer, const model::CurrencyFormatter& formatter);
// The notes, or empty.
std::string notesCellText(const model::Timer& timer);
// The start as a short date and time in the given calendar and locale; empty without a start.
std::string dateCellText(const model::Timer& timer, const foundation::Calendar& calendar,
                         const foundation::Locale& locale);

// The clock text of whole minutes, empty when it cannot be made.
std::string clockText(std::int64_t minutes);

// "3 projects, 1 timer".
std::string countsStatusText(std::size_t projectCount, std::size_t timerCount);
// "Duration: 12:30".
std::string durationStatusText(std::int64_t minutes);

} // namespace mainwindow

// The values the HTML page and the printed page (PDF and print) show: a project's heading values and
// sums and a timer's cells as plain text (the HTML escapes them as it inserts them), and which optional
// parts the chosen fields show. Qt-free; main thread, as the shared formatters are.
#pragma once

#include "export/export_format.h"

#include "foundation/clock.h"
#include "foundation/decimal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {
class Project;
class Timer;
}

namespace exports {

class ExportFormatters;

// U+2714 U+FE0E: the mark of a billed timer.
inline constexpr std::string_view billedMark = "\u2714\uFE0E";

// The labels of the project heading and the timer table; "Sum" in upper case.
namespace labels {
inline constexpr std::string_view client = "Client";
inline constexpr std::string_view hourlyRate = "Hourly Rate";
inline constexpr std::string_view notes = "Notes";
inline constexpr std::string_view date = "Date";
inline constexpr std::string_view duration = "Duration";
inline constexpr std::string_view cost = "Cost";
inline constexpr std::string_view billed = "Billed";
inline constexpr std::string_view pause = "Pause";
inline constexpr std::string_view sum = "SUM";
} // namespace labels

// Which optional parts of a project block the chosen fields show. The date column always shows.
struct ShownParts {
    bool clientName = false;   // the "Client: ..." line
    bool hourlyRate = false;   // the "Hourly Rate: ..." line
    bool projectNotes = false; // the project's notes
    bool duration = false;     // the duration column: either duration field
    bool pause = false;
    bool timerHourlyRate = false;
    bool cost = false;
    bool billed = false;
    bool timerNotes = false;
};

// One timer's cells. The duration is empty unless timerDuration is chosen; pause and rate are empty
// for an expense; the cost only shows when greater than zero; notes show whatever the fields.
struct TimerCells {
    std::string date;
    std::string notes;
    std::string duration;
    std::string pause;
    std::string hourlyRate;
    std::string cost;
    std::string_view billed; // billedMark or empty
};

// One project with its timers of the filter: the heading values, each timer's duration and cost
// (summed here and used again by the rows) and the sums. The duration sum is empty unless
// projectDuration is chosen; the cost sum (the double sum of the costs) always shows.
struct ProjectValues {
    std::string currency;
    std::string name;
    std::string clientName;
    std::string hourlyRate;
    std::string notes;
    std::vector<std::int64_t> durations;
    std::vector<foundation::Decimal> costs;
    std::string durationSum;
    std::string costSum;
};

class DocumentValues {
public:
    // The shared formatters, "now" to the minute for running timers, and the chosen fields.
    explicit DocumentValues(const ExportFields& fields);

    bool on(ExportField field) const { return fields_.contains(field); }
    const ShownParts& shown() const { return shown_; }

    ProjectValues project(const model::Project& project, const std::vector<model::Timer*>& timers) const;
    // `duration` and `costs` are the timer's own, handed in because the project sums them as well.
    TimerCells timer(const model::Timer& timer, std::optional<std::string_view> currency, std::int64_t duration,
                     const foundation::Decimal& costs) const;
    // A money text, empty where the formatter gives nothing.
    std::string money(const foundation::Decimal& amount, std::optional<std::string_view> currency) const;

private:
    const ExportFormatters& formatters_;
    ExportFieldSet fields_;
    foundation::Date now_;
    ShownParts shown_;
};

} // namespace exports

// The export vocabulary every document shares: the four formats (their raw values are the export
// menu items' tags) and the eleven optional fields (their raw strings are what "exportFields" stores).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

enum class ExportFormat { text = 1, csv = 2, html = 3, pdf = 4 };

std::int64_t rawValue(ExportFormat format);
// Nothing outside 1 to 4.
std::optional<ExportFormat> exportFormatFromRawValue(std::int64_t raw);
// "txt", "csv", "html", "pdf": the save dialog's one file type and the usage event's attribute.
std::string_view fileExtension(ExportFormat format);

// In declaration order (timerDuration before timerStartEnd, as the stored vocabulary has it).
enum class ExportField {
    projectDuration,
    projectClientName,
    projectHourlyRate,
    projectNotes,
    timerDuration,
    timerStartEnd,
    timerPause,
    timerHourlyRate,
    timerCost,
    timerBilled,
    timerNotes,
};
inline constexpr std::size_t exportFieldCount = 11;

using ExportFields = std::vector<ExportField>;

// "project_duration", "timer_start_end", ...
std::string_view rawValue(ExportField field);
// Exact, case-sensitive; any other string gives nothing.
std::optional<ExportField> exportFieldFromRawValue(std::string_view raw);

// Every field in declaration order.
const std::array<ExportField, exportFieldCount>& allExportFields();
// The order in which chosen fields are reported and stored: declaration order except that
// timerStartEnd comes before timerDuration.
const std::array<ExportField, exportFieldCount>& selectedFieldsOrder();

// The fields named by `raws`, in their order; strings that name no field are dropped.
ExportFields exportFieldsFromRawValues(const std::vector<std::string>& raws);
std::vector<std::string> rawValues(const ExportFields& fields);

// Membership of fields as a bit set, so the builders ask "is it on" in constant time; order and
// duplicates of the list do not matter.
class ExportFieldSet {
public:
    ExportFieldSet() = default;
    explicit ExportFieldSet(const ExportFields& fields);
    bool contains(ExportField field) const { return (bits_ & bit(field)) != 0; }

private:
    static std::uint32_t bit(ExportField field) { return 1u << static_cast<unsigned>(field); }
    std::uint32_t bits_ = 0;
};

} // namespace exports

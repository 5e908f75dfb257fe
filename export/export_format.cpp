// Raw values of the export formats and fields, and the fixed order of chosen fields.
#include "export/export_format.h"

#include <algorithm>

namespace exports {
namespace {

constexpr std::array<std::string_view, exportFieldCount> fieldNames = {
    "project_duration", "project_client_name", "project_hourly_rate", "project_notes",
    "timer_duration",   "timer_start_end",     "timer_pause",         "timer_hourly_rate",
    "timer_cost",       "timer_billed",        "timer_notes",
};

} // namespace

std::int64_t rawValue(ExportFormat format)
{
    return static_cast<std::int64_t>(format);
}

std::optional<ExportFormat> exportFormatFromRawValue(std::int64_t raw)
{
    if (raw < 1 || raw > 4)
        return std::nullopt;
    return static_cast<ExportFormat>(raw);
}

std::string_view fileExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::text: return "txt";
    case ExportFormat::csv: return "csv";
    case ExportFormat::html: return "html";
    case ExportFormat::pdf: return "pdf";
    }
    return "txt";
}

std::string_view rawValue(ExportField field)
{
    return fieldNames[static_cast<std::size_t>(field)];
}

std::optional<ExportField> exportFieldFromRawValue(std::string_view raw)
{
    const auto found = std::find(fieldNames.begin(), fieldNames.end(), raw);
    if (found == fieldNames.end())
        return std::nullopt;
    return static_cast<ExportField>(found - fieldNames.begin());
}

const std::array<ExportField, exportFieldCount>& allExportFields()
{
    static constexpr std::array<ExportField, exportFieldCount> fields = {
        ExportField::projectDuration, ExportField::projectClientName, ExportField::projectHourlyRate,
        ExportField::projectNotes,    ExportField::timerDuration,     ExportField::timerStartEnd,
        ExportField::timerPause,      ExportField::timerHourlyRate,   ExportField::timerCost,
        ExportField::timerBilled,     ExportField::timerNotes,
    };
    return fields;
}

const std::array<ExportField, exportFieldCount>& selectedFieldsOrder()
{
    static constexpr std::array<ExportField, exportFieldCount> fields = {
        ExportField::projectDuration, ExportField::projectClientName, ExportField::projectHourlyRate,
        ExportField::projectNotes,    ExportField::timerStartEnd,     ExportField::timerDuration,
        ExportField::timerPause,      ExportField::timerHourlyRate,   ExportField::timerCost,
        ExportField::timerBilled,     ExportField::timerNotes,
    };
    return fields;
}

ExportFields exportFieldsFromRawValues(const std::vector<std::string>& raws)
{
    ExportFields fields;
    for (const std::string& raw : raws)
        if (const auto field = exportFieldFromRawValue(raw))
            fields.push_back(*field);
    return fields;
}

std::vector<std::string> rawValues(const ExportFields& fields)
{
    std::vector<std::string> raws;
    raws.reserve(fields.size());
    for (ExportField field : fields)
        raws.emplace_back(rawValue(field));
    return raws;
}

ExportFieldSet::ExportFieldSet(const ExportFields& fields)
{
    for (ExportField field : fields)
        bits_ |= bit(field);
}

} // namespace exports

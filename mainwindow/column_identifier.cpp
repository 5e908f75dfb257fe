// Identifiers of the projects outline's columns.
#include "mainwindow/column_identifier.h"

#include <array>

namespace mainwindow {

namespace {
constexpr std::array<std::string_view, columnCount> names{"date", "notes", "status", "duration", "actions"};
}

std::string_view rawValue(ColumnIdentifier column)
{
    return names[static_cast<std::size_t>(column)];
}

std::optional<ColumnIdentifier> columnIdentifierFromRawValue(std::string_view raw)
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == raw)
            return static_cast<ColumnIdentifier>(i);
    return std::nullopt;
}

} // namespace mainwindow

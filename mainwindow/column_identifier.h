// The columns of the projects outline, in their model order, with the identifiers that name them
// (stored column layouts and the column fixes refer to columns by these names).
#pragma once

#include <optional>
#include <string_view>

namespace mainwindow {

enum class ColumnIdentifier { date, notes, status, duration, actions };
inline constexpr int columnCount = 5;

std::string_view rawValue(ColumnIdentifier column);
// Nothing for any other text.
std::optional<ColumnIdentifier> columnIdentifierFromRawValue(std::string_view raw);

} // namespace mainwindow

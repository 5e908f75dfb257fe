// How a printed table shares the page's width among its columns, as the HTML page's table layout
// does. Qt-free.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace exports {

struct ColumnNeed {
    double narrowest = 0;          // the widest unbreakable piece of any cell, with padding
    double widest = 0;             // the widest cell on one line, with padding
    std::optional<double> percent; // the column's share of the table's width
};

// A column with a share of the width (Notes, 35 %) gets it, but never less than its narrowest
// content; every other column starts at its narrowest content and the rest of the width is spread
// evenly over them, none past its widest content; what is left then goes evenly to all of them.
// Widths include the cells' padding. One width per column, in order. Their sum is `tableWidth`
// unless the narrowest widths alone exceed it.
std::vector<double> columnWidths(std::span<const ColumnNeed> columns, double tableWidth);

} // namespace exports

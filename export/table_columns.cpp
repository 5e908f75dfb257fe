// The column widths of a printed table: shares first, then the other columns by their content.
#include "export/table_columns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace exports {
namespace {

using Fixed = std::int64_t;

Fixed fixed(double value)
{
    return std::llround(value * 64.0);
}

double real(Fixed value)
{
    return static_cast<double>(value) / 64.0;
}

} // namespace

// The arithmetic is in 1/64 of a device unit with divisions that round down, as the rich-text
// layout's, so the widths and the rounds of the even spread come out as the page's own.
std::vector<double> columnWidths(std::span<const ColumnNeed> columns, double tableWidth)
{
    const Fixed total = fixed(tableWidth);
    std::vector<Fixed> widths(columns.size(), 0);
    Fixed remaining = total;
    Fixed narrowestSum = 0;
    Fixed percentSum = 0;
    Fixed sharedOut = 0; // columns without a share of their own
    for (std::size_t index = 0; index < columns.size(); ++index) {
        const ColumnNeed& column = columns[index];
        narrowestSum += fixed(column.narrowest);
        if (column.percent) {
            percentSum += fixed(*column.percent);
            continue;
        }
        widths[index] = fixed(column.narrowest);
        remaining -= widths[index];
        ++sharedOut;
    }

    // A share never takes what the columns after it need at the least.
    const Fixed sharedWidth = total * percentSum / 64 / 100;
    Fixed narrowestAfter = narrowestSum;
    for (std::size_t index = 0; index < columns.size(); ++index) {
        const ColumnNeed& column = columns[index];
        const Fixed narrowest = fixed(column.narrowest);
        narrowestAfter -= narrowest;
        if (!column.percent)
            continue;
        const Fixed share = sharedWidth * fixed(*column.percent) / percentSum;
        widths[index] =
            share >= narrowest ? std::max(narrowest, std::min(share, remaining - narrowestAfter)) : narrowest;
        remaining -= widths[index];
    }

    if (sharedOut > 0 && remaining > 0) {
        // Evenly among the columns that still have content to show on one line, round after round
        // until a round places nothing more.
        for (Fixed before = remaining; remaining > 0; before = remaining) {
            Fixed left = sharedOut;
            for (std::size_t index = 0; index < columns.size(); ++index) {
                if (columns[index].percent)
                    continue;
                const Fixed grow = std::min(fixed(columns[index].widest) - widths[index], remaining / left);
                if (grow > 0) {
                    widths[index] += grow;
                    remaining -= grow;
                }
                --left;
            }
            if (remaining == before)
                break;
        }
        // The table spans the page: what no content asks for is spread evenly.
        if (remaining > 0)
            for (std::size_t index = 0; index < columns.size(); ++index)
                if (!columns[index].percent)
                    widths[index] += remaining / sharedOut;
    }

    std::vector<double> result;
    result.reserve(widths.size());
    for (const Fixed width : widths)
        result.push_back(real(width));
    return result;
}

} // namespace exports

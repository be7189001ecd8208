#include "core/workbook.h"

#include "core/limits.h"

#include <algorithm>

namespace QXlsx {
namespace detail {

Cell *Sheet::find(int row, int column)
{
    if (rows.empty())
        return nullptr;
    size_t i = rowHint;
    if (i >= rows.size() || rows[i].row != row) {
        if (i + 1 < rows.size() && rows[i + 1].row == row) {
            ++i;
        } else {
            const auto it = std::lower_bound(rows.begin(), rows.end(), row,
                                             [](const RowStart &r, int wanted) { return r.row < wanted; });
            if (it == rows.end() || it->row != row)
                return nullptr;
            i = size_t(it - rows.begin());
        }
        rowHint = i;
    }
    const auto first = cells.begin() + rows[i].begin;
    const auto last = i + 1 < rows.size() ? cells.begin() + rows[i + 1].begin : cells.end();
    const auto it = std::lower_bound(first, last, column,
                                     [](const CellEntry &c, int wanted) { return c.column < wanted; });
    if (it == last || it->column != column)
        return nullptr;
    return &it->cell;
}

void Sheet::sortCells()
{
    std::stable_sort(cells.begin(), cells.end(), [](const CellEntry &a, const CellEntry &b) {
        return a.row < b.row || (a.row == b.row && a.column < b.column);
    });
    // A position given twice keeps the cell written last.
    size_t out = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i + 1 < cells.size() && cells[i + 1].row == cells[i].row && cells[i + 1].column == cells[i].column)
            continue;
        if (out != i)
            cells[out] = std::move(cells[i]);
        ++out;
    }
    cells.erase(cells.begin() + ptrdiff_t(out), cells.end());
}

void Sheet::indexCells()
{
    cells.shrink_to_fit();
    rows.clear();
    int minColumn = limits::Columns + 1;
    int maxColumn = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (rows.empty() || rows.back().row != cells[i].row)
            rows.push_back(RowStart {cells[i].row, int(i)});
        minColumn = std::min(minColumn, cells[i].column);
        maxColumn = std::max(maxColumn, cells[i].column);
    }
    rows.shrink_to_fit();
    range = cells.empty() ? CellRange() : CellRange(cells.front().row, minColumn, cells.back().row, maxColumn);
}

} // namespace detail
} // namespace QXlsx

#pragma once

// A workbook as read from any kind of file: its sheets and their cells.

#include "xlsxcell.h"
#include "xlsxcellrange.h"

#include <QString>

#include <vector>

namespace QXlsx {
namespace detail {

struct CellEntry
{
    int row;
    int column;
    Cell cell;
};

// cells[begin] up to the next row's begin (or the end) all lie in row.
struct RowStart
{
    int row;
    int begin;
};

struct Sheet
{
    QString name;
    bool worksheet = false; // a chart or macro sheet holds no cells
    bool hidden = false; // hidden or very hidden
    std::vector<CellEntry> cells; // sorted by row, then column
    std::vector<RowStart> rows;
    CellRange range;

    // Row of the last lookup; cellAt is called row by row.
    mutable size_t rowHint = 0;

    Cell *find(int row, int column);
    // Sorts cells by row, then column; a position given twice keeps the
    // cell written last.
    void sortCells();
    // Builds rows and range from cells, which must already be sorted.
    void indexCells();
};

struct Workbook
{
    virtual ~Workbook() = default;

    std::vector<Sheet> sheets;
    bool date1904 = false;
    int activeTab = 0; // as the file says
    int firstSheet = 0; // as the file says
};

} // namespace detail
} // namespace QXlsx

#pragma once

// What the document holds once a package is read: the zip, the sheets and their cells.

#include "xlsxcell.h"
#include "xlsxcellrange.h"
#include "xlsxpackage.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace QXlsx {
namespace detail {

constexpr int MaxRow = 1048576;
constexpr int MaxColumn = 16384;
// Cells a workbook may hold over all its sheets, whatever kind of file it came from.
constexpr int MaxCells = 4000000;

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
    bool worksheet = false;
    std::vector<CellEntry> cells; // sorted by row, then column
    std::vector<RowStart> rows;
    CellRange range;

    // Row of the last lookup; cellAt is called row by row.
    mutable size_t rowHint = 0;

    Cell *find(int row, int column);
    // Builds rows and range from cells, which must already be sorted.
    void indexCells();
};

struct Workbook
{
    Package package;
    int workbookEntry = -1; // stays -1 when the cells came from no package (.xls, .csv)
    std::vector<Sheet> sheets;
    bool date1904 = false;
    int activeTab = 0; // as the file says
};

// Reads a whole package from its bytes; null when they are not a readable workbook.
std::unique_ptr<Workbook> readWorkbook(const QByteArray &bytes);

// The workbook part as stored, inflated (capped like any part); false on failure.
bool workbookPart(Workbook &book, QByteArray *xml);

// Workbook part XML with sheet tab marked as the active one; false if the part
// cannot be edited that way.
bool markActiveTab(const QByteArray &xml, int tab, QByteArray *out);

// Reads the workbookView attributes from workbook part XML; false if it is not one.
bool readBookView(const QByteArray &xml, int *activeTab, int *firstSheet);

} // namespace detail
} // namespace QXlsx

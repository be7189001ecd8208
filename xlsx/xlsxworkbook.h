#pragma once

// What the document holds once a package is read: the zip, the sheets and their cells.

#include "core/limits.h"
#include "readerror.h"
#include "xlsxcell.h"
#include "xlsxcellrange.h"
#include "xlsxpackage.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
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
    bool worksheet = false;
    bool hidden = false; // state hidden or veryHidden
    int entry = -1; // of its part, when that was read
    // Of its sheetView elements for the first workbook view: is there one, and
    // does one carry tabSelected.
    bool hasView = false;
    bool tabSelected = false;
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
    int firstSheet = 0; // as the file says
};

// Reads a whole package from its bytes; null, with the reason in *error, when
// they are not a readable workbook.
std::unique_ptr<Workbook> readWorkbook(const QByteArray &bytes, ReadError *error = nullptr);

// Entry index inflated whole, failing past cap bytes.
bool inflatePart(Workbook &book, int entry, qint64 cap, QByteArray *xml);

// Workbook part XML with sheet tab marked as the active one and firstSheet
// (at most tab) as the first tab shown; false if the part cannot be edited that way.
bool markActiveTab(const QByteArray &xml, int tab, int firstSheet, QByteArray *out);

// Reads the workbookView attributes from workbook part XML; false if it is not one.
bool readBookView(const QByteArray &xml, int *activeTab, int *firstSheet);

// Sheet part XML with its sheetView elements of the first workbook view marked
// selected or not; false if the part cannot be edited that way.
bool markTabSelected(const QByteArray &xml, bool selected, QByteArray *out);

// Reads what the sheetView elements of the first workbook view in sheet part XML say.
bool readTabSelected(const QByteArray &xml, bool *hasView, bool *selected);

// The sheet shown when selected is saved as the selected sheet: itself if it
// is visible, else the last visible sheet before it, else the first after it.
int activeTabFor(const Workbook &book, int selected);

// The parts to replace (entry index -> content) so that the package opens on
// activeTabFor(selected) with no other tab selected; none when the file says
// so already. False when a part cannot be edited that way.
bool selectionEdits(Workbook &book, int selected, std::map<int, QByteArray> *replacements);

} // namespace detail
} // namespace QXlsx

#pragma once

// A workbook read from an .xlsx package: its sheets, and the package they
// came from, kept so that it can be written back entry for entry.

#include "core/workbook.h"
#include "xlsx/package.h"

#include <vector>

namespace QXlsx {
namespace detail {

// Where a sheet lives in the package, and what its views say.
struct SheetPart
{
    int entry = -1; // of its part, when that was read
    // Of its sheetView elements for the first workbook view: is there one,
    // and does one carry tabSelected.
    bool hasView = false;
    bool tabSelected = false;
};

struct XlsxBook : Workbook
{
    Package package;
    int workbookEntry = -1;
    std::vector<SheetPart> parts; // one per sheet
};

} // namespace detail
} // namespace QXlsx

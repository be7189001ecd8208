#pragma once

// A worksheet part: its cells, and what its views say.

#include "core/readbudget.h"
#include "core/workbook.h"
#include "xlsx/xlsxbook.h"
#include "xml/xmlreader.h"

#include <QString>
#include <QVector>

namespace QXlsx {
namespace detail {

// Reads the cells of a sheet part into sheet, sorted and indexed, and its
// views into part; the shared strings resolve s cells. Cells are charged to
// budget.
bool parseSheet(XmlReader &x, Sheet *sheet, SheetPart *part, const QVector<QString> &strings, ReadBudget &budget,
                bool date1904);

// Reads the views of a sheet part up to the end of its sheetViews element.
bool readViews(XmlReader &x, SheetPart *part);

} // namespace detail
} // namespace QXlsx

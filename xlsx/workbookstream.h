#pragma once

// The sheets of a workbook handed from one process to another. The .xls
// reader runs in a process of its own (FreeXL can crash on a damaged file)
// and hands its sheets over this way.

#include "xlsxworkbook.h"

#include <memory>

class QIODevice;

namespace QXlsx {
namespace detail {

// Sheet names, cells and the date system; numbers and texts only.
bool writeSheets(const Workbook &book, QIODevice *out);

// Null unless the stream holds a whole workbook as writeSheets writes one:
// cells in order, inside the sheet, within the cell limit, numbers or texts.
std::unique_ptr<Workbook> readSheets(QIODevice *in);

} // namespace detail
} // namespace QXlsx

#pragma once

// Opens a workbook file of whichever kind its content shows.

#include "xlsxworkbook.h"

#include <QString>

#include <memory>

namespace QXlsx {
namespace detail {

// A zip is read as an .xlsx package and an OLE2 compound file as an .xls
// workbook (an encrypted .xlsx is one too, and stays unread); anything else is
// read as CSV text when its name ends in .csv. Null, with the reason in
// *error, when the file cannot be read.
std::unique_ptr<Workbook> readWorkbookFile(const QString &path, ReadError *error = nullptr);

} // namespace detail
} // namespace QXlsx

#pragma once

// .xls workbooks (Excel 97-2003 and older BIFF files), read with FreeXL.

#include "xlsxworkbook.h"

#include <QString>

#include <memory>

namespace QXlsx {
namespace detail {

// The sheets of the .xls file at path, in workbook order; null when FreeXL
// cannot read it, it is encrypted, or it is too big.
std::unique_ptr<Workbook> readXls(const QString &path);

} // namespace detail
} // namespace QXlsx

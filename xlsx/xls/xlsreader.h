#pragma once

// .xls workbooks: Excel 97-2003 (BIFF8, the "Workbook" stream of a compound
// file) and Excel 5.0/95 (BIFF5 and BIFF7, the "Book" stream).

#include "core/workbook.h"
#include "readerror.h"

#include <QByteArray>

#include <memory>

namespace QXlsx {
namespace detail {

// The sheets of the .xls file whose bytes are given, in workbook order, with
// the same values the .xlsx reader gives for the same workbook. Null, with
// the reason in *error, when the file is damaged, encrypted, holds no
// workbook or more than the limits allow.
std::unique_ptr<Workbook> readXls(const QByteArray &bytes, ReadError *error = nullptr);

} // namespace detail
} // namespace QXlsx

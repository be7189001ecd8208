#pragma once

// Reads the parts of a workbook package: relationships, the workbook part,
// the shared strings and each worksheet's cells.

#include "readerror.h"
#include "xlsx/xlsxbook.h"

#include <QByteArray>

#include <memory>

namespace QXlsx {
namespace detail {

// Reads a whole package from its bytes; null, with the reason in *error, when
// they are not a readable workbook.
std::unique_ptr<XlsxBook> readWorkbook(const QByteArray &bytes, ReadError *error = nullptr);

} // namespace detail
} // namespace QXlsx

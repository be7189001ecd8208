#pragma once

// Comma-separated text (RFC 4180) read as a workbook of one sheet.

#include "xlsxworkbook.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace QXlsx {
namespace detail {

// One sheet named sheetName with a cell for every non-empty field of bytes,
// typed as a spreadsheet program types them. Null, with the reason in *error,
// when the bytes are not text (NUL bytes, control characters, neither UTF-8
// nor GB18030), end inside a quoted field, or hold more rows, columns or
// cells than a workbook may.
std::unique_ptr<Workbook> readCsv(const QByteArray &bytes, const QString &sheetName, ReadError *error = nullptr);

} // namespace detail
} // namespace QXlsx

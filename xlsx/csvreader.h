#pragma once

// Comma-separated text (RFC 4180) read as a workbook of one sheet.

#include "xlsxworkbook.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace QXlsx {
namespace detail {

// Larger files are not read.
constexpr qint64 MaxCsvBytes = 128 * 1024 * 1024;

// One sheet named sheetName with a cell for every non-empty field of bytes,
// typed as a spreadsheet program types them. Null when the bytes are not text
// (NUL bytes, control characters, neither UTF-8 nor GB18030) or hold more
// rows, columns or cells than a workbook may.
std::unique_ptr<Workbook> readCsv(const QByteArray &bytes, const QString &sheetName);

} // namespace detail
} // namespace QXlsx

#pragma once

// Reads an .xls workbook in a process of its own, kestrova-xls: FreeXL
// crashes on some damaged files, and a crash there must not end the program.

#include "xlsxworkbook.h"

#include <QString>

#include <memory>

namespace QXlsx {
namespace detail {

// What readXls gives for path, read by the helper; null as well when the
// helper fails, crashes, runs too long or cannot be found.
std::unique_ptr<Workbook> readXlsApart(const QString &path);

} // namespace detail
} // namespace QXlsx

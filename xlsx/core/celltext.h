#pragma once

#include <QString>

namespace QXlsx {
namespace detail {

// Text kept of a cell: at most what a spreadsheet program holds in one
// (limits::CellText), never ending in half a surrogate pair.
QString cellText(QString text);

} // namespace detail
} // namespace QXlsx

#pragma once

// Writing a package back: the selection edits, the package written entry for
// entry, and the file replaced whole.

#include "readerror.h"
#include "xlsx/xlsxbook.h"

#include <QString>

namespace QXlsx {
namespace detail {

// Writes book to path with the sheet selected marked as the active tab and
// the only one selected. overSource: path is the file the book was read from,
// which must still hold what was read. False, with the reason in *error,
// when nothing was written.
bool saveBook(XlsxBook &book, int selected, const QString &path, bool overSource, SaveError *error);

} // namespace detail
} // namespace QXlsx

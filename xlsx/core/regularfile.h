#pragma once

// Opening a file that must be a regular file: a pipe, a device or a folder
// is refused before anything could block on it.

#include "readerror.h"

class QFile;

namespace QXlsx {
namespace detail {

// Opens file (its name already set) for reading; false, with the reason in
// *error, when it is missing, is no regular file, or cannot be opened.
bool openRegularFile(QFile *file, ReadError *error);

} // namespace detail
} // namespace QXlsx

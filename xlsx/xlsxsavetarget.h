#pragma once

// Writing a finished file over the one the user chose.

#include <QByteArray>
#include <QString>

namespace QXlsx {
namespace detail {

// Replaces the file at path with bytes, all at once: the old file stays as it
// was unless the new one is complete. A read-only file or a folder is refused.
// A symbolic link stays one, its target is written. The new file keeps the
// old one's mode, and its owner and group as far as the user may set them.
bool writeOver(const QString &path, const QByteArray &bytes);

} // namespace detail
} // namespace QXlsx

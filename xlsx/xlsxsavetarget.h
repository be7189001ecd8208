#pragma once

// Writing a finished file over the one the user chose.

#include <QByteArray>
#include <QString>

namespace QXlsx {

struct SaveError;

namespace detail {

// Replaces the file at path with bytes, all at once: the old file stays byte
// for byte unless the new one was written, flushed and synced completely.
// A read-only file, a folder or anything else that is no regular file is
// refused. A symbolic link stays one, its target is written. When expected
// is given, the file must still hold exactly those bytes (it was read from
// them), else it is left alone. The new file keeps the old one's owner and
// group as far as the user may set them, its extended attributes and access
// list, and never a wider mode. False, with the reason in *error, when the
// file was not replaced.
bool writeOver(const QString &path, const QByteArray &bytes, const QByteArray *expected, SaveError *error);

} // namespace detail
} // namespace QXlsx

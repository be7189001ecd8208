#pragma once

// Writes a package back out, changing only the parts that were edited.

#include "ziplayout.h"

#include <QByteArray>

#include <map>

class QIODevice;

namespace QXlsx {
namespace detail {

// Writes the zip in bytes, whose layout is given, to out. Entries named in
// replacements (entry index -> new content) are deflated afresh; every other
// entry is carried over as stored. With no replacement the output is the
// source bytes themselves.
bool writePackage(const QByteArray &bytes, const ZipLayout &layout, const std::map<int, QByteArray> &replacements,
                  QIODevice *out);

} // namespace detail
} // namespace QXlsx

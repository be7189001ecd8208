#pragma once

// The shared strings part.

#include "xml/xmlreader.h"

#include <QString>
#include <QVector>

namespace QXlsx {
namespace detail {

bool parseSharedStrings(XmlReader &x, QVector<QString> *strings);

} // namespace detail
} // namespace QXlsx

#pragma once

// The shared strings part.

#include "core/readbudget.h"
#include "xml/xmlreader.h"

#include <QString>
#include <QVector>

namespace QXlsx {
namespace detail {

// The strings, each charged to budget.
bool parseSharedStrings(XmlReader &x, QVector<QString> *strings, ReadBudget &budget);

} // namespace detail
} // namespace QXlsx

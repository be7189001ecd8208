#pragma once

// Which sheet a saved package opens on, and the part edits that say so.

#include "xlsx/xlsxbook.h"

#include <QByteArray>

#include <map>

namespace QXlsx {
namespace detail {

// The sheet shown when selected is saved as the selected sheet: itself if it
// is visible, else the last visible sheet before it, else the first after it.
int activeTabFor(const Workbook &book, int selected);

// The parts to replace (entry index -> content) so that the package opens on
// activeTabFor(selected) with no other tab selected; none when the file says
// so already. False when a part cannot be edited that way.
bool selectionEdits(XlsxBook &book, int selected, std::map<int, QByteArray> *replacements);

} // namespace detail
} // namespace QXlsx

#pragma once

// The sheetView elements of a sheet part: whether its tab is selected.

#include <QByteArray>

namespace QXlsx {
namespace detail {

// Sheet part XML with its sheetView elements of the first workbook view marked
// selected or not; false if the part cannot be edited that way.
bool markTabSelected(const QByteArray &xml, bool selected, QByteArray *out);

// Reads what the sheetView elements of the first workbook view in sheet part XML say.
bool readTabSelected(const QByteArray &xml, bool *hasView, bool *selected);

} // namespace detail
} // namespace QXlsx

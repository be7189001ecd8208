#pragma once

// The workbookView of a workbook part: which tab is active and which is
// shown first.

#include <QByteArray>

namespace QXlsx {
namespace detail {

// Workbook part XML with sheet tab marked as the active one and firstSheet
// (at most tab) as the first tab shown; false if the part cannot be edited that way.
bool markActiveTab(const QByteArray &xml, int tab, int firstSheet, QByteArray *out);

// Reads the workbookView attributes from workbook part XML; false if it is not one.
bool readBookView(const QByteArray &xml, int *activeTab, int *firstSheet);

} // namespace detail
} // namespace QXlsx

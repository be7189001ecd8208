#pragma once

// Calendar dates as the day numbers a spreadsheet stores for them.

#include <QStringView>

namespace QXlsx {
namespace detail {

// The serial of a date in the 1900 or the 1904 date system; false when that
// system has no number for it (no such day, before its first day, after 9999).
// The 1900 system counts a 29 February 1900 that never was: it is day 60.
// The other way round is QXlsx::dateFromSerial.
bool dateSerial(int year, int month, int day, bool date1904, double *serial);

// The serial of text written exactly yyyy-mm-dd; false when it is no such date.
bool isoDateSerial(QStringView text, bool date1904, double *serial);

// The value of n decimal digits at text[from]; -1 when they are not all
// digits or run past the end.
int decimalDigits(QStringView text, int from, int n);

} // namespace detail
} // namespace QXlsx

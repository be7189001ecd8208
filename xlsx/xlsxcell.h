#pragma once

#include <QDate>
#include <QVariant>

namespace QXlsx {

// One cell present in a worksheet. Its value is one of
//   double     a number (dates too, as the serial number stored; a t="d"
//              ISO 8601 date, date-time or time of day as the serial number
//              it stands for in the workbook's date system);
//   QString    a shared, inline or formula string, or an error such as "#DIV/0!";
//   bool       a boolean;
//   invalid    no value: the cell element holds none, or one that does not
//              read under its type (an empty <v/>, a shared string index out
//              of range, text in a number cell, an unknown type).
class Cell
{
public:
    explicit Cell(QVariant value = QVariant()) : m_value(std::move(value)) {}
    QVariant value() const { return m_value; }

private:
    QVariant m_value;
};

// The calendar day a serial day number stands for, as dates are stored in
// cells: in the 1904 date system days after 1 January 1904; in the 1900
// system, from serial 61 (1 March 1900) on, days after 30 December 1899 (the
// spreadsheet counts a 29 February 1900 that never was, as day 60), and
// before it 1 January 1900 plus trunc(serial - 1) days. The fraction (the
// time of day) is dropped. Invalid outside the toolkit's calendar.
QDate dateFromSerial(double serial, bool date1904);

} // namespace QXlsx

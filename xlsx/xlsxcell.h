#pragma once

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

} // namespace QXlsx

#include "core/dateserial.h"

#include "xlsxcell.h"

#include <cmath>

#include <QDate>

namespace QXlsx {

QDate dateFromSerial(double serial, bool date1904)
{
    // Days beyond this are far outside any calendar the toolkit can print.
    constexpr double maxDays = 1e9;
    double days;
    QDate base;
    if (date1904) {
        base = QDate(1904, 1, 1);
        days = std::trunc(serial);
    } else if (serial >= 61) {
        base = QDate(1899, 12, 30);
        days = std::trunc(serial);
    } else {
        base = QDate(1900, 1, 1);
        days = std::trunc(serial - 1.0);
    }
    return std::isfinite(days) && std::abs(days) < maxDays ? base.addDays(qint64(days)) : QDate();
}

namespace detail {

bool dateSerial(int year, int month, int day, bool date1904, double *serial)
{
    if (!date1904 && year == 1900 && month == 2 && day == 29) {
        *serial = 60;
        return true;
    }
    const QDate date(year, month, day);
    if (!date.isValid() || year > 9999)
        return false;
    qint64 days;
    if (date1904)
        days = QDate(1904, 1, 1).daysTo(date);
    else if (date >= QDate(1900, 3, 1))
        days = QDate(1899, 12, 30).daysTo(date);
    else
        days = QDate(1899, 12, 31).daysTo(date);
    if (days < (date1904 ? 0 : 1))
        return false;
    *serial = double(days);
    return true;
}

bool isoDateSerial(QStringView text, bool date1904, double *serial)
{
    if (text.size() != 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return false;
    const int year = decimalDigits(text, 0, 4);
    const int month = decimalDigits(text, 5, 2);
    const int day = decimalDigits(text, 8, 2);
    return year >= 0 && month >= 0 && day >= 0 && dateSerial(year, month, day, date1904, serial);
}

int decimalDigits(QStringView text, int from, int n)
{
    if (from < 0 || n < 0 || from + n > text.size())
        return -1;
    int value = 0;
    for (int i = from; i < from + n; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace detail
} // namespace QXlsx

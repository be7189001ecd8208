#include "dateserial.h"

#include <QDate>

namespace QXlsx {
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

} // namespace detail
} // namespace QXlsx

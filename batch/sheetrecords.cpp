#include "batch/sheetrecords.h"

#include "xlsxdocument.h"

#include <QDate>
#include <QDebug>

#include <cmath>

const SheetLayout SheetLayout::device = {1, 2, {3, 4}, 0, true, "/装置检验二维码"};
const SheetLayout SheetLayout::board = {2, 3, {6, 7}, 3, false, "/板卡检验二维码"};

namespace {

const QString separator = QStringLiteral("; ");

// Occupied positions (2..count, fixed) or (fixed, 2..count), plus one.
int countFrom2(const QXlsx::Document &xlsx, int count, bool alongRow)
{
    int n = 1;
    for (int i = 2; i <= count; ++i)
        if (alongRow ? xlsx.cellAt(1, i) : xlsx.cellAt(i, 1))
            ++n;
    return n;
}

} // namespace

QString serialDateText(double serial, bool date1904)
{
    // Days beyond this are far outside any calendar the toolkit can print.
    constexpr double maxDays = 1e9;
    double days;
    QDate base;
    if (date1904) {
        base = QDate(1904, 1, 1);
        days = std::trunc(serial);
    } else if (serial >= 61) {
        // The spreadsheet counts a 29 February 1900 that never was.
        base = QDate(1899, 12, 30);
        days = std::trunc(serial);
    } else {
        base = QDate(1900, 1, 1);
        days = std::trunc(serial - 1.0);
    }
    const QDate date = std::isfinite(days) && std::abs(days) < maxDays ? base.addDays(qint64(days)) : QDate();
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

CodeMap readSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout)
{
    CodeMap codes;
    const QXlsx::CellRange range = xlsx.dimension();
    if (!range.isValid())
        return codes;
    const int rows = countFrom2(xlsx, range.rowCount(), false);
    const int cols = countFrom2(xlsx, range.columnCount(), true);
    const bool date1904 = xlsx.isDate1904();

    for (int r = 2; r <= rows; ++r) {
        QString key;
        QString payload;
        if (const QXlsx::Cell *cell = xlsx.cellAt(r, layout.keyColumn))
            key = cell->value().toString();
        for (int j = layout.firstPayloadColumn; j <= cols; ++j) {
            const QXlsx::Cell *cell = xlsx.cellAt(r, j);
            if (!cell)
                continue;
            const QVariant value = cell->value();
            if (!value.isValid())
                continue;
            if (j == cols) {
                payload += value.toString();
            } else if (j == layout.dateColumns[0] || j == layout.dateColumns[1]) {
                if (value.type() == QVariant::Double) {
                    const QString date = serialDateText(value.toDouble(), date1904);
                    payload += (date.isEmpty() ? value.toString() : date) + separator;
                }
            } else {
                payload += value.toString() + separator;
            }
            if (j == layout.keySuffixColumn)
                key += QLatin1Char('_') + value.toString();
        }
        if (layout.logPayload)
            qDebug() << payload;
        codes.insert(key, payload);
    }
    return codes;
}

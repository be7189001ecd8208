#include "batch/sheetrecords.h"

#include "xlsxdocument.h"

#include <QDate>
#include <QDebug>
#include <QSet>

#include <algorithm>

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
    const QDate date = QXlsx::dateFromSerial(serial, date1904);
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

namespace {

// Rows and columns read: as many as column 1 and row 1 have cells from 2 on.
struct Extent
{
    int rows = 0;
    int cols = 0;
};

Extent extentOf(const QXlsx::Document &xlsx)
{
    const QXlsx::CellRange range = xlsx.dimension();
    if (!range.isValid())
        return {};
    return {countFrom2(xlsx, range.rowCount(), false), countFrom2(xlsx, range.columnCount(), true)};
}

// The key of row r: the key column's text, and for boards "_" and the
// suffix column's text when that column is read and holds a value.
QString keyOf(const QXlsx::Document &xlsx, const SheetLayout &layout, int r, int cols)
{
    QString key;
    if (const QXlsx::Cell *cell = xlsx.cellAt(r, layout.keyColumn))
        key = cell->value().toString();
    const int suffix = layout.keySuffixColumn;
    if (suffix && suffix >= layout.firstPayloadColumn && suffix <= cols) {
        const QXlsx::Cell *cell = xlsx.cellAt(r, suffix);
        if (cell && cell->value().isValid())
            key += QLatin1Char('_') + cell->value().toString();
    }
    return key;
}

bool hasText(const QXlsx::Cell *cell)
{
    return cell && !cell->value().toString().isEmpty();
}

void noteUnread(const QXlsx::Document &xlsx, const Extent &extent, SheetNotes *notes)
{
    const QXlsx::CellRange range = xlsx.dimension();
    for (int r = std::max(extent.rows + 1, 2); r <= range.lastRow(); ++r)
        if (hasText(xlsx.cellAt(r, 1)))
            notes->unreadRows.append(r);
    for (int j = std::max(extent.cols + 1, 2); j <= range.lastColumn(); ++j)
        if (hasText(xlsx.cellAt(1, j)))
            notes->unreadColumns.append(j);
}

void noteKey(SheetNotes *notes, const QString &key, int row)
{
    if (key.isEmpty()) {
        notes->emptyKeyRows.append(row);
    } else {
        const auto earlier = notes->rowOfKey.constFind(key);
        if (earlier != notes->rowOfKey.cend())
            notes->repeatedKeys.append({earlier.value(), key});
    }
    notes->rowOfKey.insert(key, row);
}

} // namespace

CodeMap readSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout, SheetNotes *notes)
{
    CodeMap codes;
    const Extent extent = extentOf(xlsx);
    const int rows = extent.rows;
    const int cols = extent.cols;
    const bool date1904 = xlsx.isDate1904();
    if (notes)
        noteUnread(xlsx, extent, notes);

    for (int r = 2; r <= rows; ++r) {
        const QString key = keyOf(xlsx, layout, r, cols);
        QString payload;
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
                } else if (notes && value.type() == QVariant::String && !value.toString().isEmpty()) {
                    notes->textDates.append({r, j, key});
                }
            } else {
                payload += value.toString() + separator;
            }
        }
        if (layout.logPayload)
            qDebug() << payload;
        if (notes)
            noteKey(notes, key, r);
        codes.insert(key, payload);
    }
    return codes;
}

int countSheetRecords(const QXlsx::Document &xlsx, const SheetLayout &layout)
{
    const Extent extent = extentOf(xlsx);
    QSet<QString> keys;
    for (int r = 2; r <= extent.rows; ++r)
        keys.insert(keyOf(xlsx, layout, r, extent.cols));
    return keys.size();
}

#pragma once

// Helpers shared by the xlsx tests: fixtures, zip entries, the openpyxl checker.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <utility>

namespace QXlsx {
class Document;
}

namespace xlsxtest {

QString fixture(const QString &name);
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

struct Entry
{
    QString name;
    QByteArray data; // inflated
    QByteArray raw; // as stored
    int method = 0;
};
// The entries of a zip, in their order; ok false when it cannot be read.
QVector<Entry> zipEntries(const QString &path, bool *ok = nullptr);
QByteArray zipEntry(const QString &path, const QString &name);
// Writes a zip of (name, content) pairs, deflated, in the order given.
bool writeZip(const QString &path, const QVector<std::pair<QString, QByteArray>> &entries);
// A copy of zip source with entry name's content changed (or dropped when
// content is null, or added at the end when missing).
bool editZip(const QString &source, const QString &target, const QString &name, const QByteArray &content);

// The parts of a minimal workbook around the given worksheet parts (sheet1.xml, ...),
// without the worksheets themselves; sharedStrings adds that part when not null.
QVector<std::pair<QString, QByteArray>> workbookParts(int sheets, const QByteArray &sharedStrings = QByteArray());
// A worksheet part holding sheetData.
QByteArray worksheet(const QByteArray &sheetData);

// What openpyxl reads, as printed by dump_cells.py.
struct Dump
{
    struct Cell
    {
        int sheet, row, column;
        QString type, value;
    };
    bool ok = false;
    QString error;
    int active = -1;
    bool date1904 = false;
    QStringList sheets;
    QVector<bool> chart;
    QVector<Cell> cells;
    QStringList lines; // all of it, for comparing two dumps
};
bool openpyxlAvailable();
Dump openpyxlDump(const QString &path);

// Why the document's cell differs from openpyxl's, or empty when it does not.
QString compareCell(const QVariant &mine, const Dump::Cell &theirs);
// Every difference between what the document and openpyxl read.
QStringList compareWithDump(QXlsx::Document &doc, const Dump &dump);

// Every cell of the selected sheet, in order, as "row,column kind:value"
// (kind n for a number, to the 15 digits a spreadsheet keeps; s for text,
// b for a boolean, - for no value).
QStringList cellLines(const QXlsx::Document &doc);

// Days since 1899-12-30, as a workbook stores a date-time.
double serial(const QDateTime &when);

} // namespace xlsxtest

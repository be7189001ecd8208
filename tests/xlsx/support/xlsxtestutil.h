#pragma once

// Helpers shared by the xlsx tests: fixtures, zip entries, the openpyxl checker.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include "hostprocess.h"
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <utility>
#include <vector>

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
// The entries of a zip, in their order, as our own zip code reads them; ok
// false when it cannot be read.
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
// What dump_cells.py printed for one workbook; not ok for an "error" line.
Dump parseDump(const QStringList &lines);

// dump_cells.py over many workbooks, in a few processes side by side.
class OpenpyxlRun
{
public:
    void start(const QStringList &paths, int processes);
    // Waits; a workbook whose process failed is missing from the result.
    QHash<QString, Dump> finish();

private:
    std::vector<std::unique_ptr<HostProcess>> m_processes;
};

// The header fields of every entry of a zip, as zip_headers.py prints them from
// Python's zipfile; empty when it cannot be read.
QJsonObject zipHeaders(const QString &path, QString *error = nullptr);

// Why the document's cell differs from openpyxl's, or empty when it does not.
// Dates and times count as the serial number openpyxl gives back.
QString compareCell(const QVariant &mine, const Dump::Cell &theirs, bool date1904);
// Every difference between what the workbook at path and openpyxl read.
QStringList compareWithDump(const QString &path, const Dump &dump);

// The cells of every sheet of a workbook, each sheet's after a line with its name.
QStringList allCells(const QString &path);

// Package reading with Qt's XML reader, to check what the saved files say.
// Part names are lower case with forward slashes.
QString partKey(QString name);
struct Relationship
{
    QString id, type, target;
};

QVector<Relationship> relationships(const QByteArray &xml, const QString &source);
// The target of the first relationship whose type ends with typeEnd, or with this id.
QString relationshipTarget(const QVector<Relationship> &rels, const QString &typeEnd, const QString &id = QString());
QString relationshipsPart(const QString &part);
QHash<QString, QByteArray> partsOf(const QVector<Entry> &entries);

// Which sheet a package opens on, and which tabs are selected.
struct Selection
{
    bool ok = false;
    int activeTab = 0;
    int firstSheet = 0;
    QStringList states;
    QVector<bool> selected; // tabSelected in the first workbook view
    QVector<bool> hasView; // a sheetView for the first workbook view
    QString workbookPart;
    QStringList sheetParts;

    bool visible(int i) const { return i >= 0 && i < states.size() && states[i] == QLatin1String("visible"); }
    // After a batch run has selected every sheet: the last visible one.
    int expectedActive() const
    {
        for (int i = states.size() - 1; i >= 0; --i) {
            if (visible(i))
                return i;
        }
        return states.size() - 1;
    }
};

Selection readSelection(const QHash<QString, QByteArray> &parts);
Selection readSelection(const QString &path);
// XML without its sheetView, workbookView and bookViews tags.
QByteArray withoutViewTags(const QByteArray &xml);
// Dump lines without the active sheet.
QStringList withoutActive(const QStringList &lines);

// Every cell of the selected sheet, in order, as "row,column kind:value"
// (kind n for a number, to the 15 digits a spreadsheet keeps; s for text,
// b for a boolean, - for no value).
QStringList cellLines(const QXlsx::Document &doc);

// Days since 1899-12-30, as a workbook stores a date-time.
double serial(const QDateTime &when);

} // namespace xlsxtest

#include "xlsxtestutil.h"

#include "xlsxdocument.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>

#include <cmath>

namespace xlsxtest {

namespace {
const char *const Python = "/usr/bin/python3";
}

QString fixture(const QString &name)
{
    return QStringLiteral(KESTROVA_SOURCE_DIR "/tests/xlsx/fixtures/") + name;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QVector<Entry> zipEntries(const QString &path, bool *ok)
{
    QVector<Entry> entries;
    QuaZip zip(path);
    bool good = zip.open(QuaZip::mdUnzip);
    for (bool more = good && zip.goToFirstFile(); good && more; more = zip.goToNextFile()) {
        Entry e;
        e.name = zip.getCurrentFileName();
        QuaZipFile inflated(&zip);
        good = inflated.open(QIODevice::ReadOnly);
        e.data = inflated.readAll();
        inflated.close();
        good = good && inflated.getZipError() == UNZ_OK;
        QuaZipFile raw(&zip);
        good = good && raw.open(QIODevice::ReadOnly, &e.method, nullptr, true);
        e.raw = raw.readAll();
        raw.close();
        entries.append(e);
    }
    good = good && zip.getZipError() == UNZ_OK;
    if (ok)
        *ok = good;
    return entries;
}

QByteArray zipEntry(const QString &path, const QString &name)
{
    for (const Entry &e : zipEntries(path)) {
        if (e.name == name)
            return e.data;
    }
    return QByteArray();
}

bool writeZip(const QString &path, const QVector<std::pair<QString, QByteArray>> &entries)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    bool ok = true;
    for (const auto &entry : entries) {
        QuaZipFile f(&zip);
        ok = ok && f.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)) && f.write(entry.second) == entry.second.size();
        f.close();
    }
    zip.close();
    return ok && zip.getZipError() == ZIP_OK;
}

bool editZip(const QString &source, const QString &target, const QString &name, const QByteArray &content)
{
    bool ok = false;
    QVector<std::pair<QString, QByteArray>> out;
    bool found = false;
    for (const Entry &e : zipEntries(source, &ok)) {
        if (e.name == name) {
            found = true;
            if (!content.isNull())
                out.append({e.name, content});
        } else {
            out.append({e.name, e.data});
        }
    }
    if (!found && !content.isNull())
        out.append({name, content});
    return ok && writeZip(target, out);
}

QVector<std::pair<QString, QByteArray>> workbookParts(int sheets, const QByteArray &sharedStrings)
{
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const QByteArray pkg = "http://schemas.openxmlformats.org/package/2006/relationships";
    QByteArray workbook = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + rel + "\"><sheets>";
    QByteArray rels = "<Relationships xmlns=\"" + pkg + "\">";
    for (int i = 1; i <= sheets; ++i) {
        const QByteArray n = QByteArray::number(i);
        workbook += "<sheet name=\"s" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    if (!sharedStrings.isNull())
        rels += "<Relationship Id=\"rIdS\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    workbook += "</sheets></workbook>";
    rels += "</Relationships>";
    QVector<std::pair<QString, QByteArray>> parts = {
        {QStringLiteral("_rels/.rels"), "<Relationships xmlns=\"" + pkg + "\"><Relationship Id=\"rId1\" Type=\"" + rel
                                            + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {QStringLiteral("xl/workbook.xml"), workbook},
        {QStringLiteral("xl/_rels/workbook.xml.rels"), rels},
    };
    if (!sharedStrings.isNull())
        parts.append({QStringLiteral("xl/sharedStrings.xml"), sharedStrings});
    return parts;
}

QByteArray worksheet(const QByteArray &sheetData)
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" + sheetData
        + "</sheetData></worksheet>";
}

bool openpyxlAvailable()
{
    if (!QFileInfo::exists(QString::fromLatin1(Python)))
        return false;
    QProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Dump openpyxlDump(const QString &path)
{
    Dump dump;
    QProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral(KESTROVA_SOURCE_DIR "/tests/xlsx/dump_cells.py"), path});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        dump.error = QString::fromUtf8(p.readAllStandardError());
        return dump;
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        dump.lines.append(line);
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f[0] == QLatin1String("active")) {
            dump.active = f.value(1).toInt();
        } else if (f[0] == QLatin1String("date1904")) {
            dump.date1904 = f.value(1) == QLatin1String("1");
        } else if (f[0] == QLatin1String("sheet")) {
            dump.sheets.append(QJsonDocument::fromJson("[" + f.value(2).toUtf8() + "]").toVariant().toList().value(0).toString());
            dump.chart.append(f.value(3) == QLatin1String("chart"));
        } else if (f[0] == QLatin1String("cell") && f.size() == 6) {
            QString value = f[5];
            if (f[4] == QLatin1String("s"))
                value = QJsonDocument::fromJson("[" + value.toUtf8() + "]").toVariant().toList().value(0).toString();
            dump.cells.append({f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4], value});
        }
    }
    dump.ok = true;
    return dump;
}

QStringList cellLines(const QXlsx::Document &doc)
{
    QStringList lines;
    const QXlsx::CellRange range = doc.dimension();
    if (!range.isValid())
        return lines;
    for (int row = range.firstRow(); row <= range.lastRow(); ++row) {
        for (int column = range.firstColumn(); column <= range.lastColumn(); ++column) {
            const QXlsx::Cell *cell = doc.cellAt(row, column);
            if (!cell)
                continue;
            const QVariant v = cell->value();
            QString text;
            switch (v.type()) {
            case QVariant::Double:
                text = QLatin1String("n:") + QString::number(v.toDouble(), 'g', 15);
                break;
            case QVariant::String:
                text = QLatin1String("s:") + v.toString();
                break;
            case QVariant::Bool:
                text = QLatin1String("b:") + v.toString();
                break;
            case QVariant::Invalid:
                text = QStringLiteral("-");
                break;
            default:
                text = QLatin1String(v.typeName()) + QLatin1Char(':') + v.toString();
            }
            lines << QStringLiteral("%1,%2 ").arg(row).arg(column) + text;
        }
    }
    return lines;
}

double serial(const QDateTime &when)
{
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), when.timeSpec() == Qt::UTC ? Qt::UTC : Qt::LocalTime);
    return double(epoch.msecsTo(when)) / 86400000.0;
}

QString compareCell(const QVariant &mine, const Dump::Cell &theirs)
{
    const QString t = theirs.type;
    const auto describe = [&]() {
        return QStringLiteral("(%1,%2,%3) mine %4 %5, openpyxl %6 %7")
            .arg(theirs.sheet).arg(theirs.row).arg(theirs.column)
            .arg(QString::fromLatin1(mine.typeName())).arg(mine.toString(), t, theirs.value);
    };
    if (t == QLatin1String("-"))
        return mine.isValid() ? describe() : QString();
    if (t == QLatin1String("s") || t == QLatin1String("e"))
        return mine.type() == QVariant::String && mine.toString() == theirs.value ? QString() : describe();
    if (t == QLatin1String("b"))
        return mine.type() == QVariant::Bool && mine.toBool() == (theirs.value == QLatin1String("1")) ? QString() : describe();
    if (t == QLatin1String("n")) {
        double a;
        if (mine.type() == QVariant::Double)
            a = mine.toDouble();
        else
            return describe();
        const double b = theirs.value.toDouble();
        // openpyxl turns date numbers into date-times and back: allow for its rounding.
        return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)) ? QString() : describe();
    }
    return describe();
}

QStringList compareWithDump(QXlsx::Document &doc, const Dump &dump)
{
    QStringList problems;
    if (doc.sheetNames() != dump.sheets)
        problems << QStringLiteral("sheets: mine %1, openpyxl %2").arg(doc.sheetNames().join(QLatin1Char(',')), dump.sheets.join(QLatin1Char(',')));
    if (doc.isDate1904() != dump.date1904)
        problems << QStringLiteral("date1904 differs");
    for (int s = 0; s < dump.sheets.size() && s < doc.sheetNames().size(); ++s) {
        if (!doc.selectSheet(dump.sheets[s])) {
            problems << QStringLiteral("cannot select %1").arg(dump.sheets[s]);
            continue;
        }
        int expected = 0;
        int firstRow = INT_MAX, lastRow = 0, firstColumn = INT_MAX, lastColumn = 0;
        for (const Dump::Cell &c : dump.cells) {
            if (c.sheet != s)
                continue;
            ++expected;
            firstRow = std::min(firstRow, c.row);
            lastRow = std::max(lastRow, c.row);
            firstColumn = std::min(firstColumn, c.column);
            lastColumn = std::max(lastColumn, c.column);
            const QXlsx::Cell *cell = doc.cellAt(c.row, c.column);
            if (!cell) {
                problems << QStringLiteral("(%1,%2,%3) missing").arg(s).arg(c.row).arg(c.column);
                continue;
            }
            const QString why = compareCell(cell->value(), c);
            if (!why.isEmpty())
                problems << why;
        }
        const QXlsx::CellRange range = doc.dimension();
        if (expected == 0) {
            if (range.isValid())
                problems << QStringLiteral("sheet %1 should have no cells").arg(s);
            continue;
        }
        if (range.firstRow() != firstRow || range.lastRow() != lastRow || range.firstColumn() != firstColumn
            || range.lastColumn() != lastColumn)
            problems << QStringLiteral("sheet %1 dimension differs").arg(s);
        int present = 0;
        for (int r = range.firstRow(); r <= range.lastRow(); ++r) {
            for (int c = range.firstColumn(); c <= range.lastColumn(); ++c)
                present += doc.cellAt(r, c) != nullptr;
        }
        if (present != expected)
            problems << QStringLiteral("sheet %1: %2 cells, openpyxl %3").arg(s).arg(present).arg(expected);
    }
    return problems;
}

} // namespace xlsxtest

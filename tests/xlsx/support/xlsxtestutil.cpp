#include "xlsxtestutil.h"

#include "xlsxdocument.h"
#include "xlsx/bookview.h"
#include "xlsx/partreader.h"
#include "xlsx/selection.h"
#include "xlsx/sheetview.h"
#include "xlsx/workbookreader.h"
#include "xlsx/xlsxbook.h"
#include "zip/zipentryreader.h"
#include "zipbuilder.h"

#include "hostprocess.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <cmath>

namespace xlsxtest {

namespace {
const char *const Python = "/usr/bin/python3";
// 1904-01-01 as a serial day of the 1900 date system.
constexpr double Days1900To1904 = 1462;

// Runs one of the test scripts on path; its standard output, or false with *error set.
bool runScript(const char *script, const QString &path, QByteArray *out, QString *error)
{
    HostProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral(KESTROVA_SOURCE_DIR "/tests/xlsx/support/") + QLatin1String(script), path});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    *out = p.readAllStandardOutput();
    return true;
}
} // namespace

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
    QXlsx::detail::Package package;
    bool good = package.open(readFile(path), nullptr);
    for (int i = 0; good && i < package.size(); ++i) {
        const QXlsx::detail::ZipEntryLayout &layout = package.entry(i);
        Entry e;
        e.name = package.name(i);
        e.method = layout.record.method();
        e.raw = package.bytes().mid(int(layout.data), int(layout.compressed));
        QXlsx::detail::EntryReader reader(package.bytes(), layout, qint64(1) << 30);
        QByteArray chunk;
        while (reader.next(&chunk))
            e.data += chunk;
        good = !reader.failed();
        entries.append(e);
    }
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
    ZipBuilder zip;
    for (const auto &entry : entries)
        zip.add(entry.first.toUtf8(), entry.second);
    return writeFile(path, zip.finish());
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
    HostProcess p;
    p.start(QString::fromLatin1(Python), {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Dump parseDump(const QStringList &lines)
{
    Dump dump;
    dump.ok = true;
    for (const QString &line : lines) {
        dump.lines.append(line);
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f[0] == QLatin1String("error")) {
            dump.ok = false;
            dump.error = f.value(1);
        } else if (f[0] == QLatin1String("active")) {
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
    return dump;
}

QJsonObject zipHeaders(const QString &path, QString *error)
{
    QByteArray printed;
    QString unused;
    if (!runScript("zip_headers.py", path, &printed, error ? error : &unused))
        return QJsonObject();
    return QJsonDocument::fromJson(printed).object();
}

Dump openpyxlDump(const QString &path)
{
    QByteArray printed;
    Dump failed;
    if (!runScript("dump_cells.py", path, &printed, &failed.error))
        return failed;
    return parseDump(QString::fromUtf8(printed).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

void OpenpyxlRun::start(const QStringList &paths, int processes)
{
    m_processes.clear();
    for (int i = 0; i < processes; ++i) {
        QStringList args {QStringLiteral(KESTROVA_SOURCE_DIR "/tests/xlsx/support/dump_cells.py")};
        for (int k = i; k < paths.size(); k += processes)
            args << paths[k];
        if (args.size() == 1)
            break;
        if (args.size() == 2)
            args << args.last(); // one path alone would give the single-workbook form
        auto p = std::make_unique<HostProcess>();
        p->start(QString::fromLatin1(Python), args);
        m_processes.push_back(std::move(p));
    }
}

QHash<QString, Dump> OpenpyxlRun::finish()
{
    QHash<QString, Dump> dumps;
    for (const auto &p : m_processes) {
        if (!p->waitForFinished(600000) || p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
            continue; // its workbooks stay missing from the result
        QString file;
        QStringList lines;
        const auto flush = [&]() {
            if (!file.isEmpty())
                dumps.insert(file, parseDump(lines));
            lines.clear();
        };
        for (const QString &line : QString::fromUtf8(p->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String("file\t"))) {
                flush();
                file = line.mid(5);
            } else {
                lines << line;
            }
        }
        flush();
    }
    m_processes.clear();
    return dumps;
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

QString compareCell(const QVariant &mine, const Dump::Cell &theirs, bool date1904)
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
        else if (mine.type() == QVariant::DateTime)
            a = serial(mine.toDateTime()) - (date1904 ? Days1900To1904 : 0);
        else if (mine.type() == QVariant::Time)
            a = mine.toTime().msecsSinceStartOfDay() / 86400000.0;
        else
            return describe();
        const double b = theirs.value.toDouble();
        // openpyxl turns date numbers into date-times and back: allow for its rounding.
        return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)) ? QString() : describe();
    }
    return describe();
}

QStringList compareWithDump(const QString &path, const Dump &dump)
{
    QStringList problems;
    QXlsx::Document doc(path);
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readWorkbook(readFile(path));
    if (!doc.isLoaded() || !book)
        return {QStringLiteral("not loaded")};
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
            const QString why = compareCell(cell->value(), c, dump.date1904);
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
        // Every cell of openpyxl's is there: as many cells means no others.
        const int present = int(book->sheets[size_t(s)].cells.size());
        if (present != expected)
            problems << QStringLiteral("sheet %1: %2 cells, openpyxl %3").arg(s).arg(present).arg(expected);
    }
    return problems;
}

QStringList allCells(const QString &path)
{
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readWorkbook(readFile(path));
    if (!book)
        return {QStringLiteral("not loaded")};
    QStringList cells;
    for (const QXlsx::detail::Sheet &sheet : book->sheets) {
        cells << QStringLiteral("sheet ") + sheet.name;
        for (const QXlsx::detail::CellEntry &c : sheet.cells) {
            const QVariant v = c.cell.value();
            cells << QStringLiteral("%1,%2=%3:%4").arg(c.row).arg(c.column).arg(QLatin1String(v.typeName()), v.toString());
        }
    }
    return cells;
}

QString partKey(QString name)
{
    return name.replace(QLatin1Char('\\'), QLatin1Char('/')).toLower();
}

QString resolve(const QString &from, const QString &target)
{
    QString path = target.startsWith(QLatin1Char('/')) ? target.mid(1) : from.left(from.lastIndexOf(QLatin1Char('/')) + 1) + target;
    QStringList parts;
    for (const QString &s : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (s == QLatin1String(".."))
            parts.removeLast();
        else if (s != QLatin1String("."))
            parts << s;
    }
    return parts.join(QLatin1Char('/'));
}

QVector<Relationship> relationships(const QByteArray &xml, const QString &source)
{
    QVector<Relationship> rels;
    QXmlStreamReader x(xml);
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement || x.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes a = x.attributes();
        rels.append({a.value(QLatin1String("Id")).toString(), a.value(QLatin1String("Type")).toString(),
                     resolve(source, a.value(QLatin1String("Target")).toString())});
    }
    return rels;
}

QString relationshipTarget(const QVector<Relationship> &rels, const QString &typeEnd, const QString &id)
{
    for (const Relationship &r : rels) {
        if (id.isEmpty() ? r.type.endsWith(typeEnd) : r.id == id)
            return partKey(r.target);
    }
    return QString();
}

QString relationshipsPart(const QString &part)
{
    const int slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QLatin1String("_rels/") + part.mid(slash + 1) + QLatin1String(".rels");
}

Selection readSelection(const QHash<QString, QByteArray> &parts)
{
    Selection s;
    s.workbookPart = relationshipTarget(relationships(parts.value(QStringLiteral("_rels/.rels")), QString()), QStringLiteral("/officeDocument"));
    const QString book = s.workbookPart;
    if (!parts.contains(book))
        return s;
    const QVector<Relationship> rels = relationships(parts.value(relationshipsPart(book)), book);

    QXmlStreamReader x(parts.value(book));
    bool view = false;
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = x.attributes();
        if (x.name() == QLatin1String("workbookView") && !view) {
            view = true;
            s.activeTab = a.hasAttribute(QLatin1String("activeTab")) ? a.value(QLatin1String("activeTab")).toInt() : 0;
            s.firstSheet = a.hasAttribute(QLatin1String("firstSheet")) ? a.value(QLatin1String("firstSheet")).toInt() : 0;
        } else if (x.name() == QLatin1String("sheet")) {
            s.states << (a.hasAttribute(QLatin1String("state")) ? a.value(QLatin1String("state")).toString() : QStringLiteral("visible"));
            QString id;
            for (const QXmlStreamAttribute &attribute : a) {
                if (attribute.name() == QLatin1String("id") && attribute.namespaceUri().endsWith(QLatin1String("relationships")))
                    id = attribute.value().toString();
            }
            s.sheetParts << relationshipTarget(rels, QString(), id);
        }
    }
    if (x.hasError())
        return s;
    for (const QString &part : s.sheetParts) {
        bool selected = false;
        bool hasView = false;
        QXmlStreamReader sheet(parts.value(part));
        while (!sheet.atEnd()) {
            if (sheet.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (sheet.name() == QLatin1String("sheetData"))
                break;
            const QXmlStreamAttributes a = sheet.attributes();
            if (sheet.name() == QLatin1String("sheetView") && a.value(QLatin1String("workbookViewId")).toInt() == 0) {
                hasView = true;
                const QStringRef tab = a.value(QLatin1String("tabSelected"));
                selected = selected || tab == QLatin1String("1") || tab == QLatin1String("true");
            }
        }
        s.selected << selected;
        s.hasView << hasView;
    }
    s.ok = true;
    return s;
}

// The parts of a package, inflated, by lower-case name with forward slashes.
QHash<QString, QByteArray> partsOf(const QVector<Entry> &entries)
{
    QHash<QString, QByteArray> parts;
    for (const Entry &e : entries) {
        if (!parts.contains(partKey(e.name)))
            parts.insert(partKey(e.name), e.data);
    }
    return parts;
}

QByteArray withoutViewTags(const QByteArray &xml)
{
    static const QRegularExpression tags(QStringLiteral("</?([A-Za-z_][\\w.-]*:)?(sheetView|workbookView|bookViews)(?=[\\s/>])[^>]*>"));
    return QString::fromUtf8(xml).remove(tags).toUtf8();
}

Selection readSelection(const QString &path)
{
    bool ok = false;
    const QVector<Entry> entries = zipEntries(path, &ok);
    return ok ? readSelection(partsOf(entries)) : Selection();
}

QStringList withoutActive(const QStringList &lines)
{
    QStringList out;
    for (const QString &l : lines) {
        if (!l.startsWith(QLatin1String("active\t")))
            out << l;
    }
    return out;
}

} // namespace xlsxtest

// Saving a workbook back: every part and its zip headers kept as they were but
// the active and selected tabs, written atomically over the target, which keeps
// its owner.

#include "unprivileged.h"
#include "xlsxdocument.h"
#include "xlsxtestutil.h"
#include "xlsx/xlsxbook.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace xlsxtest;

namespace {

const QString WorkbookPart = QStringLiteral("xl/workbook.xml");

QByteArray withoutTabAttributes(QByteArray xml)
{
    static const QRegularExpression attributes(QStringLiteral(R"( (activeTab|firstSheet)="[0-9]+")"));
    return QString::fromUtf8(xml).remove(attributes).toUtf8();
}

int attributeValue(const QByteArray &xml, const char *name)
{
    const QRegularExpression re(QStringLiteral("<workbookView[^>]* %1=\"([0-9]+)\"").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(xml));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Compares every entry of two packages: the same names in the same order, each
// kept as stored but the workbook part and the sheet parts, which may differ in
// their view start tags only. The names of those that differ go to changed.
void compareEntries(const QString &before, const QString &after, QStringList *changed = nullptr)
{
    bool ok1 = false, ok2 = false;
    const QVector<Entry> a = zipEntries(before, &ok1);
    const QVector<Entry> b = zipEntries(after, &ok2);
    QVERIFY(ok1 && ok2);
    QStringList namesA, namesB;
    for (const Entry &e : a)
        namesA << e.name;
    for (const Entry &e : b)
        namesB << e.name;
    QCOMPARE(namesB, namesA);
    const Selection s = readSelection(after);
    QVERIFY(s.ok);
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].data != b[i].data) {
            QVERIFY2(partKey(a[i].name) == s.workbookPart || s.sheetParts.contains(partKey(a[i].name)), qPrintable(a[i].name));
            QVERIFY2(withoutViewTags(a[i].data) == withoutViewTags(b[i].data), qPrintable(a[i].name));
            if (changed)
                *changed << a[i].name;
            continue;
        }
        QVERIFY2(a[i].raw == b[i].raw, qPrintable(a[i].name + QLatin1String(" (compressed)")));
        QCOMPARE(b[i].method, a[i].method);
    }
}


// Every entry's headers, as Python's zipfile reads them, are as they were but
// those of the parts replaced: these keep its name, flags (but the
// data descriptor's), version made by, times, attributes, extra field and
// comment, and is deflated with no data descriptor after it.
void compareHeaders(const QString &before, const QString &after, const QStringList &replaced)
{
    QString error;
    const QJsonObject a = zipHeaders(before, &error);
    const QJsonObject b = zipHeaders(after, &error);
    QVERIFY2(!a.isEmpty() && !b.isEmpty(), qPrintable(error));
    QCOMPARE(b.value(QLatin1String("comment")), a.value(QLatin1String("comment")));
    const QJsonArray entriesA = a.value(QLatin1String("entries")).toArray();
    const QJsonArray entriesB = b.value(QLatin1String("entries")).toArray();
    QCOMPARE(entriesB.size(), entriesA.size());
    int seen = 0;
    for (int i = 0; i < entriesA.size(); ++i) {
        const QJsonObject x = entriesA[i].toObject();
        const QJsonObject y = entriesB[i].toObject();
        const QString name = x.value(QLatin1String("name")).toString();
        if (!replaced.contains(name)) {
            QStringList changed;
            for (auto it = x.begin(); it != x.end(); ++it) {
                if (y.value(it.key()) != it.value())
                    changed << it.key();
            }
            QVERIFY2(changed.isEmpty(), qPrintable(name + QLatin1String(": ") + changed.join(QLatin1String(", "))));
            continue;
        }
        ++seen;
        for (const char *key : {"name", "create_version", "create_system", "date_time", "internal_attr", "external_attr", "comment", "extra"})
            QVERIFY2(y.value(QLatin1String(key)) == x.value(QLatin1String(key)), key);
        QCOMPARE(y.value(QLatin1String("flags")).toInt(), x.value(QLatin1String("flags")).toInt() & ~0x8);
        QCOMPARE(y.value(QLatin1String("method")).toInt(), 8);
        QCOMPARE(y.value(QLatin1String("descriptor")).toString(), QStringLiteral("none"));
        // The local header says the same.
        const QByteArray local = QByteArray::fromHex(y.value(QLatin1String("local")).toString().toLatin1());
        QVERIFY(local.size() >= 30);
        QCOMPARE(qFromLittleEndian<quint16>(local.constData() + 6), quint16(y.value(QLatin1String("flags")).toInt()));
        QCOMPARE(qFromLittleEndian<quint16>(local.constData() + 8), quint16(8));
    }
    QVERIFY2(seen == replaced.size(), qPrintable(replaced.join(QLatin1String(", "))));
}

// size zeros (a whole number of MiB), deflated: one deflated MiB repeated, then
// an empty final block. Their CRC in *crc.
QByteArray deflatedZeros(quint64 size, quint32 *crc)
{
    const int block = 1 << 20;
    const QByteArray zeros(block, '\0');
    z_stream z {};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray segment(int(deflateBound(&z, block)) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
    z.avail_in = block;
    z.next_out = reinterpret_cast<Bytef *>(segment.data());
    z.avail_out = uInt(segment.size());
    // A full flush ends the segment on a byte boundary, referring to nothing before it.
    deflate(&z, Z_FULL_FLUSH);
    segment.resize(int(z.total_out));
    deflateEnd(&z);

    const uLong one = crc32(0, reinterpret_cast<const Bytef *>(zeros.constData()), block);
    uLong total = 0;
    QByteArray out;
    out.reserve(int(size / block) * segment.size() + 2);
    for (quint64 done = 0; done < size; done += block) {
        out += segment;
        total = crc32_combine(total, one, block);
    }
    out += QByteArray("\x03\x00", 2);
    *crc = quint32(total);
    return out;
}

// openpyxl reads the saved workbook as the source but for its active sheet.
void openpyxlReadsItAlike(const QString &source, const QString &saved, int active)
{
    if (!openpyxlAvailable())
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    const Dump before = openpyxlDump(source);
    const Dump after = openpyxlDump(saved);
    QVERIFY2(before.ok && after.ok, qPrintable(before.error + after.error));
    QCOMPARE(withoutActive(after.lines), withoutActive(before.lines));
    QCOMPARE(after.active, active);
}

// The tabs selected in the first workbook view.
QVector<int> selectedTabs(const Selection &s)
{
    QVector<int> tabs;
    for (int i = 0; i < s.selected.size(); ++i) {
        if (s.selected[i])
            tabs << i;
    }
    return tabs;
}

// values.xlsx (sheets device, device_2, empty) with the given sheet states,
// activeTab and firstSheet, and tabSelected on the sheets in selected.
QString viewVariant(const QString &path, const QStringList &states, int active, int first, const QVector<int> &selected,
                    const QByteArray &selectedValue = "1")
{
    bool ok = false;
    QVector<std::pair<QString, QByteArray>> parts;
    for (const Entry &e : zipEntries(fixture(QStringLiteral("values.xlsx")), &ok)) {
        QByteArray data = e.data;
        if (e.name == WorkbookPart) {
            data.replace("firstSheet=\"0\" activeTab=\"1\"", "firstSheet=\"" + QByteArray::number(first) + "\" activeTab=\"" + QByteArray::number(active) + "\"");
            int at = 0;
            for (const QString &state : states) {
                at = data.indexOf("state=\"visible\"", at);
                data.replace(at, 15, "state=\"" + state.toLatin1() + "\"");
                ++at;
            }
        }
        for (const int tab : selected) {
            if (e.name == QStringLiteral("xl/worksheets/sheet%1.xml").arg(tab + 1))
                data.replace("<sheetView ", "<sheetView tabSelected=\"" + selectedValue + "\" ");
        }
        parts.append({e.name, data});
    }
    return ok && writeZip(path, parts) ? path : QString();
}

} // namespace

class TestXlsxSave : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void compressedBytesKeptAsStored();
    void zip64();
    void sharedBytesRefused();
    void saveOverTheSourceFile();
    void bookViewsAddedWhenMissing();
    void firstSheetFollowsTheActiveTab();
    void hiddenSheetsAndSelectedTabs_data();
    void hiddenSheetsAndSelectedTabs();
    void uneditableSheetPartWritesNothing();
    void unloadedDocumentWritesNothing();
    void missingFolder();
    void readOnlyTarget();
    void unwritableFolder();
    void ownerKeptByRoot();
    void groupKeptByMember_data();
    void groupKeptByMember();

private:
    QTemporaryDir m_dir;
};

void TestXlsxSave::roundTrip_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("changed");
    QTest::newRow("openpyxl, other sheet") << "values.xlsx" << "device" << 0 << true;
    QTest::newRow("openpyxl, same sheet") << "values.xlsx" << "device_2" << 1 << false;
    QTest::newRow("openpyxl, last sheet") << "values.xlsx" << "empty" << 2 << true;
    QTest::newRow("Calc") << "libreoffice.xlsx" << "prices" << 0 << true;
    QTest::newRow("Calc rich text") << "richtext.xlsx" << "rich" << 0 << false;
    QTest::newRow("chart sheet selected") << "chartsheet.xlsx" << "chart" << 1 << true;
    QTest::newRow("1904") << "date1904.xlsx" << "mac" << 0 << false;
    QTest::newRow("edited") << "edited.xlsx" << "plain" << 1 << true;
    QTest::newRow("strict") << "strict.xlsx" << "strict" << 0 << false;
    QTest::newRow("streamed, other sheet") << "streamed.xlsx" << "device" << 0 << true;
    QTest::newRow("streamed, same sheet") << "streamed.xlsx" << "device_2" << 1 << false;
}

void TestXlsxSave::roundTrip()
{
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    QFETCH(int, index);
    QFETCH(bool, changed);
    const QString source = fixture(file);
    const QString target = m_dir.filePath(QStringLiteral("round-") + file);
    QFile::remove(target);

    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(sheet));
    const QStringList cellsBefore = cellLines(doc);
    QVERIFY(doc.saveAs(target));

    QStringList changedParts;
    compareEntries(source, target, &changedParts);
    if (QTest::currentTestFailed())
        return;
    compareHeaders(source, target, changedParts);
    if (file == QLatin1String("streamed.xlsx"))
        QVERIFY(!zipEntry(target, QStringLiteral("customXml/备注.xml")).isEmpty());
    if (QTest::currentTestFailed())
        return;
    if (changed) {
        QVERIFY(changedParts.contains(WorkbookPart));
        QCOMPARE(withoutTabAttributes(zipEntry(target, WorkbookPart)), withoutTabAttributes(zipEntry(source, WorkbookPart)));
    } else {
        QCOMPARE(readFile(target), readFile(source)); // nothing to edit: the very bytes
    }
    // The selected sheet is the active tab and the only one selected.
    const Selection s = readSelection(target);
    QVERIFY(s.ok);
    QCOMPARE(s.activeTab, index);
    const QVector<int> tabs = selectedTabs(s);
    QVERIFY(tabs.isEmpty() || tabs == QVector<int>({index}));
    QVERIFY(!changed || !s.hasView[index] || tabs == QVector<int>({index}));

    // Read back: the selected sheet comes up first, every sheet as before.
    QXlsx::Document again(target);
    QVERIFY(again.isLoaded());
    QCOMPARE(cellLines(again), cellsBefore);
    QCOMPARE(again.sheetNames(), doc.sheetNames());
    for (const QString &name : doc.sheetNames()) {
        QVERIFY(doc.selectSheet(name) && again.selectSheet(name));
        QCOMPARE(cellLines(again), cellLines(doc));
    }

    if (file == QLatin1String("strict.xlsx"))
        return; // openpyxl does not read strict workbooks
    openpyxlReadsItAlike(source, target, index);
}

// Entries stored or deflated differently from what the writer would do itself
// must come out as they were.
void TestXlsxSave::compressedBytesKeptAsStored()
{
    const QString source = m_dir.filePath(QStringLiteral("mixed.xlsx"));
    {
        bool ok = false;
        const QVector<Entry> entries = zipEntries(fixture(QStringLiteral("values.xlsx")), &ok);
        QVERIFY(ok);
        ZipBuilder zip;
        for (int i = 0; i < entries.size(); ++i) {
            const QByteArray &data = entries[i].data;
            const bool stored = i % 2 == 0;
            zip.add(entries[i].name.toUtf8(), stored ? 0 : 8, crcOf(data), quint64(data.size()), stored ? data : deflated(data, 1));
        }
        QVERIFY(writeFile(source, zip.finish()));
    }
    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    const QString target = m_dir.filePath(QStringLiteral("mixed-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    compareEntries(source, target);
    QCOMPARE(readSelection(target).activeTab, 0);
}

// A part over 4 GiB that the reader never inflates, zip64 fields for every
// offset and a zip64 end record: all kept (the offsets moved), and our reader
// reads the result.
void TestXlsxSave::zip64()
{
    bool ok = false;
    const QVector<Entry> parts = zipEntries(fixture(QStringLiteral("values.xlsx")), &ok);
    QVERIFY(ok);
    ZipBuilder zip;
    for (const Entry &e : parts) {
        // The workbook part is stored: deflated afresh it shrinks, so every entry after it moves.
        if (e.name == WorkbookPart)
            zip.add(e.name.toUtf8(), 0, crcOf(e.data), quint64(e.data.size()), e.data, false);
        else // the sheet that gets selected is edited too: its zip64 field would be rewritten
            zip.add(e.name.toUtf8(), quint16(e.method), crcOf(e.data), quint64(e.data.size()), e.raw,
                    e.name != QLatin1String("xl/worksheets/sheet1.xml"));
    }
    const QString bigName = QStringLiteral("xl/media/big.bin");
    const quint64 bigSize = (quint64(4) << 30) + (1 << 20);
    quint32 crc = 0;
    const QByteArray bigStored = deflatedZeros(bigSize, &crc);
    zip.add(bigName.toUtf8(), 8, crc, bigSize, bigStored, true);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("zip64.xlsx"));
    QVERIFY(writeFile(source, zip.finish(true)));

    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.cellAt(1, 1)->value(), QVariant(QStringLiteral("serial"))); // device_2 is active
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    const QString target = dir.filePath(QStringLiteral("zip64-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    const QByteArray saved = readFile(target);
    QVERIFY(saved.size() < QFileInfo(source).size());

    QXlsx::Document again(target);
    QVERIFY(again.isLoaded());
    QCOMPARE(again.cellAt(1, 1)->value(), QVariant(QStringLiteral("id")));
    QCOMPARE(again.sheetNames(), doc.sheetNames());
    compareHeaders(source, target, {WorkbookPart, QStringLiteral("xl/worksheets/sheet1.xml")});
    QVERIFY(saved.right(22 + 20 + 56).startsWith("PK\x06\x06"));

    QXlsx::detail::Package package;
    QVERIFY(package.open(saved, nullptr));
    const int big = package.find(bigName);
    QVERIFY(big >= 0);
    QCOMPARE(package.entry(big).uncompressed, bigSize);
    QVERIFY(saved.mid(int(package.entry(big).data), int(package.entry(big).compressed)) == bigStored);
}

// Two central records naming the same local header: a copy would hold those
// bytes twice, and readers differ on which record they take. The package is
// refused when it is read, naming the entry and its local header; nothing is
// saved.
void TestXlsxSave::sharedBytesRefused()
{
    QByteArray bytes = readFile(fixture(QStringLiteral("values.xlsx")));
    const int end = bytes.size() - 22;
    QVERIFY(bytes.mid(end, 4) == "PK\x05\x06");
    const int start = int(qFromLittleEndian<quint32>(bytes.constData() + end + 16));
    const char *first = bytes.constData() + start;
    const int nameLength = qFromLittleEndian<quint16>(first + 28);
    const int length = 46 + nameLength + qFromLittleEndian<quint16>(first + 30) + qFromLittleEndian<quint16>(first + 32);
    const QString name = QString::fromUtf8(first + 46, nameLength);
    const qint64 local = qFromLittleEndian<quint32>(first + 42);
    bytes.insert(end, bytes.mid(start, length));
    char *e = bytes.data() + end + length;
    const quint16 count = qFromLittleEndian<quint16>(e + 8) + 1;
    qToLittleEndian<quint16>(count, e + 8);
    qToLittleEndian<quint16>(count, e + 10);
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(e + 12) + quint32(length), e + 12);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("shared.xlsx"));
    QVERIFY(writeFile(source, bytes));

    QXlsx::Document doc(source);
    QVERIFY(!doc.isLoaded());
    QCOMPARE(int(doc.readError().kind), int(QXlsx::ReadError::DamagedZip));
    QCOMPARE(doc.readError().part, name);
    QCOMPARE(doc.readError().offset, local);
    const QString target = dir.filePath(QStringLiteral("saved.xlsx"));
    QVERIFY(!doc.saveAs(target));
    QVERIFY(!QFile::exists(target));
}

void TestXlsxSave::saveOverTheSourceFile()
{
    const QString path = m_dir.filePath(QStringLiteral("over.xlsx"));
    QFile::remove(path);
    QVERIFY(QFile::copy(fixture(QStringLiteral("libreoffice.xlsx")), path));
    {
        QXlsx::Document doc(path);
        QVERIFY(doc.selectSheet(QStringLiteral("prices")));
        QVERIFY(doc.saveAs(path));
        // The document still works after its file was replaced.
        QCOMPARE(doc.cellAt(2, 5)->value(), QVariant(QStringLiteral("bolt-10")));
    }
    compareEntries(fixture(QStringLiteral("libreoffice.xlsx")), path);
    QCOMPARE(attributeValue(zipEntry(path, WorkbookPart), "activeTab"), 0);
    QXlsx::Document again(path);
    QVERIFY(again.isLoaded());
    QCOMPARE(again.cellAt(2, 5)->value(), QVariant(QStringLiteral("bolt-10")));
}

void TestXlsxSave::bookViewsAddedWhenMissing()
{
    const QString source = fixture(QStringLiteral("values.xlsx"));
    QByteArray workbook = zipEntry(source, WorkbookPart);
    const int from = workbook.indexOf("<bookViews>");
    const int to = workbook.indexOf("</bookViews>") + int(qstrlen("</bookViews>"));
    QVERIFY(from > 0 && to > from);
    workbook.remove(from, to - from);
    const QString input = m_dir.filePath(QStringLiteral("noviews.xlsx"));
    QVERIFY(editZip(source, input, WorkbookPart, workbook));

    QXlsx::Document doc(input);
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.cellAt(1, 1)->value(), QVariant(QStringLiteral("id"))); // no view: the first sheet

    // The first sheet is what the file means already: the part stays as it is.
    const QString same = m_dir.filePath(QStringLiteral("noviews-same.xlsx"));
    QVERIFY(doc.saveAs(same));
    QCOMPARE(zipEntry(same, WorkbookPart), workbook);

    QVERIFY(doc.selectSheet(QStringLiteral("empty")));
    const QString target = m_dir.filePath(QStringLiteral("noviews-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    QByteArray expected = workbook;
    expected.insert(workbook.indexOf("<sheets>"), "<bookViews><workbookView activeTab=\"2\"/></bookViews>");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);
    if (!openpyxlAvailable())
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    QCOMPARE(openpyxlDump(target).active, 2);
}

void TestXlsxSave::firstSheetFollowsTheActiveTab()
{
    const QString source = fixture(QStringLiteral("values.xlsx"));
    QByteArray workbook = zipEntry(source, WorkbookPart);
    QVERIFY(workbook.contains("firstSheet=\"0\" activeTab=\"1\""));
    workbook.replace("firstSheet=\"0\" activeTab=\"1\"", "firstSheet=\"2\" activeTab=\"2\"");
    const QString input = m_dir.filePath(QStringLiteral("firstsheet.xlsx"));
    QVERIFY(editZip(source, input, WorkbookPart, workbook));

    QXlsx::Document doc(input);
    QVERIFY(doc.selectSheet(QStringLiteral("device_2")));
    const QString target = m_dir.filePath(QStringLiteral("firstsheet-saved.xlsx"));
    QVERIFY(doc.saveAs(target));
    QByteArray expected = workbook;
    expected.replace("firstSheet=\"2\" activeTab=\"2\"", "firstSheet=\"1\" activeTab=\"1\"");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);

    // Moving right of firstSheet leaves it alone.
    QXlsx::Document saved(target);
    QVERIFY(saved.selectSheet(QStringLiteral("empty")));
    QVERIFY(saved.saveAs(target));
    expected.replace("firstSheet=\"1\" activeTab=\"1\"", "firstSheet=\"1\" activeTab=\"2\"");
    QCOMPARE(zipEntry(target, WorkbookPart), expected);
}

void TestXlsxSave::hiddenSheetsAndSelectedTabs_data()
{
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("first");
    QTest::addColumn<QVector<int>>("selected");
    QTest::addColumn<int>("select"); // -1: every sheet in turn, as a batch run does
    QTest::addColumn<int>("expectedActive");
    QTest::addColumn<int>("expectedFirst");
    QTest::addColumn<bool>("identical");
    const QString v = QStringLiteral("visible"), h = QStringLiteral("hidden"), vh = QStringLiteral("veryHidden");
    QTest::newRow("hidden last sheet") << QStringList{v, v, h} << 0 << 0 << QVector<int>{0} << -1 << 1 << 0 << false;
    QTest::newRow("hidden last sheet, the file's own choice") << QStringList{v, v, h} << 1 << 0 << QVector<int>{1} << -1 << 1 << 0 << true;
    QTest::newRow("none visible before it") << QStringList{vh, v, v} << 2 << 1 << QVector<int>{2} << 0 << 1 << 1 << false;
    QTest::newRow("a group selected in the file") << QStringList{v, v, v} << 2 << 0 << QVector<int>{1, 2} << -1 << 2 << 0 << false;
    QTest::newRow("firstSheet on a hidden sheet") << QStringList{h, v, v} << 1 << 0 << QVector<int>{1} << -1 << 2 << 1 << false;
    QTest::newRow("firstSheet after the active tab") << QStringList{v, v, v} << 2 << 2 << QVector<int>{2} << 0 << 0 << 0 << false;
}

// The active tab is the selected sheet or, when it is hidden, the nearest
// visible one before it (else after it); no other tab stays selected; firstSheet
// stays at or before the active tab, on a visible sheet.
void TestXlsxSave::hiddenSheetsAndSelectedTabs()
{
    QFETCH(QStringList, states);
    QFETCH(int, active);
    QFETCH(int, first);
    QFETCH(QVector<int>, selected);
    QFETCH(int, select);
    QFETCH(int, expectedActive);
    QFETCH(int, expectedFirst);
    QFETCH(bool, identical);
    const QString source = viewVariant(m_dir.filePath(QStringLiteral("views.xlsx")), states, active, first, selected);
    QVERIFY(!source.isEmpty());
    QXlsx::Document doc(source);
    QVERIFY(doc.isLoaded());
    const QStringList names = doc.sheetNames();
    if (select < 0) {
        for (const QString &name : names)
            QVERIFY(doc.selectSheet(name));
    } else {
        QVERIFY(doc.selectSheet(names.value(select)));
    }
    const QString target = m_dir.filePath(QStringLiteral("views-saved.xlsx"));
    QFile::remove(target);
    QVERIFY(doc.saveAs(target));

    QCOMPARE(readFile(target) == readFile(source), identical);
    compareEntries(source, target);
    const Selection s = readSelection(target);
    QVERIFY(s.ok);
    QCOMPARE(s.states, states);
    QCOMPARE(s.activeTab, expectedActive);
    QCOMPARE(s.firstSheet, expectedFirst);
    QCOMPARE(selectedTabs(s), QVector<int>{expectedActive});

    openpyxlReadsItAlike(source, target, expectedActive);
}

// A tabSelected the reader reads but the edit cannot change (a character
// reference) fails the save; nothing is written.
void TestXlsxSave::uneditableSheetPartWritesNothing()
{
    const QString source = viewVariant(m_dir.filePath(QStringLiteral("reference.xlsx")), {QStringLiteral("visible"),
        QStringLiteral("visible"), QStringLiteral("visible")}, 0, 0, {0}, "&#49;");
    QVERIFY(!source.isEmpty());
    QXlsx::Document doc(source);
    QVERIFY(doc.selectSheet(QStringLiteral("empty")));
    const QString target = m_dir.filePath(QStringLiteral("reference-saved.xlsx"));
    QVERIFY(!doc.saveAs(target));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(doc.saveAs(source) == false);
    QVERIFY(QXlsx::Document(source).isLoaded());
}

void TestXlsxSave::unloadedDocumentWritesNothing()
{
    QXlsx::Document doc(m_dir.filePath(QStringLiteral("does-not-exist.xlsx")));
    QVERIFY(!doc.isLoaded());
    const QString target = m_dir.filePath(QStringLiteral("never.xlsx"));
    QVERIFY(!doc.saveAs(target));
    QVERIFY(!QFile::exists(target));

    const QString existing = m_dir.filePath(QStringLiteral("existing.xlsx"));
    QVERIFY(writeFile(existing, "keep me"));
    QVERIFY(!doc.saveAs(existing));
    QCOMPARE(readFile(existing), QByteArray("keep me"));
}

void TestXlsxSave::missingFolder()
{
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(!doc.saveAs(m_dir.filePath(QStringLiteral("no/such/folder/x.xlsx"))));
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("no"))));
    QVERIFY(!doc.saveAs(m_dir.path())); // a folder is no target
}

void TestXlsxSave::readOnlyTarget()
{
    QTemporaryDir dir;
    makeWorldAccessible(dir.path());
    const QString target = dir.filePath(QStringLiteral("readonly.xlsx"));
    QVERIFY(writeFile(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    {
        Unprivileged user;
        if (!user.active())
            QSKIP("cannot drop root privileges, so file permissions do not apply");
        QVERIFY(!doc.saveAs(target));
    }
    QCOMPARE(readFile(target), QByteArray("old contents"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("readonly.xlsx")));
}

void TestXlsxSave::unwritableFolder()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    // A writable file in a folder nobody may write to: there is no room for the new copy.
    const QString target = folder + QLatin1String("/writable.xlsx");
    QVERIFY(writeFile(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther | QFileDevice::WriteOther));
    makeWorldAccessible(dir.path());
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther));
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    {
        Unprivileged user;
        if (!user.active())
            QSKIP("cannot drop root privileges, so file permissions do not apply");
        QVERIFY(!doc.saveAs(target));
        QVERIFY(!doc.saveAs(folder + QLatin1String("/new.xlsx")));
    }
    QCOMPARE(readFile(target), QByteArray("old contents"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList(QStringLiteral("writable.xlsx")));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// As root: the new file keeps a foreign owner and group and the whole mode,
// through a symbolic link that stays one.
void TestXlsxSave::ownerKeptByRoot()
{
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX owners and groups");
#else
    if (geteuid() != 0)
        QSKIP("only root can give a file to another user");
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("owned.xlsx"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("values.xlsx")), target));
    const QByteArray native = QFile::encodeName(target);
    QCOMPARE(chown(native.constData(), 1234, 4321), 0);
    QCOMPARE(chmod(native.constData(), 02640), 0);
    const QString link = dir.filePath(QStringLiteral("link.xlsx"));
    QVERIFY(QFile::link(target, link));

    QXlsx::Document doc(link);
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    QVERIFY(doc.saveAs(link));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(attributeValue(zipEntry(target, WorkbookPart), "activeTab"), 0);
    struct stat st;
    QCOMPARE(stat(native.constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(1234));
    QCOMPARE(st.st_gid, gid_t(4321));
    QCOMPARE(st.st_mode & 07777, mode_t(02640));
#endif
}

void TestXlsxSave::groupKeptByMember_data()
{
    QTest::addColumn<unsigned>("group");
    QTest::addColumn<bool>("member");
    QTest::newRow("member of the group") << 4242u << true;
    QTest::newRow("not a member") << 4321u << false;
}

// A user who may write another's file gets it as their own, in its group if
// they are a member of it, else in their own group.
void TestXlsxSave::groupKeptByMember()
{
    QFETCH(unsigned, group);
    QFETCH(bool, member);
#ifndef Q_OS_UNIX
    Q_UNUSED(group);
    Q_UNUSED(member);
    QSKIP("needs POSIX owners and groups");
#else
    if (geteuid() != 0)
        QSKIP("setting up a file of another user and group needs root");
    QTemporaryDir dir;
    makeWorldAccessible(dir.path());
    const QString target = dir.filePath(QStringLiteral("shared.xlsx"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("values.xlsx")), target));
    const QByteArray native = QFile::encodeName(target);
    QCOMPARE(chown(native.constData(), 1234, group), 0);
    QCOMPARE(chmod(native.constData(), 0666), 0);
    QXlsx::Document doc(target);
    QVERIFY(doc.selectSheet(QStringLiteral("device")));

    uid_t user = 0;
    gid_t ownGroup = 0;
    {
        Unprivileged nobody({4242});
        if (!nobody.active())
            QSKIP("cannot drop root privileges");
        user = geteuid();
        ownGroup = getegid();
        QVERIFY(doc.saveAs(target));
    }
    struct stat st;
    QCOMPARE(stat(native.constData(), &st), 0);
    QCOMPARE(st.st_uid, user);
    QCOMPARE(st.st_gid, member ? gid_t(group) : ownGroup);
    QCOMPARE(st.st_mode & 0777, mode_t(0666));
    QCOMPARE(attributeValue(zipEntry(target, WorkbookPart), "activeTab"), 0);
#endif
}

QTEST_GUILESS_MAIN(TestXlsxSave)
#include "tst_xlsxsave.moc"

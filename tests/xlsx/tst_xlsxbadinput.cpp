// Files that are no readable workbook, and hostile ones: never loaded, never touched.

#include "xlsxdocument.h"
#include "xlsxtestutil.h"
#include "zipbuilder.h"

#include "logcapture.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace xlsxtest;

Q_DECLARE_METATYPE(QXlsx::ReadError)

namespace {

const QString SheetPart = QStringLiteral("xl/worksheets/sheet1.xml");

// A workbook of one worksheet part per entry of sheets (the last charts of
// them chart sheets); each is written by its own function in pieces, so big
// parts never sit whole in memory.
bool writeStreamed(const QString &path, const QVector<std::function<bool(QIODevice *)>> &sheets, int charts = 0)
{
    ZipBuilder zip;
    for (auto part : workbookParts(sheets.size())) {
        for (int i = sheets.size() - charts + 1; i <= sheets.size(); ++i)
            part.second.replace("/worksheet\" Target=\"worksheets/sheet" + QByteArray::number(i) + ".xml",
                                "/chartsheet\" Target=\"worksheets/sheet" + QByteArray::number(i) + ".xml");
        zip.add(part.first.toUtf8(), part.second);
    }
    for (int i = 0; i < sheets.size(); ++i) {
        DeflatingDevice sheet;
        if (!sheets[i](&sheet))
            return false;
        quint32 crc = 0;
        quint64 size = 0;
        const QByteArray stored = sheet.finish(&crc, &size);
        zip.add(QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1).toUtf8(), 8, crc, size, stored);
    }
    return writeFile(path, zip.finish());
}

// head, megabytes of white space, then tail: spaces alone deflate 1028:1,
// past the inflate ratio; with line breaks strewn among them about 200:1,
// within it.
std::function<bool(QIODevice *)> padded(const QByteArray &head, int megabytes, const QByteArray &tail, bool lineBreaks = true)
{
    return [=](QIODevice *out) {
        QByteArray spaces(1024 * 1024, ' ');
        QRandomGenerator rng(7);
        for (int at = 0; lineBreaks && at < spaces.size(); at += rng.bounded(1, 1200))
            spaces[at] = '\n';
        bool ok = out->write(head) == head.size();
        for (int i = 0; ok && i < megabytes; ++i)
            ok = out->write(spaces) == spaces.size();
        return ok && out->write(tail) == tail.size();
    };
}

// A sheet with cell A1 = 1 and then megabytes of white space.
std::function<bool(QIODevice *)> paddedSheet(int megabytes, bool lineBreaks = true)
{
    return padded("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
                  "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>",
                  megabytes, "</sheetData></worksheet>", lineBreaks);
}

// rows rows of 16,384 empty cells.
std::function<bool(QIODevice *)> fullRows(int rows)
{
    return [rows](QIODevice *out) {
        QByteArray row = "<row>";
        for (int c = 0; c < 16384; ++c)
            row += "<c/>";
        row += "</row>";
        bool ok = out->write("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>") > 0;
        for (int r = 0; ok && r < rows; ++r)
            ok = out->write(row) == row.size();
        return ok && out->write("</sheetData></worksheet>") > 0;
    };
}

// Not loaded, nothing written, nothing logged; for a reason when expected has one.
void checkUnreadable(const QString &path, const QString &saveTarget, const QXlsx::ReadError &expected = QXlsx::ReadError())
{
    const bool existed = QFileInfo::exists(path);
    const QByteArray before = readFile(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        // Reported through isLoaded() alone, not on the log.
        LogCapture log;
        QXlsx::Document doc(path);
        QVERIFY(!doc.isLoaded());
        if (expected) {
            const QXlsx::ReadError e = doc.readError();
            QCOMPARE(int(e.kind), int(expected.kind));
            QCOMPARE(int(e.limit), int(expected.limit));
            QCOMPARE(e.part, expected.part);
            QCOMPARE(e.offset, expected.offset);
            QCOMPARE(e.detail, expected.detail);
        }
        QVERIFY(doc.sheetNames().isEmpty());
        QVERIFY(!doc.selectSheet(QStringLiteral("Sheet")));
        QVERIFY(!doc.selectSheet(QStringLiteral("device")));
        QVERIFY(!doc.dimension().isValid());
        QVERIFY(!doc.cellAt(1, 1));
        QVERIFY(!doc.isDate1904());
        QVERIFY(!doc.saveAs(saveTarget));
        QVERIFY(!QFileInfo::exists(saveTarget));
        QVERIFY2(log.warningLines().isEmpty(), qPrintable(log.warningLines().join(QLatin1Char('\n'))));
        QVERIFY2(log.debugLines().isEmpty(), qPrintable(log.debugLines().join(QLatin1Char('\n'))));
    }
    QCOMPARE(QFileInfo::exists(path), existed);
    QCOMPARE(readFile(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
}

} // namespace

class TestXlsxBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unreadable_data();
    void unreadable();
    void oddValuesKeepTheirCells();
    void referencesAtTheEdgeOfTheSheet();
    void partInflatingPastTheCap();
    void allPartsInflatingPastTheCap();
    void tooManyCells();
    void csvPastTheLimits();
    void zipPackages_data();
    void zipPackages();
    void fuzzFindings_data();
    void fuzzFindings();
    void outOfMemory_data();
    void outOfMemory();

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString variant(const QString &name, const QString &base, const QString &entry, const QByteArray &content);

    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestXlsxBadInput::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestXlsxBadInput::variant(const QString &name, const QString &base, const QString &entry, const QByteArray &content)
{
    const QString path = file(name + QLatin1String(".xlsx"));
    if (!editZip(fixture(base), path, entry, content))
        qWarning("could not make %s", qPrintable(name));
    return path;
}

void TestXlsxBadInput::unreadable_data()
{
    using E = QXlsx::ReadError;
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    const auto plain = [&](const char *name, const QByteArray &bytes, E::Kind kind) {
        const QString path = file(QString::fromLatin1(name));
        QVERIFY(writeFile(path, bytes));
        QTest::newRow(name) << path << int(kind);
    };
    const auto sheet = [&](const char *name, const QByteArray &sheetData) {
        QTest::newRow(name) << variant(QString::fromLatin1(name), QStringLiteral("values.xlsx"), SheetPart, worksheet(sheetData))
                            << int(E::DamagedXml);
    };
    const QByteArray good = readFile(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(good.size() > 1000);

    QTest::newRow("no such file") << file(QStringLiteral("missing.xlsx"))
        << int(E::NotFound);
    QTest::newRow("a folder") << m_dir.path()
        << int(E::NotRegularFile);
    plain("empty.xlsx", QByteArray(), E::NotWorkbook);
    plain("text.xlsx", "This is not a workbook.\n", E::NotWorkbook);
    plain("random.csv", "id,name\n1,\xff\xfe\x81", E::NotText);
    plain("NUL byte.csv", QByteArray("id,name\n1,dev", 13) + QByteArray(1, '\0') + "ice\n", E::NotText);
    plain("control character.csv", "id,name\n1,dev\x01ice\n", E::NotText);
    plain("mark then no UTF-8.csv", "\xEF\xBB\xBFid,\xc3\x28\n", E::BrokenUtf8);
    {
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        QImage picture(16, 16, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QVERIFY(picture.save(&png, "PNG"));
        plain("picture.csv", png.data(), E::NotText);
    }
    const QByteArray xls = readFile(fixture(QStringLiteral("sheets.xls")));
    QVERIFY(xls.size() > 4096);
    plain("truncated.xls", xls.left(xls.size() / 2), E::DamagedCompoundFile);
    QTest::newRow("damaged xls") << fixture(QStringLiteral("fuzz/xls-string-past-its-record.xls"))
        << int(E::DamagedRecord);
    QTest::newRow("encrypted xls") << fixture(QStringLiteral("locked.xls"))
        << int(E::Encrypted);
    QTest::newRow("encrypted xlsx") << fixture(QStringLiteral("locked.xlsx"))
        << int(E::Encrypted);
    QByteArray random(8192, '\0');
    QRandomGenerator rng(20240229);
    for (char &c : random)
        c = char(rng.bounded(256));
    plain("random.xlsx", random, E::NotWorkbook);
    plain("old.xls", QByteArray::fromHex("d0cf11e0a1b11ae1") + random, E::DamagedCompoundFile);
    plain("zip header only.xlsx", good.left(30), E::DamagedZip);
    plain("truncated half.xlsx", good.left(good.size() / 2), E::DamagedZip);
    plain("truncated by one byte.xlsx", good.left(good.size() - 1), E::DamagedZip);
    plain("truncated before the directory.xlsx", good.left(good.lastIndexOf("PK\x01\x02")), E::DamagedZip);
    {
        // The end record says the directory starts past the end of the file;
        // the directory says every entry does.
        QByteArray moved = good;
        const int end = moved.lastIndexOf("PK\x05\x06");
        QVERIFY(end > 0);
        moved[end + 19] = char(0x7f);
        plain("directory offset past the end.xlsx", moved, E::DamagedZip);
        moved = good;
        for (int at = moved.indexOf("PK\x01\x02"); at >= 0; at = moved.indexOf("PK\x01\x02", at + 46))
            moved[at + 45] = char(0x7f);
        plain("entries past the end.xlsx", moved, E::DamagedZip);
    }
    {
        // Flip bytes in the middle of the first sheet's compressed data.
        bool ok = false;
        const QVector<Entry> entries = zipEntries(fixture(QStringLiteral("values.xlsx")), &ok);
        QVERIFY(ok);
        QByteArray raw;
        for (const Entry &e : entries) {
            if (e.name == SheetPart)
                raw = e.raw;
        }
        QVERIFY(raw.size() > 100);
        const int at = good.indexOf(raw);
        QVERIFY(at > 0);
        QByteArray damaged = good;
        for (int i = raw.size() / 3; i < raw.size() / 3 + 8; ++i)
            damaged[at + i] = char(~damaged[at + i]);
        plain("damaged sheet data.xlsx", damaged, E::DamagedZip);
    }

    QTest::newRow("no workbook part") << variant(QStringLiteral("no workbook"), QStringLiteral("values.xlsx"), QStringLiteral("xl/workbook.xml"), QByteArray())
        << int(E::NotWorkbook);
    QTest::newRow("no package relationships") << variant(QStringLiteral("no rels"), QStringLiteral("values.xlsx"), QStringLiteral("_rels/.rels"), QByteArray())
        << int(E::NotWorkbook);
    QTest::newRow("no second sheet part") << variant(QStringLiteral("no sheet2"), QStringLiteral("values.xlsx"), QStringLiteral("xl/worksheets/sheet2.xml"), QByteArray())
        << int(E::NotWorkbook);
    QTest::newRow("no shared strings part") << variant(QStringLiteral("no sst"), QStringLiteral("libreoffice.xlsx"), QStringLiteral("xl/sharedStrings.xml"), QByteArray())
        << int(E::NotWorkbook);
    QTest::newRow("workbook without sheets") << variant(QStringLiteral("no sheets"), QStringLiteral("values.xlsx"), QStringLiteral("xl/workbook.xml"),
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets/></workbook>")
        << int(E::NotWorkbook);
    QTest::newRow("sheet with unknown relationship") << variant(QStringLiteral("bad rid"), QStringLiteral("values.xlsx"), QStringLiteral("xl/workbook.xml"),
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet name=\"a\" sheetId=\"1\" r:id=\"rId77\"/></sheets></workbook>")
        << int(E::NotWorkbook);
    QTest::newRow("malformed workbook part") << variant(QStringLiteral("bad workbook"), QStringLiteral("values.xlsx"), QStringLiteral("xl/workbook.xml"),
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets><sheet name=\"a\"></sheets></workbook>")
        << int(E::DamagedXml);
    QTest::newRow("truncated shared strings") << variant(QStringLiteral("short sst"), QStringLiteral("libreoffice.xlsx"), QStringLiteral("xl/sharedStrings.xml"),
        zipEntry(fixture(QStringLiteral("libreoffice.xlsx")), QStringLiteral("xl/sharedStrings.xml")).left(200))
        << int(E::DamagedXml);

    sheet("unclosed row", "<row r=\"1\"><c r=\"A1\"><v>1</v></c>");
    sheet("mismatched end tag", "<row r=\"1\"><c r=\"A1\"><v>1</c></v></row>");
    sheet("bad entity", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a &nbsp; b</t></is></c></row>");
    sheet("control character", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a\x01</t></is></c></row>");
    sheet("invalid UTF-8", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a\xc3\x28</t></is></c></row>");
    sheet("column past XFD", "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>");
    sheet("row past 1048576", "<row r=\"1048577\"><c r=\"A1048577\"><v>1</v></c></row>");
    sheet("row element past 1048576", "<row r=\"1048577\"><c><v>1</v></c></row>");
    sheet("row zero", "<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>");
    sheet("digits first", "<row r=\"1\"><c r=\"1A\"><v>1</v></c></row>");
    sheet("four letters", "<row r=\"1\"><c r=\"AAAA1\"><v>1</v></c></row>");
    sheet("absolute reference", "<row r=\"1\"><c r=\"$A$1\"><v>1</v></c></row>");
    sheet("cells running past XFD", "<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>");
    QTest::newRow("entity expansion") << variant(QStringLiteral("dtd"), QStringLiteral("values.xlsx"), SheetPart,
        "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\">"
        "<c r=\"A1\" t=\"inlineStr\"><is><t>&b;</t></is></c></row></sheetData></worksheet>")
        << int(E::DamagedXml);
}

void TestXlsxBadInput::unreadable()
{
    QFETCH(QString, path);
    QFETCH(int, kind);
    checkUnreadable(path, file(QStringLiteral("saved-%1.xlsx").arg(++m_count)));
    QCOMPARE(int(QXlsx::Document(path).readError().kind), kind);
}

// A value that does not read under its cell's type leaves the cell there
// without a value (or with what a spreadsheet program shows); the rest of the
// workbook reads on.
void TestXlsxBadInput::oddValuesKeepTheirCells()
{
    const struct
    {
        const char *cell;
        QVariant value;
    } cells[] = {
        {"t=\"s\"><v/>", QVariant()},
        {"t=\"s\"><v>12</v>", QVariant()}, // 12 shared strings: 0..11
        {"t=\"s\"><v>-1</v>", QVariant()},
        {"><v>12abc</v>", QVariant()},
        {"><v>1e999</v>", QVariant()},
        {"t=\"b\"><v/>", QVariant()},
        {"t=\"b\"><v>yes</v>", QVariant()},
        {"t=\"b\"><v>2</v>", QVariant(true)},
        {"t=\"d\"><v>10:10:10</v>", QVariant(36610 / 86400.0)},
        {"t=\"d\"><v>2021-01-01</v>", QVariant(44197.0)},
        {"t=\"d\"><v>1899-12-31</v>", QVariant()}, // before the first day of the 1900 system
        {"t=\"d\"><v>45351.5</v>", QVariant(45351.5)},
        {"t=\"d\"><v>29/02/2024</v>", QVariant()},
        {"t=\"d\"><v/>", QVariant()},
        {"t=\"e\"><v/>", QVariant()},
        {"t=\"x\"><v>1</v>", QVariant()},
        {"><v>7</v>", QVariant(7.0)},
    };
    QByteArray row = "<row r=\"2\">";
    for (const auto &c : cells)
        row += QByteArray("<c ") + c.cell + "</c>";
    row += "</row><row r=\"3\"><c r=\"A3\" t=\"s\"><v>0</v></c></row>";
    const QString path = variant(QStringLiteral("odd values"), QStringLiteral("libreoffice.xlsx"), SheetPart, worksheet(row));
    QXlsx::Document doc(path);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("prices")));
    const int count = int(sizeof cells / sizeof cells[0]);
    QCOMPARE(doc.dimension().lastColumn(), count);
    for (int i = 0; i < count; ++i) {
        const QXlsx::Cell *cell = doc.cellAt(2, i + 1);
        QVERIFY2(cell, cells[i].cell);
        QVERIFY2(cell->value() == cells[i].value && cell->value().type() == cells[i].value.type(), cells[i].cell);
    }
    QCOMPARE(doc.cellAt(3, 1)->value(), QVariant(QStringLiteral("item")));
    QVERIFY(doc.selectSheet(QStringLiteral("notes")));
    QVERIFY(doc.dimension().isValid());
}

void TestXlsxBadInput::referencesAtTheEdgeOfTheSheet()
{
    const QString path = variant(QStringLiteral("edges"), QStringLiteral("values.xlsx"), SheetPart,
                                 worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"XFD1\"><v>2</v></c></row>"
                                           "<row r=\"1048576\"><c r=\"XFD1048576\"><v>3</v></c></row>"));
    QXlsx::Document doc(path);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    QCOMPARE(doc.dimension().lastRow(), 1048576);
    QCOMPARE(doc.dimension().lastColumn(), 16384);
    QCOMPARE(doc.cellAt(1, 16384)->value(), QVariant(2.0));
    QCOMPARE(doc.cellAt(1048576, 16384)->value(), QVariant(3.0));
}

// A sheet part inflating past 128 MiB is refused; the same sheet a bit smaller is read.
void TestXlsxBadInput::partInflatingPastTheCap()
{
    const QString small = file(QStringLiteral("padded.xlsx"));
    QVERIFY(writeStreamed(small, {paddedSheet(8)}));
    QXlsx::Document padded(small);
    QVERIFY(padded.isLoaded());
    QCOMPARE(padded.cellAt(1, 1)->value(), QVariant(1.0));

    const QString bomb = file(QStringLiteral("bomb.xlsx"));
    QVERIFY(writeStreamed(bomb, {paddedSheet(129)}));
    QVERIFY(QFileInfo(bomb).size() < 1024 * 1024);
    checkUnreadable(bomb, file(QStringLiteral("bomb-saved.xlsx")), QXlsx::ReadError::reached(QXlsx::ReadError::PartBytes, SheetPart));
}

// Parts each under the cap but together past what is inflated in all.
void TestXlsxBadInput::allPartsInflatingPastTheCap()
{
    const QString two = file(QStringLiteral("two-big.xlsx"));
    QVERIFY(writeStreamed(two, {paddedSheet(100), paddedSheet(100)}));
    QVERIFY(QXlsx::Document(two).isLoaded());

    const QString three = file(QStringLiteral("three-big.xlsx"));
    QVERIFY(writeStreamed(three, {paddedSheet(100), paddedSheet(100), paddedSheet(100)}));
    checkUnreadable(three, file(QStringLiteral("three-big-saved.xlsx")),
                    QXlsx::ReadError::reached(QXlsx::ReadError::InflatedBytes, QStringLiteral("xl/worksheets/sheet3.xml")));

    // Chart sheets are read for their views only, into the same budget.
    const auto chart = padded("<chartsheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">", 15,
                              "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews></chartsheet>");
    const QString charts = file(QStringLiteral("big-charts.xlsx"));
    QVERIFY(writeStreamed(charts, {paddedSheet(100), paddedSheet(100), chart, chart, chart, chart}, 4));
    checkUnreadable(charts, file(QStringLiteral("big-charts-saved.xlsx")),
                    QXlsx::ReadError::reached(QXlsx::ReadError::InflatedBytes, QStringLiteral("xl/worksheets/sheet6.xml")));
}

// More than 4,000,000 cells are refused (245 full rows); fewer are read.
void TestXlsxBadInput::tooManyCells()
{
    const QString some = file(QStringLiteral("some-cells.xlsx"));
    QVERIFY(writeStreamed(some, {fullRows(2), fullRows(3)}));
    QXlsx::Document doc(some);
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("s2")));
    QCOMPARE(doc.dimension().rowCount(), 3);
    QCOMPARE(doc.dimension().columnCount(), 16384);
    QVERIFY(doc.cellAt(3, 16384));

    const QString many = file(QStringLiteral("many-cells.xlsx"));
    QVERIFY(writeStreamed(many, {fullRows(200), fullRows(45)}));
    checkUnreadable(many, file(QStringLiteral("many-cells-saved.xlsx")),
                    QXlsx::ReadError::reached(QXlsx::ReadError::Cells, QStringLiteral("xl/worksheets/sheet2.xml")));
}

// CSV text gets the same limits: 4,000,000 cells, 16,384 columns.
void TestXlsxBadInput::csvPastTheLimits()
{
    QByteArray row;
    for (int c = 0; c < 16384; ++c)
        row += c ? ",1" : "1";
    row += '\n';
    const QString widest = file(QStringLiteral("widest.csv"));
    QVERIFY(writeFile(widest, row + row));
    QXlsx::Document doc(widest);
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.dimension().columnCount(), 16384);

    const QString wider = file(QStringLiteral("wider.csv"));
    QVERIFY(writeFile(wider, row.left(row.size() - 1) + ",1\n"));
    checkUnreadable(wider, file(QStringLiteral("wider-saved.xlsx")), QXlsx::ReadError::reached(QXlsx::ReadError::Columns));

    const QString many = file(QStringLiteral("many-cells.csv"));
    QVERIFY(writeFile(many, row.repeated(245)));
    checkUnreadable(many, file(QStringLiteral("many-cells-saved.csv")), QXlsx::ReadError::reached(QXlsx::ReadError::Cells));
}

// Packages whose zip records are odd or hostile, built by hand: each is read,
// or refused for its reason, at the entry and offset where it went wrong.
void TestXlsxBadInput::zipPackages_data()
{
    using E = QXlsx::ReadError;
    using Where = std::function<qint64(const QByteArray &, const ZipBuilder &)>;
    QTest::addColumn<QString>("path");
    QTest::addColumn<QXlsx::ReadError>("expected"); // none: read, with A1 = 1
    const QByteArray sheet = worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    // A one-sheet workbook (the sheet is entry 3) and the extra entries after
    // it; then edit changes its bytes, and where says the offset expected.
    const auto row = [&](const char *name, E expected, const Where &where, const std::function<void(ZipBuilder &)> &extra,
                         const std::function<void(QByteArray &, const ZipBuilder &)> &edit, quint16 sheetMethod = 8,
                         bool zip64End = false, const char *separator = "/") {
        ZipBuilder zip;
        for (const auto &part : workbookParts(1))
            zip.add(part.first.toUtf8().replace("/", separator), part.second);
        zip.add(SheetPart.toUtf8().replace("/", separator), sheet, sheetMethod);
        if (extra)
            extra(zip);
        QByteArray bytes = zip.finish(zip64End);
        if (edit)
            edit(bytes, zip);
        if (where)
            expected.offset = where(bytes, zip);
        const QString path = file(QString::fromLatin1(name) + QLatin1String(".xlsx"));
        QVERIFY(writeFile(path, bytes));
        QTest::newRow(name) << path << expected;
    };
    const auto damaged = [](const QString &part) { return E::at(E::DamagedZip, part); };
    const auto local = [](int i) -> Where { return [i](const QByteArray &, const ZipBuilder &zip) { return zip.localOffset(i); }; };
    const auto central = [](int i) -> Where { return [i](const QByteArray &, const ZipBuilder &zip) { return zip.centralOffset(i); }; };
    const auto fromEnd = [](int n) -> Where { return [n](const QByteArray &b, const ZipBuilder &) { return qint64(b.size() - n); }; };
    const auto put16 = [](QByteArray &b, qint64 at, quint16 v) { qToLittleEndian<quint16>(v, b.data() + at); };
    const auto put32 = [](QByteArray &b, qint64 at, quint32 v) { qToLittleEndian<quint32>(v, b.data() + at); };
    const auto fillers = [](int count) {
        return [count](ZipBuilder &zip) {
            for (int i = 0; i < count; ++i)
                zip.add("f/" + QByteArray::number(i), QByteArray(), 0);
        };
    };

    row("65,535 entries", E(), nullptr, fillers(65535 - 4), nullptr);
    row("65,536 entries", E::reached(E::ZipEntries), nullptr, fillers(65536 - 4), nullptr, 8, true);
    row("stored sheet", E(), nullptr, nullptr, nullptr, 0);
    row("backslashes in the names", E(), nullptr, nullptr, nullptr, 8, false, "\\");
    row("the same part twice", damaged(QStringLiteral("XL/Worksheets/Sheet1.xml")), central(4),
        [&](ZipBuilder &zip) { zip.add("XL/Worksheets/Sheet1.xml", sheet); }, nullptr);
    row("cut short", damaged(QString()), fromEnd(0), nullptr, [](QByteArray &b, const ZipBuilder &) { b.chop(1); });
    row("split over two disks", damaged(QString()), fromEnd(22), nullptr,
        [&](QByteArray &b, const ZipBuilder &) { put16(b, b.size() - 22 + 4, 1); });
    row("local name differs", damaged(SheetPart), local(3), nullptr,
        [](QByteArray &b, const ZipBuilder &zip) { b[int(zip.localOffset(3)) + 30] = 'X'; });
    row("local CRC differs", damaged(SheetPart), local(3), nullptr,
        [&](QByteArray &b, const ZipBuilder &zip) { put32(b, zip.localOffset(3) + 14, 1); });
    row("data descriptor missing", damaged(SheetPart), central(0), nullptr, // where the descriptor should be
        [&](QByteArray &b, const ZipBuilder &zip) { put16(b, zip.localOffset(3) + 6, 8); });
    row("entry runs into the next", damaged(QStringLiteral("xl/workbook.xml")), local(1), nullptr,
        [&](QByteArray &b, const ZipBuilder &zip) {
            const quint32 longer = quint32(zip.localOffset(1) - zip.localOffset(0)); // past entry 1's header
            put32(b, zip.localOffset(0) + 18, longer);
            put32(b, zip.centralOffset(0) + 20, longer);
        });
    row("CRC of the data differs", damaged(SheetPart), local(3), nullptr, [&](QByteArray &b, const ZipBuilder &zip) {
        put32(b, zip.localOffset(3) + 14, 1);
        put32(b, zip.centralOffset(3) + 16, 1);
    });
    row("stored sizes differ", damaged(SheetPart), local(3), nullptr, [&](QByteArray &b, const ZipBuilder &zip) {
        put32(b, zip.localOffset(3) + 22, quint32(sheet.size() + 1));
        put32(b, zip.centralOffset(3) + 24, quint32(sheet.size() + 1));
    }, 0);
    E bzip2 = E::at(E::UnsupportedMethod, SheetPart);
    bzip2.detail = QStringLiteral("12");
    row("bzip2", bzip2, local(3), nullptr, [&](QByteArray &b, const ZipBuilder &zip) {
        put16(b, zip.localOffset(3) + 8, 12);
        put16(b, zip.centralOffset(3) + 10, 12);
    });
    row("encrypted sheet", E::at(E::Encrypted, SheetPart), local(3), nullptr, [&](QByteArray &b, const ZipBuilder &zip) {
        put16(b, zip.localOffset(3) + 6, 1);
        put16(b, zip.centralOffset(3) + 8, 1);
    });

    // The one-sheet workbook with one part written by write.
    const auto withPart = [&](const char *name, const E &expected, const QString &part, const std::function<bool(QIODevice *)> &write) {
        DeflatingDevice content;
        QVERIFY(write(&content));
        quint32 crc = 0;
        quint64 size = 0;
        const QByteArray stored = content.finish(&crc, &size);
        ZipBuilder zip;
        for (const auto &p : workbookParts(1) + QVector<std::pair<QString, QByteArray>>{{SheetPart, sheet}})
            p.first == part ? zip.add(part.toUtf8(), 8, crc, size, stored) : zip.add(p.first.toUtf8(), p.second);
        const QString path = file(QString::fromLatin1(name) + QLatin1String(".xlsx"));
        QVERIFY(writeFile(path, zip.finish()));
        QTest::newRow(name) << path << expected;
    };
    // Spaces only, 20 MiB: 1028:1.
    withPart("past the inflate ratio", E::reached(E::InflateRatio, SheetPart), SheetPart, paddedSheet(20, false));
    const auto bytes = [](const QByteArray &text) { return [text](QIODevice *out) { return out->write(text) == text.size(); }; };
    const QString workbookPart = QStringLiteral("xl/workbook.xml");
    const QByteArray workbook = workbookParts(1)[1].second;
    const int sheetsAt = workbook.indexOf("<sheets>");
    withPart("workbook part past 16 MB", E::reached(E::OtherPartBytes, workbookPart), workbookPart,
             padded(workbook.left(sheetsAt), 17, workbook.mid(sheetsAt)));
    const auto nested = [&](int depth) {
        return worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>").replace("</worksheet>",
            QByteArray("<x>").repeated(depth - 1) + QByteArray("</x>").repeated(depth - 1) + "</worksheet>");
    };
    withPart("nested 1,000 deep", E(), SheetPart, bytes(nested(1000)));
    withPart("nested 1,001 deep", E::reached(E::XmlDepth, SheetPart), SheetPart, bytes(nested(1001)));
    // Sizes at which checking every name against every other, or looking each
    // prefix up through every binding, would take hours.
    QByteArray attributes;
    for (int i = 0; i < 1000000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"\"";
    withPart("a million attributes", E(), SheetPart, bytes(worksheet("<row r=\"1\"><c r=\"A1\"" + attributes + "><v>1</v></c></row>")));
    QByteArray declarations, ids;
    for (int i = 0; i < 400000; ++i) {
        declarations += " xmlns:p" + QByteArray::number(i) + "=\"u\"";
        ids += " p" + QByteArray::number(i) + ":id=\"x\"";
    }
    withPart("400,000 namespace prefixes", E(), workbookPart,
             bytes(QByteArray(workbook).replace("<workbook", "<workbook" + declarations).replace("<sheet ", "<sheet" + ids + " ")));
}

void TestXlsxBadInput::zipPackages()
{
    QFETCH(QString, path);
    QFETCH(QXlsx::ReadError, expected);
    if (expected) {
        checkUnreadable(path, file(QStringLiteral("saved-%1.xlsx").arg(++m_count)), expected);
        return;
    }
    QXlsx::Document doc(path);
    QVERIFY2(doc.isLoaded(), qPrintable(doc.readError().part));
    QCOMPARE(doc.cellAt(1, 1)->value(), QVariant(1.0));
}

// Every file a fuzzer found, refused for the reason fixtures/fuzz/expected.txt gives.
void TestXlsxBadInput::fuzzFindings_data()
{
    using E = QXlsx::ReadError;
    static const QHash<QString, int> kinds{
        {"Loaded", E::None}, {"NotWorkbook", E::NotWorkbook}, {"Encrypted", E::Encrypted},
        {"DamagedZip", E::DamagedZip}, {"DamagedXml", E::DamagedXml}, {"DamagedCompoundFile", E::DamagedCompoundFile},
        {"DamagedRecord", E::DamagedRecord}, {"NotText", E::NotText}, {"UnclosedQuote", E::UnclosedQuote},
        {"LimitReached", E::LimitReached}, {"TooLarge", E::TooLarge}};
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    const QString folder = fixture(QStringLiteral("fuzz"));
    QStringList listed;
    for (const QString &line : QString::fromUtf8(readFile(folder + QStringLiteral("/expected.txt"))).split(QLatin1Char('\n'))) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (line.startsWith(QLatin1Char('#')) || fields.size() != 2)
            continue;
        QVERIFY2(kinds.contains(fields[1]), qPrintable(line));
        QTest::newRow(qPrintable(fields[0])) << folder + QLatin1Char('/') + fields[0] << kinds.value(fields[1]);
        listed << fields[0];
    }
    // No finding goes untested.
    QStringList files = QDir(folder).entryList(QDir::Files);
    files.removeAll(QStringLiteral("expected.txt"));
    listed.sort();
    QCOMPARE(files, listed);
}

void TestXlsxBadInput::fuzzFindings()
{
    QFETCH(QString, path);
    QFETCH(int, kind);
    QXlsx::Document doc(path);
    QCOMPARE(int(doc.readError().kind), kind);
    QCOMPARE(doc.isLoaded(), kind == QXlsx::ReadError::None);
}

void TestXlsxBadInput::outOfMemory_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    QTest::newRow("small workbook") << fixture(QStringLiteral("values.xlsx")) << int(QXlsx::ReadError::None);
    // 3,500,000 cells from 7 MB of text: over 100 MB of cells.
    const QString many = file(QStringLiteral("many-cells-little-memory.csv"));
    QVERIFY(writeFile(many, QByteArray("1,1,1,1,1,1,1,1\n").repeated(437500)));
    QTest::newRow("cells past the memory") << many << int(QXlsx::ReadError::OutOfMemory);
}

// With 64 MB of address space to spare, a small workbook reads (nothing as
// large as the largest file allowed is set aside) and one that needs more is
// refused for want of memory: the program goes on.
void TestXlsxBadInput::outOfMemory()
{
#ifdef Q_OS_LINUX
    QFETCH(QString, path);
    QFETCH(int, kind);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) { // reads, and ends: nothing it throws goes back to the test
        QFile statm(QStringLiteral("/proc/self/statm"));
        const rlim_t mapped = statm.open(QIODevice::ReadOnly) ? statm.readLine().split(' ').value(0).toULongLong() * sysconf(_SC_PAGESIZE) : 0;
        const rlimit limit {mapped + 64 * 1024 * 1024, mapped + 64 * 1024 * 1024};
        try {
            _exit(mapped && setrlimit(RLIMIT_AS, &limit) == 0 ? int(QXlsx::Document(path).readError().kind) : 255);
        } catch (...) {
            _exit(254);
        }
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "reading ended the program");
    QCOMPARE(WEXITSTATUS(status), kind);
#else
    QSKIP("address-space limits are set the Linux way");
#endif
}

QTEST_GUILESS_MAIN(TestXlsxBadInput)
#include "tst_xlsxbadinput.moc"

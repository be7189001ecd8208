// Reading workbooks made by openpyxl and LibreOffice Calc (and a few edited by hand).

#include "xlsxdocument.h"
#include "xlsxtestutil.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsxtest;

namespace {

QVariant valueAt(const QXlsx::Document &doc, int row, int column)
{
    const QXlsx::Cell *cell = doc.cellAt(row, column);
    return cell ? cell->value() : QVariant(QStringLiteral("<no cell>"));
}

void checkRange(const QXlsx::CellRange &r, int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    QVERIFY(r.isValid());
    QCOMPARE(r.firstRow(), firstRow);
    QCOMPARE(r.firstColumn(), firstColumn);
    QCOMPARE(r.lastRow(), lastRow);
    QCOMPARE(r.lastColumn(), lastColumn);
}

} // namespace

class TestXlsxReader : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithOpenpyxl_data();
    void agreesWithOpenpyxl();
    void firstSelectionIsTheActiveTab();
    void numbersStringsBooleansAndGaps();
    void sheetsAreSelectedByExactName();
    void emptySheetIgnoresDimensionElement();
    void handEditedCellsAndStrings();
    void strictNamespaces();
    void chartSheetHasNoCells();
    void date1904();
    void cachedFormulaResultsFromCalc();
    void richTextFromCalc();
    void cellPointersStayValid();
    void manyRowsAcrossReadChunks();
};

void TestXlsxReader::agreesWithOpenpyxl_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"values.xlsx", "date1904.xlsx", "chartsheet.xlsx", "libreoffice.xlsx", "richtext.xlsx"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Every cell openpyxl sees, with the same value, and no other cells.
void TestXlsxReader::agreesWithOpenpyxl()
{
    QFETCH(QString, file);
    if (!openpyxlAvailable())
        QSKIP("openpyxl is not installed for /usr/bin/python3");
    const Dump dump = openpyxlDump(fixture(file));
    QVERIFY2(dump.ok, qPrintable(dump.error));
    QVERIFY(!dump.cells.isEmpty());
    const QStringList problems = compareWithDump(fixture(file), dump);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void TestXlsxReader::firstSelectionIsTheActiveTab()
{
    QXlsx::Document values(fixture(QStringLiteral("values.xlsx"))); // openpyxl, activeTab 1
    QCOMPARE(valueAt(values, 2, 1), QVariant(QStringLiteral("D-0001")));
    checkRange(values.dimension(), 1, 1, 2, 2);

    QXlsx::Document calc(fixture(QStringLiteral("libreoffice.xlsx"))); // Calc, activeTab 1
    QCOMPARE(valueAt(calc, 2, 1), QVariant(QStringLiteral("device")));
    checkRange(calc.dimension(), 2, 1, 2, 1);

    QXlsx::Document chart(fixture(QStringLiteral("chartsheet.xlsx"))); // no activeTab change: 0
    QCOMPARE(valueAt(chart, 1, 1), QVariant(QStringLiteral("kind")));
}

void TestXlsxReader::numbersStringsBooleansAndGaps()
{
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(doc.isLoaded());
    QVERIFY(!doc.isDate1904());
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    checkRange(doc.dimension(), 1, 1, 6, 8);

    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("id")));
    const QVariant id = valueAt(doc, 2, 1);
    QCOMPARE(id.type(), QVariant::Double);
    QCOMPARE(id.toDouble(), 1.0);
    QCOMPARE(valueAt(doc, 2, 2), QVariant(QString::fromUtf8("Grüße 東京")));
    QCOMPARE(valueAt(doc, 2, 3), QVariant(2.5));
    // A date stays the number stored: 2024-02-29 13:45.
    const QVariant since = valueAt(doc, 2, 4);
    QCOMPARE(since.type(), QVariant::Double);
    QVERIFY(qAbs(since.toDouble() - (45351 + (13 * 60 + 45) / 1440.0)) < 1e-9);
    QCOMPARE(valueAt(doc, 3, 4), QVariant(36525.0));
    QCOMPARE(valueAt(doc, 2, 5), QVariant(true));
    QCOMPARE(valueAt(doc, 3, 5), QVariant(false));
    QCOMPARE(valueAt(doc, 2, 6), QVariant(QStringLiteral("  padded  ")));
    QCOMPARE(valueAt(doc, 3, 2), QVariant(QStringLiteral("a\nb")));
    QCOMPARE(valueAt(doc, 3, 6), QVariant(QStringLiteral("<&>\"'")));
    QCOMPARE(valueAt(doc, 3, 3), QVariant(-0.125));
    QCOMPARE(valueAt(doc, 4, 3), QVariant(1e15));
    QCOMPARE(valueAt(doc, 6, 1), QVariant(1.5e-7));
    QCOMPARE(valueAt(doc, 2, 8), QVariant(-7.0));

    // A formula openpyxl wrote has no cached result; a styled cell has no value: both are there, empty.
    for (const auto &at : {std::make_pair(4, 6), std::make_pair(6, 3)}) {
        const QXlsx::Cell *cell = doc.cellAt(at.first, at.second);
        QVERIFY(cell);
        QVERIFY(!cell->value().isValid());
    }
    // Gaps.
    QVERIFY(!doc.cellAt(2, 7));
    QVERIFY(!doc.cellAt(5, 1));
    QVERIFY(!doc.cellAt(4, 4));
    QVERIFY(!doc.cellAt(7, 1));
    QVERIFY(!doc.cellAt(1, 9));
}

void TestXlsxReader::sheetsAreSelectedByExactName()
{
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QCOMPARE(doc.sheetNames(), QStringList({QStringLiteral("device"), QStringLiteral("device_2"), QStringLiteral("empty")}));
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("id")));
    QVERIFY(doc.selectSheet(QStringLiteral("device_2")));
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("serial")));
    // Near misses select nothing and leave the selection alone.
    for (const char *name : {"device_", "devic", "DEVICE", "device_23", ""})
        QVERIFY2(!doc.selectSheet(QString::fromLatin1(name)), name);
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("serial")));
}

void TestXlsxReader::emptySheetIgnoresDimensionElement()
{
    // openpyxl writes <dimension ref="A1:A1"/> for a sheet without cells.
    QVERIFY(zipEntry(fixture(QStringLiteral("values.xlsx")), QStringLiteral("xl/worksheets/sheet3.xml")).contains("<dimension ref=\"A1:A1\"/>"));
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(doc.selectSheet(QStringLiteral("empty")));
    QVERIFY(!doc.dimension().isValid());
    QVERIFY(!doc.cellAt(1, 1));
}

void TestXlsxReader::handEditedCellsAndStrings()
{
    QXlsx::Document doc(fixture(QStringLiteral("edited.xlsx")));
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.sheetNames(), QStringList({QStringLiteral("edited"), QStringLiteral("plain")}));
    // No dimension element; rows 2..5, columns A..Z.
    checkRange(doc.dimension(), 2, 1, 5, 26);

    QCOMPARE(valueAt(doc, 2, 2), QVariant(QStringLiteral("plain shared")));
    // Cells without r follow the one before.
    QCOMPARE(valueAt(doc, 2, 3), QVariant(QStringLiteral("Bold and italic"))); // runs joined
    QCOMPARE(valueAt(doc, 2, 4), QVariant(QString::fromUtf8("東京"))); // phonetic run left out
    QCOMPARE(valueAt(doc, 2, 5), QVariant(QStringLiteral("  spaced  ")));
    // A row without r follows the one before: row 3.
    QCOMPARE(valueAt(doc, 3, 1), QVariant(QStringLiteral("inline")));
    QCOMPARE(valueAt(doc, 3, 2), QVariant(QStringLiteral("abcd")));
    QCOMPARE(valueAt(doc, 3, 3), QVariant(QStringLiteral("#DIV/0!")));
    QCOMPARE(valueAt(doc, 3, 4), QVariant(false));
    // ISO dates are serial numbers, the time of day as written the fraction.
    QCOMPARE(valueAt(doc, 3, 5), QVariant(45351 + (13 * 3600 + 45 * 60 + 30) / 86400.0));
    QCOMPARE(valueAt(doc, 3, 6), QVariant(36525.0));
    QCOMPARE(valueAt(doc, 3, 7), QVariant(2.0));
    QVERIFY(doc.cellAt(3, 8));
    QVERIFY(!doc.cellAt(3, 8)->value().isValid());
    QVERIFY(!doc.cellAt(3, 9));
    // Row 5 comes before row 4 in the file, and A5 after C5.
    QCOMPARE(valueAt(doc, 4, 26), QVariant(42.0));
    QCOMPARE(valueAt(doc, 5, 1), QVariant(-0.0015));
    QCOMPARE(valueAt(doc, 5, 3), QVariant(QStringLiteral("line\rbreak")));
    QCOMPARE(valueAt(doc, 5, 4), QVariant(QStringLiteral("plain shared")));
    QVERIFY(!doc.cellAt(5, 2));
    QVERIFY(!doc.cellAt(1, 1));

    QVERIFY(doc.selectSheet(QStringLiteral("plain")));
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("untouched")));
}

void TestXlsxReader::strictNamespaces()
{
    QXlsx::Document doc(fixture(QStringLiteral("strict.xlsx")));
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.sheetNames(), QStringList(QStringLiteral("strict")));
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("strict")));
    QCOMPARE(valueAt(doc, 1, 2), QVariant(5.0));
}

void TestXlsxReader::chartSheetHasNoCells()
{
    QXlsx::Document doc(fixture(QStringLiteral("chartsheet.xlsx")));
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.sheetNames(), QStringList({QStringLiteral("data"), QStringLiteral("chart"), QStringLiteral("after")}));
    QVERIFY(doc.selectSheet(QStringLiteral("chart")));
    QVERIFY(!doc.dimension().isValid());
    QVERIFY(!doc.cellAt(1, 1));
    QVERIFY(!doc.cellAt(2, 2));
    // The sheets after it are still the right ones.
    QVERIFY(doc.selectSheet(QStringLiteral("after")));
    checkRange(doc.dimension(), 2, 2, 2, 2);
    QCOMPARE(valueAt(doc, 2, 2), QVariant(QStringLiteral("after")));
}

void TestXlsxReader::date1904()
{
    QXlsx::Document doc(fixture(QStringLiteral("date1904.xlsx")));
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.isDate1904());
    // 2024-01-01 counted from 1904-01-01; no translation to dates.
    QCOMPARE(valueAt(doc, 1, 1), QVariant(43830.0));
    QVERIFY(!QXlsx::Document(fixture(QStringLiteral("libreoffice.xlsx"))).isDate1904());

    // An ISO date there is the same day's serial of that system.
    QTemporaryDir dir;
    const QString iso = dir.filePath(QStringLiteral("iso1904.xlsx"));
    QVERIFY(editZip(fixture(QStringLiteral("date1904.xlsx")), iso, QStringLiteral("xl/worksheets/sheet1.xml"),
                    worksheet("<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2024-01-01T06:00:00</v></c></row>")));
    QXlsx::Document edited(iso);
    QVERIFY(edited.isDate1904());
    QCOMPARE(valueAt(edited, 1, 1), QVariant(43830.25));
}

void TestXlsxReader::cachedFormulaResultsFromCalc()
{
    QXlsx::Document doc(fixture(QStringLiteral("libreoffice.xlsx")));
    QVERIFY(doc.isLoaded());
    QVERIFY(doc.selectSheet(QStringLiteral("prices")));
    checkRange(doc.dimension(), 1, 1, 4, 9);
    QCOMPARE(valueAt(doc, 2, 4), QVariant(2.5));
    QCOMPARE(valueAt(doc, 3, 4), QVariant(2.0));
    QCOMPARE(valueAt(doc, 4, 4), QVariant(1.25));
    QCOMPARE(valueAt(doc, 2, 5), QVariant(QStringLiteral("bolt-10")));
    QCOMPARE(valueAt(doc, 2, 6), QVariant(QStringLiteral("#DIV/0!")));
    QCOMPARE(valueAt(doc, 2, 7), QVariant(true));
    QCOMPARE(valueAt(doc, 2, 8), QVariant(45063.0));
    QCOMPARE(valueAt(doc, 2, 9), QVariant(true));
    // The same shared string in two places.
    QCOMPARE(valueAt(doc, 2, 1), QVariant(QStringLiteral("bolt")));
    QCOMPARE(valueAt(doc, 4, 1), QVariant(QStringLiteral("bolt")));
    QCOMPARE(valueAt(doc, 3, 1), QVariant(QStringLiteral("nut")));
}

void TestXlsxReader::richTextFromCalc()
{
    QVERIFY(zipEntry(fixture(QStringLiteral("richtext.xlsx")), QStringLiteral("xl/sharedStrings.xml")).contains("<r><rPr>"));
    QXlsx::Document doc(fixture(QStringLiteral("richtext.xlsx")));
    QVERIFY(doc.isLoaded());
    QCOMPARE(valueAt(doc, 1, 1), QVariant(QStringLiteral("plain bold and italic")));
    QCOMPARE(valueAt(doc, 1, 2), QVariant(QStringLiteral("two  spaces")));
    QCOMPARE(valueAt(doc, 1, 3), QVariant(7.0));
}

void TestXlsxReader::cellPointersStayValid()
{
    QXlsx::Document doc(fixture(QStringLiteral("values.xlsx")));
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    QXlsx::Cell *name = doc.cellAt(2, 2);
    QXlsx::Cell *last = doc.cellAt(6, 3);
    QVERIFY(name && last);
    QVERIFY(doc.selectSheet(QStringLiteral("device_2")));
    QVERIFY(doc.cellAt(2, 2));
    QVERIFY(doc.cellAt(2, 2) != name);
    QCOMPARE(name->value(), QVariant(QString::fromUtf8("Grüße 東京")));
    QVERIFY(doc.selectSheet(QStringLiteral("device")));
    // Looked up in any order, the same cells.
    QCOMPARE(doc.cellAt(6, 3), last);
    QCOMPARE(doc.cellAt(2, 2), name);
    QCOMPARE(doc.cellAt(6, 3), last);
    for (const auto &at : {std::make_pair(0, 1), std::make_pair(1, 0), std::make_pair(-1, -1),
                           std::make_pair(INT_MAX, 1), std::make_pair(1, INT_MAX), std::make_pair(1048577, 1)})
        QVERIFY(!doc.cellAt(at.first, at.second));
}

// A sheet bigger than what is inflated at a time, with text that has
// references and multi-byte characters, in both shared and inline strings.
void TestXlsxReader::manyRowsAcrossReadChunks()
{
    const int rows = 30000;
    QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    QByteArray strings = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    for (int r = 1; r <= rows; ++r) {
        const QByteArray n = QByteArray::number(r);
        sheet += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + ".5</v></c>"
                 "<c r=\"B" + n + "\" t=\"inlineStr\"><is><t>\xc3\xbc&amp;" + n + "\xe6\x9d\xb1\r\n</t></is></c>"
                 "<c r=\"C" + n + "\" t=\"s\"><v>" + QByteArray::number(r - 1) + "</v></c></row>";
        strings += "<si><t>&#x6771;" + n + "&lt;</t></si>";
    }
    // One text far longer than a chunk, so it is read in pieces.
    QByteArray longText;
    QString expectedLong;
    for (int i = 0; longText.size() < 1000000; ++i) {
        longText += "ab&amp;\xc3\xbc\r\n\xf0\x9f\x98\x80&#233;" + QByteArray::number(i % 10);
        expectedLong += QString::fromUtf8("ab&ü\n\xf0\x9f\x98\x80é") + QString::number(i % 10);
    }
    sheet += "<row><c t=\"inlineStr\"><is><t>" + longText + "</t></is></c></row>";
    sheet += "</sheetData></worksheet>";
    strings += "</sst>";
    QVERIFY(sheet.size() > 4 * 64 * 1024);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.xlsx"));
    const QByteArray ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QVERIFY(writeZip(path, {
        {QStringLiteral("_rels/.rels"), "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                        "<Relationship Id=\"rId1\" Type=\"" + ns + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {QStringLiteral("xl/workbook.xml"), "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + ns + "\">"
                                            "<sheets><sheet name=\"many\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {QStringLiteral("xl/_rels/workbook.xml.rels"), "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                                       "<Relationship Id=\"rId1\" Type=\"" + ns + "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                                                       "<Relationship Id=\"rId2\" Type=\"" + ns + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
        {QStringLiteral("xl/worksheets/sheet1.xml"), sheet},
        {QStringLiteral("xl/sharedStrings.xml"), strings},
    }));
    QXlsx::Document doc(path);
    QVERIFY(doc.isLoaded());
    checkRange(doc.dimension(), 1, 1, rows + 1, 3);
    // A cell keeps the first 32,767 characters, never half a pair.
    expectedLong.truncate(32767);
    if (expectedLong.at(expectedLong.size() - 1).isHighSurrogate())
        expectedLong.chop(1);
    QCOMPARE(valueAt(doc, rows + 1, 1).toString().size(), expectedLong.size());
    QVERIFY(valueAt(doc, rows + 1, 1) == QVariant(expectedLong));
    for (int r = 1; r <= rows; ++r) {
        const QString n = QString::number(r);
        const QVariant a = valueAt(doc, r, 1);
        const QVariant b = valueAt(doc, r, 2);
        const QVariant c = valueAt(doc, r, 3);
        if (a != QVariant(r + 0.5) || b != QVariant(QString::fromUtf8("ü&") + n + QString::fromUtf8("東\n"))
            || c != QVariant(QString::fromUtf8("東") + n + QLatin1Char('<')))
            QFAIL(qPrintable(QStringLiteral("row %1: %2 | %3 | %4").arg(n, a.toString(), b.toString(), c.toString())));
    }
}

QTEST_GUILESS_MAIN(TestXlsxReader)
#include "tst_xlsxreader.moc"

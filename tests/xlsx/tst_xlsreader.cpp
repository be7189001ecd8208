// .xls workbooks saved by LibreOffice Calc, files whose kind is not what their
// name says, and the kinds that are never written back.

#include "batch/sheetrecords.h"
#include "xlsxdocument.h"
#include "xlsxtestutil.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace xlsxtest;

class TestXlsReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameCellsAsCalcXlsx_data();
    void sameCellsAsCalcXlsx();
    void datesKeepTheirDay_data();
    void datesKeepTheirDay();
    void kindComesFromContent_data();
    void kindComesFromContent();
    void onlyPackagesAreWrittenBack_data();
    void onlyPackagesAreWrittenBack();

private:
    QString copy(const QString &from, const QString &as);

    QTemporaryDir m_dir;
};

void TestXlsReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestXlsReader::copy(const QString &from, const QString &as)
{
    const QString path = m_dir.filePath(as);
    QFile::remove(path);
    return QFile::copy(from, path) ? path : QString();
}

void TestXlsReader::sameCellsAsCalcXlsx_data()
{
    QTest::addColumn<QString>("xls");
    QTest::addColumn<QString>("xlsx");
    QTest::addColumn<int>("cells");
    QTest::newRow("device, board, notes, empty") << "sheets.xls" << "sheets_calc.xlsx" << 45;
    QTest::newRow("1904 date system") << "mac.xls" << "mac_calc.xlsx" << 12;
}

// Calc saved one workbook both ways: the same sheets, in order, with the same
// cells; dates and times are the serial numbers the .xlsx holds.
void TestXlsReader::sameCellsAsCalcXlsx()
{
    QFETCH(QString, xls);
    QFETCH(QString, xlsx);
    QFETCH(int, cells);
    QXlsx::Document old(fixture(xls));
    QXlsx::Document calc(fixture(xlsx));
    QVERIFY(old.isLoaded());
    QVERIFY(calc.isLoaded());
    QCOMPARE(old.sheetNames(), calc.sheetNames());
    QCOMPARE(old.isDate1904(), calc.isDate1904());
    int seen = 0;
    for (const QString &sheet : calc.sheetNames()) {
        QVERIFY(old.selectSheet(sheet));
        QVERIFY(calc.selectSheet(sheet));
        const QStringList lines = cellLines(old);
        QCOMPARE(lines, cellLines(calc));
        seen += lines.size();
    }
    QCOMPARE(seen, cells);
}

void TestXlsReader::datesKeepTheirDay_data()
{
    QTest::addColumn<QString>("xls");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<double>("serial");
    QTest::addColumn<QString>("date");
    QTest::newRow("date") << "sheets.xls" << "device_list" << 2 << 3 << 45292.0 << "2024-01-01";
    QTest::newRow("date-time") << "sheets.xls" << "device_list" << 2 << 4 << 45366.5 << "2024-03-15";
    QTest::newRow("first day") << "sheets.xls" << "device_list" << 3 << 3 << 1.0 << "1900-01-01";
    QTest::newRow("before the day that never was") << "sheets.xls" << "device_list" << 3 << 4 << 59.0 << "1900-02-28";
    QTest::newRow("after it") << "sheets.xls" << "device_list" << 4 << 3 << 61.0 << "1900-03-01";
    QTest::newRow("time of day") << "sheets.xls" << "device_list" << 4 << 5 << 0.75 << "";
    QTest::newRow("board date-time") << "sheets.xls" << "board_2024" << 2 << 7 << 45351.0 + 8.5 / 24 << "2024-02-29";
    QTest::newRow("1904: date") << "mac.xls" << "device_mac" << 2 << 3 << 1.0 << "1904-01-02";
    QTest::newRow("1904: date-time") << "mac.xls" << "device_mac" << 2 << 4 << 366.75 << "1905-01-01";
    QTest::newRow("1904: recent") << "mac.xls" << "device_mac" << 3 << 3 << 43830.0 << "2024-01-01";
}

// FreeXL hands dates over as text; read back they are the serials again, and
// the date rule prints the day the cell shows.
void TestXlsReader::datesKeepTheirDay()
{
    QFETCH(QString, xls);
    QFETCH(QString, sheet);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(double, serial);
    QFETCH(QString, date);
    QXlsx::Document doc(fixture(xls));
    QVERIFY(doc.selectSheet(sheet));
    const QXlsx::Cell *cell = doc.cellAt(row, column);
    QVERIFY(cell);
    QCOMPARE(cell->value().type(), QVariant::Double);
    QCOMPARE(cell->value().toDouble(), serial);
    if (serial >= 1)
        QCOMPARE(serialDateText(serial, doc.isDate1904()), date);
}

void TestXlsReader::kindComesFromContent_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("as");
    QTest::addColumn<QStringList>("sheets");
    const QStringList xlsSheets{"device_list", "board_2024", "notes", "empty"};
    QTest::newRow(".xls named .xlsx") << fixture("sheets.xls") << "renamed.xlsx" << xlsSheets;
    QTest::newRow(".xls named .csv") << fixture("sheets.xls") << "device.csv" << xlsSheets;
    QTest::newRow(".xlsx named .xls") << fixture("values.xlsx") << "renamed.xls" << QStringList{"device", "device_2", "empty"};
    QTest::newRow(".xlsx named .csv") << fixture("values.xlsx") << "board.csv" << QStringList{"device", "device_2", "empty"};
    QTest::newRow("text named .csv, starting with PK") << "PK,name\n1,x\n" << "pk.csv" << QStringList{"pk"};
    QTest::newRow("CSV text named .txt") << "a,b\n1,2\n" << "table.txt" << QStringList();
    QTest::newRow("CSV text named .xls") << "a,b\n1,2\n" << "table.xls" << QStringList();
}

// The file's first bytes decide how it is read; only text needs the .csv name.
void TestXlsReader::kindComesFromContent()
{
    QFETCH(QString, source);
    QFETCH(QString, as);
    QFETCH(QStringList, sheets);
    QString path;
    if (QFileInfo::exists(source)) {
        path = copy(source, as);
    } else {
        path = m_dir.filePath(as);
        QVERIFY(writeFile(path, source.toUtf8()));
    }
    QXlsx::Document doc(path);
    QCOMPARE(doc.isLoaded(), !sheets.isEmpty());
    QCOMPARE(doc.sheetNames(), sheets);
}

void TestXlsReader::onlyPackagesAreWrittenBack_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("as");
    QTest::addColumn<bool>("package");
    QTest::newRow("xlsx") << fixture("values.xlsx") << "values.xlsx" << true;
    QTest::newRow("xls") << fixture("sheets.xls") << "sheets.xls" << false;
    QTest::newRow("csv") << QStringLiteral(KESTROVA_SOURCE_DIR "/tests/batch/fixtures/device_utf8.csv")
                         << "device_utf8.csv" << false;
}

// saveAs writes nothing for an .xls or CSV document, neither over the file
// nor anywhere else.
void TestXlsReader::onlyPackagesAreWrittenBack()
{
    QFETCH(QString, source);
    QFETCH(QString, as);
    QFETCH(bool, package);
    const QString path = copy(source, as);
    const QByteArray before = readFile(path);
    QVERIFY(!before.isEmpty());
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere-") + as);
    QXlsx::Document doc(path);
    QVERIFY(doc.isLoaded());
    QCOMPARE(doc.isPackage(), package);
    QCOMPARE(doc.saveAs(elsewhere), package);
    QCOMPARE(QFileInfo::exists(elsewhere), package);
    QCOMPARE(doc.saveAs(path), package);
    if (!package)
        QCOMPARE(readFile(path), before);
}

QTEST_GUILESS_MAIN(TestXlsReader)
#include "tst_xlsreader.moc"

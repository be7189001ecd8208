#include "batch/filenames.h"
#include "batch/sheetrecords.h"

#include "fixtures.h"
#include "logcapture.h"

#include "xlsxdocument.h"

#include <QtTest>

using Records = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Records)

namespace {

Records entries(const CodeMap &codes)
{
    Records list;
    for (auto it = codes.cbegin(); it != codes.cend(); ++it)
        list.append({it.key(), it.value()});
    return list;
}

Records read(const QString &workbook, const QString &sheet, const SheetLayout &layout, QStringList *log = nullptr)
{
    QXlsx::Document xlsx(fixture(workbook));
    if (!xlsx.isLoaded() || !xlsx.selectSheet(sheet))
        return {{QStringLiteral("<cannot read>"), workbook + QLatin1Char('/') + sheet}};
    LogCapture capture;
    const Records result = entries(readSheetRecords(xlsx, layout));
    if (log)
        *log = capture.debugLines();
    return result;
}

} // namespace

class TestSheetRecords : public QObject
{
    Q_OBJECT

private slots:
    void dates_data();
    void dates();
    void workedExamples_data();
    void workedExamples();
    void layouts_data();
    void layouts();
    void fileNames_data();
    void fileNames();
};

void TestSheetRecords::dates_data()
{
    QTest::addColumn<double>("serial");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<QString>("date");
    QTest::newRow("0") << 0.0 << false << "1899-12-31";
    QTest::newRow("0.5") << 0.5 << false << "1900-01-01";
    QTest::newRow("1") << 1.0 << false << "1900-01-01";
    QTest::newRow("59") << 59.0 << false << "1900-02-28";
    QTest::newRow("60, the day that never was") << 60.0 << false << "1900-03-01";
    QTest::newRow("61") << 61.0 << false << "1900-03-01";
    QTest::newRow("45292") << 45292.0 << false << "2024-01-01";
    QTest::newRow("45366.5") << 45366.5 << false << "2024-03-15";
    QTest::newRow("1904: 0") << 0.0 << true << "1904-01-01";
    QTest::newRow("1904: 366.75") << 366.75 << true << "1905-01-01";
    QTest::newRow("1904: 43830") << 43830.0 << true << "2024-01-01";
    QTest::newRow("out of range") << 1e300 << false << "";
    QTest::newRow("not a number") << std::nan("") << false << "";
}

void TestSheetRecords::dates()
{
    QFETCH(double, serial);
    QFETCH(bool, date1904);
    QFETCH(QString, date);
    QCOMPARE(serialDateText(serial, date1904), date);
}

void TestSheetRecords::workedExamples_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::newRow("openpyxl") << "worked.xlsx";
    QTest::newRow("LibreOffice Calc") << "worked_calc.xlsx";
}

void TestSheetRecords::workedExamples()
{
    QFETCH(QString, workbook);
    QStringList log;
    // Rows 2 to 4 and columns 2 to 5: the missing key in row 4 leaves row 5
    // unread, the missing header in column 6 leaves that column unread.
    QCOMPARE(read(workbook, "device_list", SheetLayout::device, &log),
             (Records{{"", "Spare relay; "},
                      {"DEV-01", "Relay panel; 2024-01-01; 2024-03-15; Zone 3"},
                      {"DEV-02", "2024-03-16; 7"}}));
    QCOMPARE(log, (QStringList{R"("Relay panel; 2024-01-01; 2024-03-15; Zone 3")", R"("2024-03-16; 7")",
                               R"("Spare relay; ")"}));

    QCOMPARE(read(workbook, "board_2024", SheetLayout::board, &log),
             (Records{{"BRD-7", "V2.2; SN124; 2024-01-09; 2024-01-19; OK"},
                      {"BRD-7_CPU", "CPU; V3.0; SN125; 2024-04-18; "}}));
    QCOMPARE(log, QStringList());
}

void TestSheetRecords::layouts_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<bool>("board");
    QTest::addColumn<Records>("records");

    QTest::newRow("cols 1: empty payloads") << "layouts.xlsx" << "cols1" << false
                                            << Records{{"K1", ""}, {"K2", ""}};
    QTest::newRow("board cols 2: no suffix") << "layouts.xlsx" << "board_cols2" << true << Records{{"B-1", ""}};
    QTest::newRow("board cols 3: suffix and plain last column")
        << "layouts.xlsx" << "board_cols3" << true << Records{{"B-1_CPU", "CPU"}, {"_MEM", "MEM"}};
    QTest::newRow("device cols 4: last date column stays a number")
        << "layouts.xlsx" << "device_cols4" << false << Records{{"D1", "x; 2024-01-01; 45367"}};
    QTest::newRow("gaps in keys and headers")
        << "layouts.xlsx" << "gaps" << false << Records{{"", "b3; "}, {"K1", "b2; c2"}, {"K4", "b4; c4"}};
    QTest::newRow("duplicate keys: last row wins")
        << "layouts.xlsx" << "dupes" << false << Records{{"A", "last"}, {"B", "middle"}};
    QTest::newRow("cells with only a style")
        << "layouts.xlsx" << "styled" << false
        << Records{{"", "styled key; "}, {"S1", "2024-01-01; z"}, {"S3", "m; 2024-01-01; "}};
    QTest::newRow("keys sort by code unit")
        << "layouts.xlsx" << "sorting" << false
        << Records{{"", "5"}, {"B", "2"}, {"Z", "4"}, {"a", "3"}, {"b", "1"}};
    QTest::newRow("numbers, booleans, a real date, a boolean in a date column")
        << "layouts.xlsx" << "types" << false << Records{{"T1", "7; 2024-03-15; 2.5; false"}};
    QTest::newRow("1904 date system") << "date1904.xlsx" << "device_mac" << false
                                      << Records{{"M1", "mac; 1904-01-01; 1905-01-01; e"}};
}

void TestSheetRecords::layouts()
{
    QFETCH(QString, workbook);
    QFETCH(QString, sheet);
    QFETCH(bool, board);
    QFETCH(Records, records);
    QCOMPARE(read(workbook, sheet, board ? SheetLayout::board : SheetLayout::device), records);
}

void TestSheetRecords::fileNames_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("here");
    QTest::addColumn<bool>("windows");
    QTest::newRow("plain") << "DEV-01" << true << true;
    QTest::newRow("into a sub-folder") << "sub/DEV-01" << true << true;
    QTest::newRow("C1 control, next line") << QStringLiteral("A\u0085B") << false << false;
    QTest::newRow("C1 control, CSI") << QStringLiteral("A\u009bB") << false << false;
    QTest::newRow("no-break space is no control") << QStringLiteral("A\u00a0B") << true << true;
    QTest::newRow("device name") << "CON" << true << false;
    QTest::newRow("device name with an ending") << "nul.txt" << true << false;
    QTest::newRow("port") << "com1" << true << false;
    QTest::newRow("port 0 is a name") << "COM0" << true << true;
    QTest::newRow("device name in a sub-folder") << "sub/LPT9" << true << false;
    QTest::newRow("device name inside a longer one") << "CONSOLE" << true << true;
    QTest::newRow("trailing dot in a folder") << "sub./x" << true << false;
    QTest::newRow("trailing blank in a folder") << "sub /x" << true << false;
    // Windows reads "A:" as a drive, so there the key is no relative path at all.
#ifdef Q_OS_WIN
    const bool driveRelative = true;
#else
    const bool driveRelative = false;
#endif
    QTest::newRow("colon") << "A:B" << !driveRelative << false;
    QTest::newRow("question mark") << "A?" << true << false;
    QTest::newRow("pipe") << "A|B" << true << false;
}

// Keys that cannot name a file as they stand are refused; Windows refuses more.
void TestSheetRecords::fileNames()
{
    QFETCH(QString, key);
    QFETCH(bool, here);
    QFETCH(bool, windows);
    QCOMPARE(usableAsFileName(key, false), here);
    QCOMPARE(usableAsFileName(key, true), windows);
}

QTEST_MAIN(TestSheetRecords)
#include "tst_sheetrecords.moc"

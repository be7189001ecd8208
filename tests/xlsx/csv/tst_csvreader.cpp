// CSV text read as a workbook of one sheet: typing, quoting, line ends, encodings.

#include "batch/sheetrecords.h"
#include "xlsxdocument.h"
#include "xlsxtestutil.h"
#include "csv/csvreader.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using namespace xlsxtest;

class TestCsvReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fieldTypes_data();
    void fieldTypes();
    void quotesAndLineEnds();
    void encodings_data();
    void encodings();
    void strayBytes_data();
    void strayBytes();
    void gb18030FourByteSequences_data();
    void gb18030FourByteSequences();
    void sheetIsNamedAfterTheFile_data();
    void sheetIsNamedAfterTheFile();

private:
    // Writes bytes to name and reads the file's only sheet, or "<not loaded>".
    QStringList read(const QByteArray &bytes, const QString &name = QStringLiteral("device.csv"));

    QTemporaryDir m_dir;
};

void TestCsvReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QStringList TestCsvReader::read(const QByteArray &bytes, const QString &name)
{
    const QString path = m_dir.filePath(name);
    if (!writeFile(path, bytes))
        return {QStringLiteral("<not written>")};
    QXlsx::Document doc(path);
    if (!doc.isLoaded() || doc.sheetNames().size() != 1)
        return {QStringLiteral("<not loaded>")};
    return cellLines(doc);
}

void TestCsvReader::fieldTypes_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("date"); // what the date rule prints for it

    QTest::newRow("integer") << QByteArray("7") << "n:7" << "";
    QTest::newRow("decimal") << QByteArray("2.5") << "n:2.5" << "";
    QTest::newRow("negative") << QByteArray("-5") << "n:-5" << "";
    QTest::newRow("serial") << QByteArray("45292") << "n:45292" << "2024-01-01";
    QTest::newRow("exponent as printed") << QByteArray("1e+20") << "n:1e+20" << "";
    QTest::newRow("quoted number") << QByteArray("\"7\"") << "n:7" << "";
    QTest::newRow("leading zeros") << QByteArray("00123") << "s:00123" << "";
    QTest::newRow("trailing zero") << QByteArray("1.50") << "s:1.50" << "";
    QTest::newRow("plus sign") << QByteArray("+3") << "s:+3" << "";
    QTest::newRow("ID number") << QByteArray("110101199003071234") << "s:110101199003071234" << "";
    QTest::newRow("exponent not as printed") << QByteArray("1e5") << "s:1e5" << "";
    QTest::newRow("minus zero") << QByteArray("-0") << "s:-0" << "";
    QTest::newRow("space before") << QByteArray(" 7") << "s: 7" << "";
    QTest::newRow("grouped") << QByteArray("\"1,000\"") << "s:1,000" << "";
    QTest::newRow("infinity") << QByteArray("inf") << "s:inf" << "";
    QTest::newRow("not a number") << QByteArray("nan") << "s:nan" << "";
    QTest::newRow("boolean word") << QByteArray("TRUE") << "s:TRUE" << "";
    QTest::newRow("yyyy-mm-dd") << QByteArray("2024-01-05") << "n:45296" << "2024-01-05";
    QTest::newRow("yyyy/m/d") << QByteArray("2024/3/5") << "n:45356" << "2024-03-05";
    QTest::newRow("yyyy/mm/dd") << QByteArray("2024/03/05") << "n:45356" << "2024-03-05";
    QTest::newRow("leap day") << QByteArray("2024-02-29") << "n:45351" << "2024-02-29";
    QTest::newRow("first day") << QByteArray("1900-01-01") << "n:1" << "1900-01-01";
    QTest::newRow("before the day that never was") << QByteArray("1900-02-28") << "n:59" << "1900-02-28";
    QTest::newRow("after it") << QByteArray("1900-03-01") << "n:61" << "1900-03-01";
    QTest::newRow("last day") << QByteArray("9999-12-31") << "n:2958465" << "9999-12-31";
    QTest::newRow("before the first day") << QByteArray("1899-12-31") << "s:1899-12-31" << "";
    QTest::newRow("no such day") << QByteArray("2023-02-29") << "s:2023-02-29" << "";
    QTest::newRow("no such month") << QByteArray("2024/13/1") << "s:2024/13/1" << "";
    QTest::newRow("dashes need two digits") << QByteArray("2024-1-5") << "s:2024-1-5" << "";
    QTest::newRow("day first") << QByteArray("05/01/2024") << "s:05/01/2024" << "";
    QTest::newRow("date and time") << QByteArray("2024-01-05 10:00") << "s:2024-01-05 10:00" << "";
}

void TestCsvReader::fieldTypes()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, cell);
    QFETCH(QString, date);
    const QStringList cells = read("Key,Value\nK1," + field + "\n");
    QCOMPARE(cells.size(), 4);
    QCOMPARE(cells.last(), QStringLiteral("2,2 ") + cell);
    if (!date.isEmpty())
        QCOMPARE(serialDateText(cell.mid(2).toDouble(), false), date);
}

// Fields as RFC 4180 has them, lines ending in CRLF or LF, and what spreadsheet
// programs do with text that breaks the rules.
void TestCsvReader::quotesAndLineEnds()
{
    const QByteArray text = "Key,Name,Note\r\n"
                            "DEV-01,\"a, b\",\"say \"\"hi\"\"\"\r\n"
                            "DEV-02,\"two\r\nlines\",\"lf\nonly\"\n"
                            "\n"
                            ",,after a blank line\n"
                            "\"\",\"\"\"\",empty quoted\r\n"
                            "\"ab\"cd,x\"y\"z,\"closed, \"\"on\nthe next line\"";
    QCOMPARE(read(text), (QStringList{"1,1 s:Key", "1,2 s:Name", "1,3 s:Note",
                                      "2,1 s:DEV-01", "2,2 s:a, b", "2,3 s:say \"hi\"",
                                      "3,1 s:DEV-02", "3,2 s:two\r\nlines", "3,3 s:lf\nonly",
                                      "5,3 s:after a blank line",
                                      "6,2 s:\"", "6,3 s:empty quoted",
                                      "7,1 s:abcd", "7,2 s:x\"y\"z", "7,3 s:closed, \"on\nthe next line"}));
    // A quote left open would swallow the records after it: no sheet, and the line it opened on.
    QXlsx::ReadError error;
    QVERIFY(!QXlsx::detail::readCsv("K1,\"one\nK2,two\nK3,three\n", "device", &error));
    QCOMPARE(int(error.kind), int(QXlsx::ReadError::UnclosedQuote));
    QCOMPARE(error.line, 1);
    // A last line ending in a line break adds no row; an empty file is an empty sheet.
    QCOMPARE(read("a,b\r\n\r\n"), (QStringList{"1,1 s:a", "1,2 s:b"}));
    QCOMPARE(read("a\n,,,\n"), QStringList{"1,1 s:a"});
    QCOMPARE(read(""), QStringList());
}

void TestCsvReader::encodings_data()
{
    const QString text = QStringLiteral("名称,数量,日期\n继电器 “甲”,7,2024/1/5\n𠀀,2.5,\n");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("UTF-8") << text.toUtf8();
    QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + text.toUtf8();
    QTest::newRow("GB18030") << QTextCodec::codecForName("GB18030")->fromUnicode(text);
}

// The same text in each encoding gives the same cells, without the mark.
void TestCsvReader::encodings()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(read(bytes), (QStringList{"1,1 s:名称", "1,2 s:数量", "1,3 s:日期",
                                       "2,1 s:继电器 “甲”", "2,2 n:7", "2,3 n:45296",
                                       "3,1 s:𠀀", "3,2 n:2.5"}));
}

void TestCsvReader::strayBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::newRow("a Latin-1 line") << QByteArray("A1,继电器柜,主控\nZ\xfcrich\n") << 2;
    QTest::newRow("marked as UTF-8") << QByteArray("\xEF\xBB\xBF" "a\r\nb\r\nc,\xc3\x28\r\n") << 3;
    QTest::newRow("in a field over two lines") << QByteArray("K1,\"继电器\n柜\xe7\",主控\nK2,\"x\"\n") << 2;
}

// A file that is UTF-8 but for a few bytes is not read as GB18030 (every
// field garbled): it is refused at the line of the first stray byte.
void TestCsvReader::strayBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QXlsx::ReadError error;
    QVERIFY(!QXlsx::detail::readCsv(bytes, QStringLiteral("device"), &error));
    QCOMPARE(int(error.kind), int(QXlsx::ReadError::BrokenUtf8));
    QCOMPARE(error.line, line);
}

void TestCsvReader::gb18030FourByteSequences_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("beyond the basic plane, side by side")
        << QStringLiteral("😀𠀀,x\n") << QStringList{"1,1 s:😀𠀀", "1,2 s:x"};
    QTest::newRow("four bytes inside the basic plane, between")
        << QStringLiteral("a¥😀¥,数\n") << QStringList{"1,1 s:a¥😀¥", "1,2 s:数"};
    QTest::newRow("last in the file") << QStringLiteral("名,𠀀") << QStringList{"1,1 s:名", "1,2 s:𠀀"};
}

// Characters of four GB18030 bytes, which the toolkit's decoder without ICU
// gets wrong past U+FFFF.
void TestCsvReader::gb18030FourByteSequences()
{
    QFETCH(QString, text);
    QFETCH(QStringList, cells);
    QCOMPARE(read(QTextCodec::codecForName("GB18030")->fromUnicode(text)), cells);
}

void TestCsvReader::sheetIsNamedAfterTheFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::newRow("device list") << "device_list.csv" << "device_list";
    QTest::newRow("no device or board") << "units.csv" << "units";
    QTest::newRow("dots and capitals") << "设备 board.v2.CSV" << "设备 board.v2";
}

void TestCsvReader::sheetIsNamedAfterTheFile()
{
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    const QString path = m_dir.filePath(file);
    QVERIFY(writeFile(path, "a,b\n"));
    QXlsx::Document doc(path);
    QCOMPARE(doc.sheetNames(), QStringList{sheet});
    QVERIFY(doc.selectSheet(sheet));
    QCOMPARE(doc.cellAt(1, 2)->value(), QVariant(QStringLiteral("b")));
    QVERIFY(!doc.isDate1904());
}

QTEST_GUILESS_MAIN(TestCsvReader)
#include "tst_csvreader.moc"

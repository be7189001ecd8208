// .xls workbooks saved by LibreOffice Calc and Gnumeric, read beside xlrd and
// beside the same workbooks saved as .xlsx; damaged and hostile compound files;
// files whose kind is not what their name says, and the kinds never written back.

#include "batch/sheetrecords.h"
#include "cfb/compoundfile.h"
#include "xls/xlsreader.h"
#include "xlsxdocument.h"
#include "compoundfilewriter.h"
#include "xlsxtestutil.h"

#include "hostprocess.h"
#include "logcapture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace xlsxtest;
using QXlsx::ReadError;

Q_DECLARE_METATYPE(ReadError::Kind)
Q_DECLARE_METATYPE(ReadError::Limit)

namespace {

// Text as dump_xls.py writes it, one line a cell.
QStringList escapedCellLines(const QXlsx::Document &doc)
{
    QStringList lines = cellLines(doc);
    for (QString &line : lines)
        line.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"))
            .replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return lines;
}

// What xlrd reads, as dump_xls.py prints it.
QStringList xlrdLines(const QString &path, QString *error)
{
    HostProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KESTROVA_SOURCE_DIR "/tests/xlsx/support/dump_xls.py"), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        *error = QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Ours, in the same form: each worksheet's cells after a line with its name and visibility.
QStringList ourLines(const QString &path)
{
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readXls(readFile(path));
    QXlsx::Document doc(path);
    if (!book || !doc.isLoaded())
        return {QStringLiteral("not read")};
    QStringList lines {QStringLiteral("date1904\t%1").arg(int(book->date1904))};
    for (const auto &sheet : book->sheets) {
        if (!sheet.worksheet)
            continue;
        lines << QStringLiteral("sheet\t%1\t%2").arg(sheet.name).arg(int(sheet.hidden));
        doc.selectSheet(sheet.name);
        lines << escapedCellLines(doc);
    }
    return lines;
}

quint32 u32At(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void setU32(QByteArray *bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes->data() + at);
}

// The parts of a version 3 compound file with 512-byte sectors and its FAT
// named in the header, enough to damage it on purpose.
struct Layout
{
    const QByteArray &bytes;

    int sector(quint32 s) const { return int(s + 1) * 512; }
    int fatEntry(quint32 index) const { return sector(u32At(bytes, 76 + 4 * int(index / 128))) + 4 * int(index % 128); }
    quint32 next(quint32 s) const { return u32At(bytes, fatEntry(s)); }
    // The directory entry called name, as a byte offset in the file.
    int entry(const QString &name) const
    {
        for (quint32 s = u32At(bytes, 48); s < 0xFFFFFFFA; s = next(s)) {
            for (int at = sector(s); at < sector(s) + 512; at += 128) {
                const QString entryName = QString::fromUtf16(reinterpret_cast<const ushort *>(bytes.constData() + at),
                                                              std::max(0, bytes.at(at + 64) / 2 - 1));
                if (entryName == name)
                    return at;
            }
        }
        return -1;
    }
    quint32 start(const QString &name) const { return u32At(bytes, entry(name) + 116); }
};

QByteArray record(quint16 type, const QByteArray &data)
{
    QByteArray r(4, '\0');
    qToLittleEndian(type, r.data());
    qToLittleEndian(quint16(data.size()), r.data() + 2);
    return r + data;
}

// A BIFF8 workbook stream of worksheets, the first with rows of MULBLANK
// records 256 cells wide and then the records given, or of sheets that all
// start at the first one.
QByteArray biffStream(int sheets, int rows, bool shared = false, const QByteArray &records = QByteArray())
{
    const QByteArray bof = QByteArray::fromHex("0006" "0500" "00000000" "00000000");
    const QByteArray eof = record(0x000A, QByteArray());
    QByteArray globals = record(0x0809, bof);
    QByteArray first = record(0x0809, QByteArray::fromHex("0006" "1000" "00000000" "00000000"));
    const QByteArray empty = first + eof;
    for (int r = 0; r < rows; ++r) {
        // Row r, columns 0 to 255, each with format 0.
        const char row[] = {char(r & 0xFF), char(r >> 8), 0, 0};
        first += record(0x00BE, QByteArray(row, 4) + QByteArray(2 * 256, '\0') + QByteArray("\xFF\x00", 2));
    }
    first += records + eof;
    const int boundSize = 4 + 4 + 2 + 3;
    int at = globals.size() + sheets * boundSize + eof.size();
    for (int i = 0; i < sheets; ++i) {
        QByteArray bound(4, '\0');
        setU32(&bound, 0, quint32(at));
        globals += record(0x0085, bound + QByteArray::fromHex("0000" "01" "00") + "s");
        if (!shared)
            at += i == 0 ? first.size() : empty.size();
    }
    globals += eof + first;
    for (int i = 1; i < sheets && !shared; ++i)
        globals += empty;
    return globals;
}

} // namespace

class TestXlsReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameCellsAsXlrd_data();
    void sameCellsAsXlrd();
    void sameCellsAsCalcXlsx_data();
    void sameCellsAsCalcXlsx();
    void sameRecordsThroughTheBatch_data();
    void sameRecordsThroughTheBatch();
    void values_data();
    void values();
    void datesKeepTheirDay_data();
    void datesKeepTheirDay();
    void sheets_data();
    void sheets();
    void longText();
    void refused_data();
    void refused();
    void limits_data();
    void limits();
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

void TestXlsReader::sameCellsAsXlrd_data()
{
    QTest::addColumn<QString>("xls");
    QTest::newRow("Calc: device, board, notes, empty") << fixture("sheets.xls");
    QTest::newRow("Calc: 1904 date system") << fixture("mac.xls");
    QTest::newRow("Calc: every kind of cell") << fixture("types.xls");
    QTest::newRow("Calc: batch workbook") << QStringLiteral(KESTROVA_SOURCE_DIR "/tests/batch/fixtures/worked.xls");
}

// Every worksheet, its visibility, every cell (styled blank ones too) and its
// value as xlrd reads them, formula results included.
void TestXlsReader::sameCellsAsXlrd()
{
    QFETCH(QString, xls);
    QString error;
    const QStringList theirs = xlrdLines(xls, &error);
    QVERIFY2(!theirs.isEmpty(), qPrintable("dump_xls.py (python3-xlrd) failed: " + error));
    QCOMPARE(ourLines(xls), theirs);
}

void TestXlsReader::sameCellsAsCalcXlsx_data()
{
    QTest::addColumn<QString>("xls");
    QTest::addColumn<QString>("xlsx");
    QTest::addColumn<int>("cells");
    QTest::newRow("device, board, notes, empty") << "sheets.xls" << "sheets_calc.xlsx" << 45;
    QTest::newRow("1904 date system") << "mac.xls" << "mac_calc.xlsx" << 12;
    QTest::newRow("every kind of cell") << "types.xls" << "types_calc.xlsx" << 53;
    // Gnumeric cuts long text records anywhere, even inside a character.
    QTest::newRow("every kind of cell, by Gnumeric") << "types_gnumeric.xls" << "types_calc.xlsx" << 53;
    QTest::newRow("Excel 95, code page 936") << "gb18030_95.xls" << "gb18030_calc.xlsx" << 22;
}

// One workbook saved both ways: the same sheets, in order, with the same
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

void TestXlsReader::sameRecordsThroughTheBatch_data()
{
    QTest::addColumn<QString>("xls");
    QTest::addColumn<QString>("xlsx");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("records");
    const QString batch = QStringLiteral(KESTROVA_SOURCE_DIR "/tests/batch/fixtures/");
    QTest::newRow("device sheet") << fixture("types.xls") << fixture("types_calc.xlsx") << "device_types" << 4;
    QTest::newRow("board sheet") << fixture("types.xls") << fixture("types_calc.xlsx") << "board_types" << 1;
    QTest::newRow("device sheet, by Gnumeric") << fixture("types_gnumeric.xls") << fixture("types_calc.xlsx") << "device_types" << 4;
    QTest::newRow("Excel 95 device sheet") << fixture("gb18030_95.xls") << fixture("gb18030_calc.xlsx") << QString::fromUtf8("设备_device") << 2;
    QTest::newRow("batch workbook") << batch + "worked.xls" << batch + "worked_calc.xlsx" << "device_list" << 3;
}

// The batch makes the same codes from either file.
void TestXlsReader::sameRecordsThroughTheBatch()
{
    QFETCH(QString, xls);
    QFETCH(QString, xlsx);
    QFETCH(QString, sheet);
    QFETCH(int, records);
    QXlsx::Document a(xls);
    QXlsx::Document b(xlsx);
    QVERIFY(a.selectSheet(sheet));
    QVERIFY(b.selectSheet(sheet));
    const SheetLayout &layout = sheet.contains(QLatin1String("device")) ? SheetLayout::device : SheetLayout::board;
    LogCapture log; // the device sheet logs its codes
    const CodeMap fromXls = readSheetRecords(a, layout);
    QCOMPARE(fromXls, readSheetRecords(b, layout));
    QCOMPARE(fromXls.size(), records);
    QCOMPARE(log.debugLines().size(), layout.logPayload ? 2 * records : 0);
}

void TestXlsReader::values_data()
{
    QTest::addColumn<QString>("xls");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("value");
    const QString longText = QStringLiteral("long ") + QString(9000, QChar(0x4E1C));
    const QVariant none;
    for (const char *file : {"types.xls", "types_gnumeric.xls"}) {
        const auto row = [&](const char *what, const char *sheet, int r, int c, const QVariant &value) {
            QTest::addRow("%s: %s", file, what) << fixture(file) << sheet << r << c << value;
        };
        row("styled blank in row 1", "device_types", 1, 1, none);
        row("styled blank in column 1", "device_types", 3, 1, none);
        row("date and time", "device_types", 2, 3, 45351 + (13 * 3600 + 45 * 60 + 30) / 86400.0);
        row("zero date serial", "device_types", 2, 4, 0.0);
        row("negative date serial", "device_types", 3, 2, -1.25);
        row("time of day", "device_types", 3, 3, 0.75);
        row("formula: number", "device_types", 2, 5, 2.0);
        row("formula: text", "device_types", 3, 4, QStringLiteral("abcd"));
        row("formula: boolean", "device_types", 3, 5, true);
        row("formula: #DIV/0!", "device_types", 4, 2, QStringLiteral("#DIV/0!"));
        row("formula: empty text", "device_types", 4, 3, QString(QLatin1String("")));
        row("formula: #N/A", "device_types", 4, 4, QStringLiteral("#N/A"));
        row("TRUE", "device_types", 2, 6, true);
        row("error #N/A", "device_types", 4, 5, QStringLiteral("#N/A"));
        row("text across CONTINUE records", "device_types", 2, 8, longText);
        row("formula text across CONTINUE records", "device_types", 3, 8, QString(5000, QChar(0x4E1C)));
    }
    const auto gb = [&](const char *what, int r, int c, const QVariant &value) {
        QTest::addRow("Excel 95: %s", what) << fixture("gb18030_95.xls") << QString::fromUtf8("设备_device") << r << c << value;
    };
    gb("Chinese text", 2, 2, QString::fromUtf8("继电器 Relay"));
    gb("formula text", 2, 4, QString::fromUtf8("继电器 Relay·检验"));
    gb("euro sign", 3, 2, QString::fromUtf8("€ 100"));
    gb("formula: boolean", 2, 5, true);
    gb("formula: error", 2, 6, QStringLiteral("#DIV/0!"));
    gb("formula: empty text", 3, 4, QString(QLatin1String("")));
}

// The parts that are easy to get wrong, each with the type and value the
// .xlsx reader gives for the same cell (the comparisons above cover the rest).
void TestXlsReader::values()
{
    QFETCH(QString, xls);
    QFETCH(QString, sheet);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QVariant, value);
    QXlsx::Document doc(xls);
    QVERIFY(doc.selectSheet(sheet));
    const QXlsx::Cell *cell = doc.cellAt(row, column);
    QVERIFY(cell);
    QCOMPARE(cell->value().type(), value.type());
    QCOMPARE(cell->value(), value);
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

// Dates are the serials stored, and the date rule prints the day the cell shows.
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

void TestXlsReader::sheets_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("stream");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("hidden"); // h hidden, c a chart or other sheet without cells, . a worksheet
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<int>("cells");
    const QByteArray types = readFile(fixture("types.xls"));
    const QStringList typeSheets {"device_types", "board_types", "lists", "more"};
    QTest::newRow("Calc") << types << "Workbook" << typeSheets << "..hh" << false << 53;
    QTest::newRow("Gnumeric") << readFile(fixture("types_gnumeric.xls")) << "Workbook" << typeSheets << "..hh" << false << 53;
    QTest::newRow("Excel 95") << readFile(fixture("gb18030_95.xls")) << "Book"
                              << QStringList {QString::fromUtf8("设备_device"), QString::fromUtf8("板卡")} << ".h" << false << 22;
    QTest::newRow("1904") << readFile(fixture("mac.xls")) << "Workbook" << QStringList {"device_mac"} << "." << true << 12;
    // The BOUNDSHEET record of "lists" made to say chart sheet.
    QByteArray chart = types;
    const int name = chart.indexOf(QByteArray("\x05\x00lists", 7));
    QVERIFY(name > 0);
    chart[name - 1] = 2;
    QTest::newRow("chart sheet") << chart << "Workbook" << typeSheets << "..ch" << false << 52;
    // device_list's DIMENSIONS record (5 rows, 6 columns) made to say 65,536 x 256:
    // the cells there are count, not the size the record gives.
    QByteArray huge = readFile(fixture("sheets.xls"));
    const QByteArray dimensions = QByteArray::fromHex("00020e00" "00000000" "05000000" "0000" "0600");
    QCOMPARE(huge.count(dimensions), 1);
    huge.replace(dimensions, QByteArray::fromHex("00020e00" "00000000" "00000100" "0000" "0001"));
    const QStringList sheetsXls {"device_list", "board_2024", "notes", "empty"};
    QTest::newRow("dimensions of 65,536 x 256") << huge << "Workbook" << sheetsXls << "...." << false << 45;
    // Its last sector holds the end of the directory, unused entries only.
    const QByteArray whole = readFile(fixture("sheets.xls"));
    QTest::newRow("last sector cut short") << whole.left(whole.size() - 100) << "Workbook" << sheetsXls << "...." << false << 45;
}

// Sheets in workbook order, hidden ones flagged; a chart sheet has no cells.
// A LABEL cell of 40,000 characters (its record going on in CONTINUE
// records) keeps the 32,767 a spreadsheet program holds.
void TestXlsReader::longText()
{
    QByteArray text = QByteArray::fromHex("0000" "0000" "0000" "409c" "00") + QByteArray(40000, 'x');
    QByteArray records = record(0x0204, text.left(8000));
    for (int at = 8000; at < text.size(); at += 8000)
        records += record(0x003C, text.mid(at, 8000));
    ReadError error;
    const auto book = QXlsx::detail::readXls(compoundFile("Workbook", biffStream(1, 0, false, records)), &error);
    QVERIFY2(book, qPrintable(QString::number(error.kind)));
    QCOMPARE(book->sheets[0].cells.size(), size_t(1));
    QCOMPARE(book->sheets[0].cells[0].cell.value(), QVariant(QString(32767, QLatin1Char('x'))));
}

void TestXlsReader::sheets()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, stream);
    QFETCH(QStringList, names);
    QFETCH(QString, hidden);
    QFETCH(bool, date1904);
    QFETCH(int, cells);
    QXlsx::detail::CompoundFile file;
    QVERIFY(file.open(bytes, nullptr));
    QVERIFY(file.findStream(stream) >= 0);
    ReadError error;
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readXls(bytes, &error);
    QVERIFY(book);
    QVERIFY(error.isNull());
    QCOMPARE(book->date1904, date1904);
    QStringList got;
    QString flags;
    int seen = 0;
    for (const auto &sheet : book->sheets) {
        got << sheet.name;
        seen += int(sheet.cells.size());
        flags += !sheet.worksheet ? QLatin1Char('c') : sheet.hidden ? QLatin1Char('h') : QLatin1Char('.');
        QVERIFY(sheet.worksheet || sheet.cells.empty());
    }
    QCOMPARE(got, names);
    QCOMPARE(flags, hidden);
    QCOMPARE(seen, cells);
}

void TestXlsReader::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ReadError::Kind>("kind");
    const QByteArray good = readFile(fixture("sheets.xls"));
    QVERIFY(good.size() > 8000);
    const Layout layout {good};
    const quint32 start = layout.start(QStringLiteral("Workbook"));
    QVERIFY(start > 0 && start < 20);
    const auto changed = [&](const char *name, int at, quint32 value, ReadError::Kind kind) {
        QByteArray bytes = good;
        setU32(&bytes, at, value);
        QTest::newRow(name) << bytes << kind;
    };
    QTest::newRow("cut in half") << good.left(good.size() / 2) << ReadError::DamagedCompoundFile;
    QTest::newRow("header alone") << good.left(512) << ReadError::DamagedCompoundFile;
    QTest::newRow("cut short of the header") << good.left(300) << ReadError::DamagedCompoundFile;
    changed("sector size 1,024", 30, 0xFFFE000A, ReadError::DamagedCompoundFile);
    changed("FAT longer than the file", 44, 0x10000, ReadError::DamagedCompoundFile);
    changed("FAT sector past the end", 76, 5000, ReadError::DamagedCompoundFile);
    changed("FAT chain that loops", layout.fatEntry(layout.next(start)), start, ReadError::DamagedCompoundFile);
    changed("FAT chain into itself", layout.fatEntry(start), start, ReadError::DamagedCompoundFile);
    changed("FAT index out of range", layout.fatEntry(start), 0x00FFFFF0, ReadError::DamagedCompoundFile);
    changed("sector past the end of the file", layout.fatEntry(start), 100, ReadError::DamagedCompoundFile);
    changed("chain ending early", layout.fatEntry(start), 0xFFFFFFFE, ReadError::DamagedCompoundFile);
    changed("stream longer than the file", layout.entry(QStringLiteral("Workbook")) + 120, 0x7FFFFFFF, ReadError::DamagedCompoundFile);
    changed("directory past the end", 48, 4000, ReadError::DamagedCompoundFile);
    changed("no Workbook stream", layout.entry(QStringLiteral("Workbook")) + 14, 0x0000006C, ReadError::NotWorkbook);
    changed("record past the end of the stream", layout.sector(start), 0xFFFF0809, ReadError::DamagedRecord);
    {
        // A LABELSST cell moved to column 16,385.
        QByteArray bytes = good;
        const int cell = bytes.indexOf(QByteArray("\xFD\x00\x0A\x00", 4));
        QVERIFY(cell > 0);
        qToLittleEndian(quint16(0x4000), bytes.data() + cell + 6);
        QTest::newRow("cell past the last column") << bytes << ReadError::DamagedRecord;
        bytes = good;
        qToLittleEndian(quint32(0x7FFF0000), bytes.data() + cell + 10);
        QTest::newRow("shared string past the SST") << bytes << ReadError::DamagedRecord;
    }
    {
        QByteArray bytes = readFile(fixture("gb18030_95.xls"));
        const int codePage = bytes.indexOf(QByteArray("\x42\x00\x02\x00\xA8\x03", 6)); // 936
        QVERIFY(codePage > 0);
        qToLittleEndian(quint16(12345), bytes.data() + codePage + 4);
        QTest::newRow("code page 12345") << bytes << ReadError::UnsupportedCodePage;
    }
    QTest::newRow("text running past its record") << readFile(fixture("fuzz/xls-string-past-its-record.xls")) << ReadError::DamagedRecord;
    QTest::newRow("encrypted .xls") << readFile(fixture("locked.xls")) << ReadError::Encrypted;
    QTest::newRow("encrypted .xlsx") << readFile(fixture("locked.xlsx")) << ReadError::Encrypted;
    QTest::newRow("no sheets") << compoundFile("Workbook", biffStream(0, 0)) << ReadError::NotWorkbook;
    // Read over and over, they would take 10,000 times as long as the file.
    QTest::newRow("sheets sharing their records") << compoundFile("Workbook", biffStream(10000, 1, true)) << ReadError::DamagedRecord;
}

// Each refusal says why, and where for a damaged file.
void TestXlsReader::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ReadError::Kind, kind);
    QVERIFY(!bytes.isEmpty());
    ReadError error;
    QVERIFY(!QXlsx::detail::readXls(bytes, &error));
    QCOMPARE(error.kind, kind);
    if (kind == ReadError::DamagedCompoundFile || kind == ReadError::DamagedRecord)
        QVERIFY(error.offset >= 0);
    if (kind == ReadError::DamagedRecord)
        QCOMPARE(error.part, QStringLiteral("Workbook"));
    if (kind == ReadError::UnsupportedCodePage)
        QCOMPARE(error.detail, QStringLiteral("12345"));
}

void TestXlsReader::limits_data()
{
    QTest::addColumn<int>("sheets");
    QTest::addColumn<int>("rows");
    QTest::addColumn<ReadError::Limit>("limit");
    QTest::newRow("10,000 sheets") << 10000 << 0 << ReadError::NoLimit;
    QTest::newRow("10,001 sheets") << 10001 << 0 << ReadError::Sheets;
    QTest::newRow("3,999,744 cells") << 1 << 15624 << ReadError::NoLimit;
    QTest::newRow("4,000,000 cells and 256 more") << 1 << 15626 << ReadError::Cells;
}

// The same sheet and cell limits as for an .xlsx; the sheets of a version 4
// compound file (4,096-byte sectors) read as any other.
void TestXlsReader::limits()
{
    QFETCH(int, sheets);
    QFETCH(int, rows);
    QFETCH(ReadError::Limit, limit);
    ReadError error;
    const std::unique_ptr<QXlsx::detail::Workbook> book = QXlsx::detail::readXls(compoundFile("Workbook", biffStream(sheets, rows)), &error);
    QCOMPARE(error.limit, limit);
    QCOMPARE(error.kind, limit == ReadError::NoLimit ? ReadError::None : ReadError::LimitReached);
    if (limit == ReadError::NoLimit) {
        QVERIFY(book);
        QCOMPARE(int(book->sheets.size()), sheets);
        QCOMPARE(int(book->sheets[0].cells.size()), rows * 256);
        QCOMPARE(book->sheets[0].range.isValid(), rows > 0);
    }
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

#include "ui/kestrova.h"

#include "fixtures.h"
#include "logcapture.h"
#include "modaldriver.h"
#include "qrdecode.h"
#include "unprivileged.h"
#include "urlcatcher.h"

#include "xlsxdocument.h"

#include <QBuffer>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString deviceFolder = QStringLiteral("装置检验二维码");
const QString boardFolder = QStringLiteral("板卡检验二维码");

struct Run
{
    FileDialogSeen dialog;
    BoxSeen failures;  // the warning listing records not written, when expected
    BoxSeen box;
    QStringList log;
    QList<QUrl> urls;
    int unexpected = 0;
};

QStringList filesIn(const QString &folder)
{
    QDir dir(folder);
    return dir.exists() ? dir.entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)
                        : QStringList{QStringLiteral("<no folder>")};
}

QString payloadOf(const QString &file)
{
    bool ok = false;
    const QByteArray bytes = decodeQrFile(file, &ok);
    return ok ? QString::fromUtf8(bytes) : QStringLiteral("<no code>");
}

QStringList failureLines(const QStringList &log)
{
    QStringList failures;
    for (const QString &line : log)
        if (line.endsWith(QStringLiteral(" 二维码生成失败\"")))
            failures << line;
    return failures;
}

} // namespace

class TestBatchRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void workedExample_data();
    void workedExample();
    void openingTheWorkbook();
    void cancelledDialog();
    void sheetNamesDecide();
    void twoDeviceSheetsAndAwkwardKeys();
    void noMatchingSheet();
    void readOnlyWorkbook();
    void unreadableFiles_data();
    void unreadableFiles();
    void notWrittenBack_data();
    void notWrittenBack();
    void outputFolderTakenByAFile();
    void failuresAreListed_data();
    void failuresAreListed();
    void longRunShowsProgress();

private:
    QString copyIn(const QString &name, const QString &as = QString());
    Run run(const QString &workbook, const QString &answer, bool failures = false);

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<Kestrova> m_window;
};

void TestBatchRun::init()
{
    m_home.reset(new QTemporaryDir);
    m_work.reset(new QTemporaryDir);
    qputenv("HOME", m_home->path().toUtf8());
    QVERIFY(QDir().mkpath(m_home->filePath(QStringLiteral("Desktop"))));
    QVERIFY(QDir::setCurrent(m_work->path()));
    m_window.reset(new Kestrova);
    m_window->show();
}

void TestBatchRun::cleanup()
{
    m_window.reset();
    QDir::setCurrent(QDir::tempPath());
    m_work.reset();
    m_home.reset();
}

QString TestBatchRun::copyIn(const QString &name, const QString &as)
{
    const QString target = m_work->filePath(as.isEmpty() ? name : as);
    QFile::copy(fixture(name), target);
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    return target;
}

Run TestBatchRun::run(const QString &workbook, const QString &answer, bool failures)
{
    Run result;
    UrlCatcher catcher;
    LogCapture log;
    ModalDriver driver;
    driver.then(answerFileDialog(&result.dialog, workbook));
    if (failures)
        driver.then(answerBox(&result.failures, QStringLiteral("OK")));
    driver.then(answerBox(&result.box, answer));
    m_window->findChild<QPushButton *>(QStringLiteral("excelBtn"))->click();
    result.log = log.debugLines();
    result.urls = catcher.urls;
    result.unexpected = driver.unexpected();
    return result;
}

void TestBatchRun::workedExample_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::newRow("openpyxl") << "worked.xlsx";
    QTest::newRow("LibreOffice Calc") << "worked_calc.xlsx";
}

void TestBatchRun::workedExample()
{
    QFETCH(QString, workbook);
    const QString path = copyIn(workbook);
    const Run r = run(path, QStringLiteral("取消"));

    QVERIFY(r.dialog.seen);
    QVERIFY(!r.dialog.save);
    QCOMPARE(r.dialog.parent, m_window.get());
    QCOMPARE(r.dialog.title, QStringLiteral("选择文件"));
    QCOMPARE(r.dialog.directory, m_home->filePath(QStringLiteral("Desktop")));
    QCOMPARE(r.dialog.filters, (QStringList{"(*.xlsx)", "(*.xls)", "(*.csv)"}));
    QCOMPARE(r.dialog.selectedFilter, QStringLiteral("(*.xlsx)"));

    QVERIFY(r.box.seen);
    QCOMPARE(r.box.icon, QMessageBox::Information);
    QCOMPARE(r.box.parent, m_window.get());
    QCOMPARE(r.box.title, QStringLiteral("提示"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.box.buttons, (QStringList{"打开文件", "取消"}));
    QCOMPARE(r.box.defaultIndex, 0);
    QVERIFY(!r.box.hasEscape);
    QCOMPARE(r.unexpected, 0);
    QVERIFY(r.urls.isEmpty());

    // The device rows in row order; no line for the board sheet or the notes.
    QCOMPARE(r.log, (QStringList{R"("Relay panel; 2024-01-01; 2024-03-15; Zone 3")", R"("2024-03-16; 7")",
                                 R"("Spare relay; ")"}));
    const QString devices = m_work->filePath(deviceFolder);
    const QString boards = m_work->filePath(boardFolder);
    QCOMPARE(filesIn(devices), (QStringList{".png", "DEV-01.png", "DEV-02.png"}));
    QCOMPARE(filesIn(boards), (QStringList{"BRD-7.png", "BRD-7_CPU.png"}));
    QCOMPARE(payloadOf(devices + "/DEV-01.png"), QStringLiteral("Relay panel; 2024-01-01; 2024-03-15; Zone 3"));
    QCOMPARE(payloadOf(devices + "/.png"), QStringLiteral("Spare relay; "));
    QCOMPARE(payloadOf(boards + "/BRD-7_CPU.png"), QStringLiteral("CPU; V3.0; SN125; 2024-04-18; "));
    QCOMPARE(payloadOf(boards + "/BRD-7.png"), QStringLiteral("V2.2; SN124; 2024-01-09; 2024-01-19; OK"));

    // Saved back: same sheets, same cells, the last sheet now the active one.
    QXlsx::Document saved(path);
    QVERIFY(saved.isLoaded());
    QCOMPARE(saved.sheetNames(), (QStringList{"notes", "device_list", "board_2024"}));
    QCOMPARE(saved.dimension().lastColumn(), 8);
    QVERIFY(saved.selectSheet(QStringLiteral("device_list")));
    QCOMPARE(saved.cellAt(2, 1)->value().toString(), QStringLiteral("DEV-01"));
    QCOMPARE(saved.cellAt(2, 4)->value().toDouble(), 45366.5);
    QVERIFY(!saved.cellAt(4, 1));
}

void TestBatchRun::openingTheWorkbook()
{
    const QString path = copyIn(QStringLiteral("worked.xlsx"));
    const Run r = run(path, QStringLiteral("打开文件"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
}

void TestBatchRun::cancelledDialog()
{
    const Run r = run(QString(), QStringLiteral("OK"));
    QVERIFY(r.dialog.seen);
    QCOMPARE(r.box.icon, QMessageBox::Warning);
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("选择文件路径为空"));
    QCOMPARE(r.box.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(filesIn(m_work->path()), QStringList());
}

void TestBatchRun::sheetNamesDecide()
{
    const Run r = run(copyIn(QStringLiteral("names.xlsx")), QStringLiteral("取消"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    // Exact-case substrings, "device" first: Device1, BOARD and other are skipped.
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)), QStringList{"DB.png"});
    QCOMPARE(filesIn(m_work->filePath(boardFolder)), (QStringList{"BS_plural.png", "MB_suffix.png"}));
    QCOMPARE(r.log, QStringList{R"("device and board")"});
}

void TestBatchRun::twoDeviceSheetsAndAwkwardKeys()
{
    const Run r = run(copyIn(QStringLiteral("twodevices.xlsx")), QStringLiteral("取消"), true);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.failures.text, QStringLiteral("共 9 条记录，其中 4 条未能生成二维码图片：\n"
                                             "工作表 device_a：\n"
                                             "  ../escape.png：名称不能用作文件名\n"
                                             "  /abs.png：名称不能用作文件名\n"
                                             "  back\\slash.png：名称不能用作文件名\n"
                                             "  sub/dir.png：无法写入（No such file or directory）"));
    const QString devices = m_work->filePath(deviceFolder);
    QCOMPARE(filesIn(devices), (QStringList{".png", "50%2 off.png", "ONLY_A.png", "SAME.png"}));
    QCOMPARE(payloadOf(devices + "/SAME.png"), QStringLiteral("from b"));
    QCOMPARE(payloadOf(devices + "/.png"), QStringLiteral("no key"));
    QCOMPARE(payloadOf(devices + "/50%2 off.png"), QStringLiteral("percent"));
    // Keys that would leave the folder, or need a sub-folder, are not written.
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("escape.png"))));
    QVERIFY(!QFile::exists(QStringLiteral("/abs.png")));
    const QStringList failures = failureLines(r.log);
    QCOMPARE(failures.size(), 4);
    QCOMPARE(failures.at(0), "\"" + devices + "/../escape.png parent 二维码生成失败\"");
    QCOMPARE(failures.at(1), "\"" + devices + "//abs.png absolute 二维码生成失败\"");
    QCOMPARE(failures.at(2), "\"" + devices + "/back\\\\slash.png backslash 二维码生成失败\"");
    QCOMPARE(failures.at(3), "\"" + devices + "/sub/dir.png nested 二维码生成失败\"");
}

void TestBatchRun::noMatchingSheet()
{
    const QString path = copyIn(QStringLiteral("nomatch.xlsx"));
    const Run r = run(path, QStringLiteral("取消"));
    QCOMPARE(r.box.title, QStringLiteral("提示"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(filesIn(m_work->path()), QStringList{"nomatch.xlsx"});
    QXlsx::Document saved(path);
    QCOMPARE(saved.sheetNames(), (QStringList{"summary", "Device"}));
}

void TestBatchRun::readOnlyWorkbook()
{
    const QString path = copyIn(QStringLiteral("worked.xlsx"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    makeWorldAccessible(m_work->path());
    makeWorldAccessible(m_home->path());
    makeWorldAccessible(m_home->filePath(QStringLiteral("Desktop")));
    const QByteArray before = fileBytes(path);

    Run r;
    {
        Unprivileged nobody;
        QVERIFY(nobody.active());
        r = run(path, QStringLiteral("OK"));
    }
    QCOMPARE(r.box.icon, QMessageBox::Warning);
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成失败"));
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)), (QStringList{".png", "DEV-01.png", "DEV-02.png"}));
    QCOMPARE(fileBytes(path), before);
}

void TestBatchRun::unreadableFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("truncated xlsx") << "truncated.xlsx";
    QTest::newRow("truncated xls") << "truncated.xls";
    QTest::newRow("picture named .csv") << "device_list.csv";
}

void TestBatchRun::unreadableFiles()
{
    QFETCH(QString, name);
    QByteArray bytes;
    if (name.endsWith(QLatin1String(".csv"))) {
        QBuffer png(&bytes);
        png.open(QIODevice::WriteOnly);
        QImage picture(32, 32, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QVERIFY(picture.save(&png, "PNG"));
    } else {
        const QString worked = QString(name).replace(QLatin1String("truncated"), QLatin1String("worked"));
        const QByteArray whole = fileBytes(fixture(worked));
        bytes = whole.left(whole.size() / 2);
    }
    const QString path = m_work->filePath(name);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const QByteArray before = fileBytes(path);
    QVERIFY(!before.isEmpty());

    const Run r = run(path, QStringLiteral("OK"));
    QCOMPARE(r.box.icon, QMessageBox::Warning);
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成失败"));
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(filesIn(m_work->path()), QStringList{name});
    QCOMPARE(fileBytes(path), before);
}

void TestBatchRun::notWrittenBack_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("boards");
    QTest::addColumn<QStringList>("log");

    const QStringList workedLog{R"("Relay panel; 2024-01-01; 2024-03-15; Zone 3")", R"("2024-03-16; 7")", R"("Spare relay; ")"};
    QTest::newRow("xls") << "worked.xls"
                         << QStringList{"=Spare relay; ", "DEV-01=Relay panel; 2024-01-01; 2024-03-15; Zone 3",
                                        "DEV-02=2024-03-16; 7"}
                         << QStringList{"BRD-7=V2.2; SN124; 2024-01-09; 2024-01-19; OK",
                                        "BRD-7_CPU=CPU; V3.0; SN125; 2024-04-18; "}
                         << workedLog;
    // Quoted commas, quotes and line breaks; dates, numbers and text that only
    // looks like a number, in both encodings.
    const QStringList csvDevices{"DEV-01=Relay panel, \"A\" type; 2024-01-01; 2024-03-15; 7; 00123",
                                 "DEV-03=+3; 2024-01-01; 1.50; He said \"hi\"",
                                 "设备-02=继电器\n第二行; 2024-02-29; 2.5; 110101199003071234"};
    const QStringList csvLog{R"("Relay panel, \"A\" type; 2024-01-01; 2024-03-15; 7; 00123")",
                             R"("继电器\n第二行; 2024-02-29; 2.5; 110101199003071234")",
                             R"("+3; 2024-01-01; 1.50; He said \"hi\"")"};
    QTest::newRow("csv, UTF-8") << "device_utf8.csv" << csvDevices << QStringList{"<no folder>"} << csvLog;
    QTest::newRow("csv, GB18030") << "device_gb18030.csv" << csvDevices << QStringList{"<no folder>"} << csvLog;
    QTest::newRow("csv whose name is no device or board") << "list.csv" << QStringList{"<no folder>"}
                                                           << QStringList{"<no folder>"} << QStringList();
}

// .xls and CSV files give their codes like an .xlsx, are left as they are,
// and the success box opens them.
void TestBatchRun::notWrittenBack()
{
    QFETCH(QString, file);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, boards);
    QFETCH(QStringList, log);
    const QString path = copyIn(file);
    const QByteArray before = fileBytes(path);
    const QDateTime modified = QFileInfo(path).lastModified();

    const Run r = run(path, QStringLiteral("打开文件"));
    QCOMPARE(r.box.icon, QMessageBox::Information);
    QCOMPARE(r.box.title, QStringLiteral("提示"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.box.buttons, (QStringList{"打开文件", "取消"}));
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    QCOMPARE(r.log, log);

    const auto codes = [](const QString &folder) {
        QStringList found;
        for (const QString &name : filesIn(folder))
            found << (name.endsWith(QLatin1String(".png")) ? name.chopped(4) + '=' + payloadOf(folder + '/' + name) : name);
        return found;
    };
    QCOMPARE(codes(m_work->filePath(deviceFolder)), devices);
    QCOMPARE(codes(m_work->filePath(boardFolder)), boards);
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
    QStringList left = filesIn(m_work->path());
    left.removeAll(deviceFolder);
    left.removeAll(boardFolder);
    QCOMPARE(left, QStringList{file});
}

void TestBatchRun::outputFolderTakenByAFile()
{
    const QString path = copyIn(QStringLiteral("worked.xlsx"));
    QFile blocker(m_work->filePath(deviceFolder));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const Run r = run(path, QStringLiteral("取消"), true);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.failures.text, QStringLiteral("共 5 条记录，其中 3 条未能生成二维码图片：\n"
                                             "工作表 device_list：\n"
                                             "  .png：无法写入（Not a directory）\n"
                                             "  DEV-01.png：无法写入（Not a directory）\n"
                                             "  DEV-02.png：无法写入（Not a directory）"));
    // Every device record fails, in ascending key order; the boards are written.
    const QString devices = m_work->filePath(deviceFolder);
    QCOMPARE(failureLines(r.log),
             (QStringList{"\"" + devices + "/.png Spare relay;  二维码生成失败\"",
                          "\"" + devices + "/DEV-01.png Relay panel; 2024-01-01; 2024-03-15; Zone 3 二维码生成失败\"",
                          "\"" + devices + "/DEV-02.png 2024-03-16; 7 二维码生成失败\""}));
    QCOMPARE(filesIn(m_work->filePath(boardFolder)), (QStringList{"BRD-7.png", "BRD-7_CPU.png"}));
}

void TestBatchRun::failuresAreListed_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("saved back") << false;
    QTest::newRow("read-only workbook") << true;
}

// One record per reason, then more than the warning lists; it comes after the
// save-back and before the final box, whichever that is.
void TestBatchRun::failuresAreListed()
{
    QFETCH(bool, readOnly);
    const QString path = copyIn(QStringLiteral("failures.xlsx"));
    Run r;
    if (readOnly) {
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        makeWorldAccessible(m_work->path());
        makeWorldAccessible(m_home->path());
        makeWorldAccessible(m_home->filePath(QStringLiteral("Desktop")));
        Unprivileged nobody;
        QVERIFY(nobody.active());
        r = run(path, QStringLiteral("OK"), true);
    } else {
        r = run(path, QStringLiteral("取消"), true);
    }
    QCOMPARE(r.unexpected, 0);

    QVERIFY(r.failures.seen);
    QCOMPARE(r.failures.icon, QMessageBox::Warning);
    QCOMPARE(r.failures.parent, m_window.get());
    QCOMPARE(r.failures.title, QStringLiteral("警告"));
    QCOMPARE(r.failures.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QStringList lines{QStringLiteral("共 24 条记录，其中 23 条未能生成二维码图片："),
                      QStringLiteral("工作表 board_first："),
                      QStringLiteral("  B-EMPTY.png：内容为空"),
                      QStringLiteral("工作表 device_bad："),
                      QStringLiteral("  CTRL\\u0001.png：名称不能用作文件名"),
                      QStringLiteral("  DEL\\u007f.png：名称不能用作文件名"),
                      QStringLiteral("  EMPTY.png：内容为空"),
                      QStringLiteral("  LONG.png：内容过长，超出二维码容量"),
                      QStringLiteral("  NUL\\u0000x.png：名称不能用作文件名"),
                      QStringLiteral("  SUB/DIR.png：无法写入（No such file or directory）"),
                      QStringLiteral("  SUR\\ud800.png：名称不能用作文件名")};
    for (int i = 1; i <= 12; ++i)
        lines << QStringLiteral("  x/../%1.png：名称不能用作文件名").arg(i, 2, 10, QLatin1Char('0'));
    lines << QStringLiteral("…");
    QCOMPARE(r.failures.text.split(QLatin1Char('\n')), lines);

    QCOMPARE(r.box.title, readOnly ? QStringLiteral("警告") : QStringLiteral("提示"));
    QCOMPARE(r.box.text, readOnly ? QStringLiteral("二维码信息生成失败") : QStringLiteral("二维码信息生成成功"));
    // Nothing under a cut-short or mangled name, nothing half-written.
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)), QStringList{"GOOD.png"});
    QCOMPARE(filesIn(m_work->filePath(boardFolder)), QStringList());
    QCOMPARE(failureLines(r.log).size(), 23);
    QCOMPARE(r.log.count(QStringLiteral("Failed to generate QR code.")), 3);
    QCOMPARE(r.log.count(QStringLiteral("Failed to save QR code image.")), 1);
}

void TestBatchRun::longRunShowsProgress()
{
    const QString path = copyIn(QStringLiteral("long.xlsx"));
    struct Seen
    {
        QWidget *parent = nullptr;
        QString title;
        Qt::WindowModality modality = Qt::NonModal;
        int buttons = -1;
        QColor background;
    } seen;
    QStringList samples;
    QTimer sampler;
    sampler.setInterval(0);
    bool goneBeforeBox = false;
    FileDialogSeen dialog;
    BoxSeen box;

    ModalDriver driver;
    driver.then(answerFileDialog(&dialog, path))
        .then([&](QWidget *w) {
            seen = {w->parentWidget(), w->windowTitle(), w->windowModality(),
                    int(w->findChildren<QAbstractButton *>().size()), QColor(w->grab().toImage().pixel(1, 1))};
            connect(&sampler, &QTimer::timeout, w, [w, &samples] {
                const QString text = w->findChild<QLabel *>()->text();
                if (samples.isEmpty() || samples.last() != text)
                    samples << text;
            });
            sampler.start();
        })
        .then([&](QWidget *w) {
            goneBeforeBox = !m_window->findChild<QDialog *>(QStringLiteral("batchProgress"));
            answerBox(&box, QStringLiteral("取消"))(w);
        });
    m_window->findChild<QPushButton *>(QStringLiteral("excelBtn"))->click();

    QCOMPARE(driver.handled(), 3);
    QCOMPARE(driver.unexpected(), 0);
    QCOMPARE(seen.parent, m_window.get());
    QCOMPARE(seen.title, QStringLiteral("二维码生成中"));
    QCOMPARE(seen.modality, Qt::WindowModal);
    QCOMPARE(seen.buttons, 0);
    QCOMPARE(seen.background, QColor(0x06, 0x0a, 0x21));
    QVERIFY(goneBeforeBox);
    QCOMPARE(box.text, QStringLiteral("二维码信息生成成功"));

    // Counts climb sheet by sheet and reach each sheet's total.
    QVERIFY2(samples.size() >= 3, qPrintable(samples.join(QLatin1Char('|'))));
    QVERIFY(samples.contains(QStringLiteral("device_long\n3000 / 3000")));
    QCOMPARE(samples.last(), QStringLiteral("board_long\n400 / 400"));
    QString sheet;
    int last = -1;
    for (const QString &sample : samples) {
        const QStringList parts = sample.split(QLatin1Char('\n'));
        const int written = parts.value(1).section(QLatin1Char(' '), 0, 0).toInt();
        if (parts.first() != sheet) {
            QVERIFY2(sheet.isEmpty() || sheet == QLatin1String("device_long"), qPrintable(sample));
            sheet = parts.first();
            last = -1;
        }
        QVERIFY2(written >= last, qPrintable(sample));
        last = written;
    }
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)).size(), 3000);
    QCOMPARE(filesIn(m_work->filePath(boardFolder)).size(), 400);
}

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"

#include "ui/kestrova.h"

#include "fixtures.h"
#include "logcapture.h"
#include "modaldriver.h"
#include "qrdecode.h"
#include "testhome.h"
#include "unprivileged.h"
#include "urlcatcher.h"

#include "xlsxdocument.h"

#include <QBuffer>
#include <QLabel>
#include <QProgressBar>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString deviceFolder = QStringLiteral("装置检验二维码");
const QString boardFolder = QStringLiteral("板卡检验二维码");

struct Run
{
    FileDialogSeen dialog;
    QVector<BoxSeen> warnings; // before the last box, answered with OK
    BoxSeen box;
    QStringList log;
    QList<QUrl> urls;
    int unexpected = 0;
};

QStringList filesIn(const QString &folder)
{
    QDir dir(folder);
    return dir.exists() ? dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                                        QDir::Name)
                        : QStringList{QStringLiteral("<no folder>")};
}

QString payloadOf(const QString &file)
{
    bool ok = false;
    const QByteArray bytes = decodeQrFile(file, &ok);
    return ok ? QString::fromUtf8(bytes) : QStringLiteral("<no code>");
}

// The reason in "无法写入（…）" and "无法创建文件夹 …（…）" is the system's own wording, which differs
// between systems (and between Windows and Wine): Windows compares without it.
QString withoutSystemReasons(QString text)
{
#ifdef Q_OS_WIN
    static const QRegularExpression reason(QStringLiteral("(无法写入|无法创建文件夹 [^（]*)（[^）]*）"));
    text.replace(reason, QStringLiteral("\\1（…）"));
#endif
    return text;
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
    void noMatchingSheet_data();
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
    void cancelledRun_data();
    void cancelledRun();
    void changedDuringTheRun();
    void hostileRecords();

private:
    QString copyIn(const QString &name, const QString &as = QString());
    Run run(const QString &workbook, const QString &answer, int warnings = 0);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<Kestrova> m_window;
};

void TestBatchRun::init()
{
    m_home.reset(new TestHome);
    m_work.reset(new QTemporaryDir);
    QVERIFY(QFileInfo(m_home->desktop()).isDir());
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

Run TestBatchRun::run(const QString &workbook, const QString &answer, int warnings)
{
    Run result;
    result.warnings.resize(warnings);
    UrlCatcher catcher;
    LogCapture log;
    ModalDriver driver;
    driver.then(answerFileDialog(&result.dialog, workbook));
    for (BoxSeen &warning : result.warnings)
        driver.then(answerBox(&warning, QStringLiteral("OK")));
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
    const Run r = run(path, QStringLiteral("取消"), 1);

    QVERIFY(r.dialog.seen);
    QVERIFY(!r.dialog.save);
    QCOMPARE(r.dialog.parent, m_window.get());
    QCOMPARE(r.dialog.title, QStringLiteral("选择文件"));
    QCOMPARE(r.dialog.directory, m_home->desktop());
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
    // What the sheets hold that no image carries: the row under the gap in
    // column 1, the dates typed as text, the record without a name, the row
    // whose key a later row repeats.
    QCOMPARE(r.warnings[0].text, QStringLiteral("共 5 条记录，其中 1 条未能生成二维码图片，另有 1 行未读取，2 个日期未写入，"
                                                "1 行的图片被覆盖：\n"
                                                "工作表 device_list：\n"
                                                "  第 5 行：未读取（第 1 列中间有空单元格）\n"
                                                "  DEV-02.png：第 3 行第 3 列的日期是文字，未写入二维码\n"
                                                "  第 4 行：名称为空\n"
                                                "工作表 board_2024：\n"
                                                "  BRD-7_CPU.png：第 2 行第 7 列的日期是文字，未写入二维码\n"
                                                "  第 2 行：与第 4 行写入同一文件，图片被覆盖"));

    // The device rows in row order; no line for the board sheet or the notes.
    const QString devices = m_work->filePath(deviceFolder);
    QCOMPARE(r.log, (QStringList{R"("Relay panel; 2024-01-01; 2024-03-15; Zone 3")", R"("2024-03-16; 7")",
                                 R"("Spare relay; ")", "\"" + devices + "/.png Spare relay;  二维码生成失败\""}));
    const QString boards = m_work->filePath(boardFolder);
    QCOMPARE(filesIn(devices), (QStringList{"DEV-01.png", "DEV-02.png"}));
    QCOMPARE(filesIn(boards), (QStringList{"BRD-7.png", "BRD-7_CPU.png"}));
    QCOMPARE(payloadOf(devices + "/DEV-01.png"), QStringLiteral("Relay panel; 2024-01-01; 2024-03-15; Zone 3"));
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

// Temporary files that a killed run left beside the workbook and its images
// go once they are old; a fresh one (a run may be writing it) and a file of
// the user's stay.
void TestBatchRun::openingTheWorkbook()
{
    const QString path = copyIn(QStringLiteral("worked.xlsx"));
    QVERIFY(QDir().mkpath(m_work->filePath(deviceFolder)));
    const QStringList stale{".kestrova-1a2b3c4d.tmp", deviceFolder + "/.qr-ff00.tmp"};
    const QStringList kept{".kestrova-5e6f.tmp", ".kestrova-notes.tmp", deviceFolder + "/.qr-my.tmp"};
    for (const QString &name : stale + kept) {
        QFile file(m_work->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("left") == 4 && file.flush());
        if (stale.contains(name) || name.contains(QLatin1String("notes")) || name.contains(QLatin1String("my")))
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-7200), QFileDevice::FileModificationTime));
    }
    const Run r = run(path, QStringLiteral("打开文件"), 1);
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    for (const QString &name : stale)
        QVERIFY2(!QFile::exists(m_work->filePath(name)), qPrintable(name));
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(m_work->filePath(name)), qPrintable(name));
}

void TestBatchRun::cancelledDialog()
{
    // An account without a desktop folder starts in the home folder.
    if (TestHome::canMove())
        QVERIFY(QDir(m_home->desktop()).removeRecursively());
    const Run r = run(QString(), QStringLiteral("OK"));
    QVERIFY(r.dialog.seen);
    QCOMPARE(r.dialog.directory, TestHome::canMove() ? m_home->path() : m_home->desktop());
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
    const Run r = run(copyIn(QStringLiteral("twodevices.xlsx")), QStringLiteral("取消"), 1);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(withoutSystemReasons(r.warnings[0].text),
             withoutSystemReasons(QStringLiteral("共 9 条记录，其中 5 条未能生成二维码图片，另有 1 行未读取，1 行的图片被覆盖：\n"
                                             "工作表 device_a：\n"
                                             "  第 10 行：未读取（第 1 列中间有空单元格）\n"
                                             "  第 5 行：名称为空\n"
                                             "  ../escape.png：名称不能用作文件名\n"
                                             "  /abs.png：名称不能用作文件名\n"
                                             "  back\\slash.png：名称不能用作文件名\n"
                                             "  sub/dir.png：无法写入（No such file or directory）\n"
                                             "  第 2 行：与工作表 device_b 第 2 行写入同一文件，图片被覆盖")));
    const QString devices = m_work->filePath(deviceFolder);
    QCOMPARE(filesIn(devices), (QStringList{"50%2 off.png", "ONLY_A.png", "SAME.png"}));
    QCOMPARE(payloadOf(devices + "/SAME.png"), QStringLiteral("from b"));
    QCOMPARE(payloadOf(devices + "/50%2 off.png"), QStringLiteral("percent"));
    // Keys that would leave the folder, or need a sub-folder, are not written.
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("escape.png"))));
    QVERIFY(!QFile::exists(QStringLiteral("/abs.png")));
    const QStringList failures = failureLines(r.log);
    QCOMPARE(failures.size(), 5);
    QCOMPARE(failures.at(0), "\"" + devices + "/.png no key 二维码生成失败\"");
    QCOMPARE(failures.at(1), "\"" + devices + "/../escape.png parent 二维码生成失败\"");
    QCOMPARE(failures.at(2), "\"" + devices + "//abs.png absolute 二维码生成失败\"");
    QCOMPARE(failures.at(3), "\"" + devices + "/back\\\\slash.png backslash 二维码生成失败\"");
    QCOMPARE(failures.at(4), "\"" + devices + "/sub/dir.png nested 二维码生成失败\"");
}

void TestBatchRun::noMatchingSheet_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("found");
    QTest::newRow("xlsx") << "nomatch.xlsx" << "“summary”、“Device”";
    QTest::newRow("xls") << "nomatch.xls" << "“summary”、“Device”";
    QTest::newRow("csv") << "设备台账.csv" << "“设备台账”\nCSV 文件只有一张工作表，名称就是文件名（不含扩展名）。";
}

// A run that used no sheet says so, and why, before the final box.
void TestBatchRun::noMatchingSheet()
{
    QFETCH(QString, file);
    QFETCH(QString, found);
    const QString path = file.endsWith(QLatin1String(".csv")) ? copyIn(QStringLiteral("device_utf8.csv"), file)
                                                               : copyIn(file);
    const Run r = run(path, QStringLiteral("取消"), 1);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.warnings[0].title, QStringLiteral("警告"));
    QCOMPARE(r.warnings[0].text, QStringLiteral("没有生成任何二维码图片：%1 中没有名称含有 “device” 或 “board” 的工作表"
                                                "（大小写须一致：Device、BOARD 不算）。\n找到的工作表：%2")
                                     .arg(QDir::toNativeSeparators(path), found));
    QCOMPARE(r.box.title, QStringLiteral("提示"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(filesIn(m_work->path()), QStringList{file});
    QXlsx::Document saved(path);
    QVERIFY(saved.isLoaded());
}

void TestBatchRun::readOnlyWorkbook()
{
    const QString path = copyIn(QStringLiteral("worked.xlsx"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    makeWorldAccessible(m_work->path());
    makeWorldAccessible(m_home->path());
    makeWorldAccessible(m_home->desktop());
    const QByteArray before = fileBytes(path);

    Run r;
    {
        Unprivileged nobody;
#ifndef Q_OS_WIN // where the read-only attribute alone keeps the file from being written
        QVERIFY(nobody.active());
#endif
        r = run(path, QStringLiteral("OK"), 2);
    }
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(withoutSystemReasons(r.warnings[1].text),
             withoutSystemReasons(QStringLiteral("未能保存 %1：无法写入（Permission denied），未保存").arg(QDir::toNativeSeparators(path))));
    QCOMPARE(r.box.icon, QMessageBox::Warning);
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成失败"));
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)), (QStringList{"DEV-01.png", "DEV-02.png"}));
    QCOMPARE(fileBytes(path), before);
}

void TestBatchRun::unreadableFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // how the box's reason starts
    QTest::newRow("truncated xlsx") << "truncated.xlsx" << "文件已损坏";
    QTest::newRow("truncated xls") << "truncated.xls" << "文件已损坏";
    QTest::newRow("picture named .csv") << "device_list.csv" << "不是文本文件，或编码不是 UTF-8 或 GB18030";
    QTest::newRow("quote left open") << "device_quote.csv" << "第 2 行的引号没有结束";
    QTest::newRow("named pipe") << "device_pipe.csv" << "不是普通文件";
    QTest::newRow("markup in the name") << "truncated &lt;b&gt;x.xlsx" << "文件已损坏";
}

// Nothing is written and the user hears why, then the final box.
void TestBatchRun::unreadableFiles()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QByteArray bytes;
    if (name == QLatin1String("device_list.csv")) {
        QBuffer png(&bytes);
        png.open(QIODevice::WriteOnly);
        QImage picture(32, 32, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QVERIFY(picture.save(&png, "PNG"));
    } else if (name == QLatin1String("device_quote.csv")) {
        bytes = "Key,Name\nK1,\"one\nK2,two\nK3,three\n";
    } else if (name.startsWith(QLatin1String("truncated"))) {
        const QByteArray whole = fileBytes(fixture(name.endsWith(QLatin1String(".xls")) ? "worked.xls" : "worked.xlsx"));
        bytes = whole.left(whole.size() / 2);
    }
    const QString path = m_work->filePath(name);
    if (name == QLatin1String("device_pipe.csv")) {
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
#else
        QSKIP("needs a named pipe");
#endif
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    const Run r = run(path, QStringLiteral("OK"), 1);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.warnings[0].title, QStringLiteral("警告"));
    const QString prefix = QStringLiteral("无法读取 %1：").arg(QDir::toNativeSeparators(path));
    QVERIFY2(r.warnings[0].text.startsWith(prefix + reason), qPrintable(r.warnings[0].text));
    QVERIFY(r.warnings[0].plainText);
    QCOMPARE(r.box.icon, QMessageBox::Warning);
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成失败"));
    QCOMPARE(filesIn(m_work->path()), QStringList{name});
    if (!bytes.isEmpty())
        QCOMPARE(fileBytes(path), bytes);
}

void TestBatchRun::notWrittenBack_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("boards");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("warnings");

    const QStringList workedLog{R"("Relay panel; 2024-01-01; 2024-03-15; Zone 3")", R"("2024-03-16; 7")", R"("Spare relay; ")"};
    QTest::newRow("xls") << "worked.xls"
                         << QStringList{"DEV-01=Relay panel; 2024-01-01; 2024-03-15; Zone 3", "DEV-02=2024-03-16; 7"}
                         << QStringList{"BRD-7=V2.2; SN124; 2024-01-09; 2024-01-19; OK",
                                        "BRD-7_CPU=CPU; V3.0; SN125; 2024-04-18; "}
                         << workedLog << 1;
    // Quoted commas, quotes and line breaks; dates, numbers and text that only
    // looks like a number, in both encodings.
    const QStringList csvDevices{"DEV-01=Relay panel, \"A\" type; 2024-01-01; 2024-03-15; 7; 00123",
                                 "DEV-03=+3; 2024-01-01; 1.50; He said \"hi\"",
                                 "设备-02=继电器\n第二行; 2024-02-29; 2.5; 110101199003071234"};
    const QStringList csvLog{R"("Relay panel, \"A\" type; 2024-01-01; 2024-03-15; 7; 00123")",
                             R"("继电器\n第二行; 2024-02-29; 2.5; 110101199003071234")",
                             R"("+3; 2024-01-01; 1.50; He said \"hi\"")"};
    QTest::newRow("csv, UTF-8") << "device_utf8.csv" << csvDevices << QStringList{"<no folder>"} << csvLog << 0;
    QTest::newRow("csv, GB18030") << "device_gb18030.csv" << csvDevices << QStringList{"<no folder>"} << csvLog << 0;
    QTest::newRow("csv whose name is no device or board") << "list.csv" << QStringList{"<no folder>"}
                                                           << QStringList{"<no folder>"} << QStringList() << 1;
}

// .xls and CSV files give their codes like an .xlsx, are left as they are,
// and the success box opens them.
void TestBatchRun::notWrittenBack()
{
    QFETCH(QString, file);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, boards);
    QFETCH(QStringList, log);
    QFETCH(int, warnings);
    const QString path = copyIn(file);
    const QByteArray before = fileBytes(path);
    const QDateTime modified = QFileInfo(path).lastModified();

    const Run r = run(path, QStringLiteral("打开文件"), warnings);
    QCOMPARE(r.box.icon, QMessageBox::Information);
    QCOMPARE(r.box.title, QStringLiteral("提示"));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(r.box.buttons, (QStringList{"打开文件", "取消"}));
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    QStringList payloads = r.log;
    for (const QString &failure : failureLines(r.log))
        payloads.removeAll(failure);
    QCOMPARE(payloads, log);

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

    const Run r = run(path, QStringLiteral("取消"), 1);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));
    QCOMPARE(withoutSystemReasons(r.warnings[0].text),
             withoutSystemReasons(QStringLiteral("共 5 条记录，其中 3 条未能生成二维码图片，另有 1 行未读取，2 个日期未写入，"
                                                "1 行的图片被覆盖：\n"
                                                "工作表 device_list：\n"
                                                "  第 5 行：未读取（第 1 列中间有空单元格）\n"
                                                "  DEV-02.png：第 3 行第 3 列的日期是文字，未写入二维码\n"
                                                "  无法创建文件夹 装置检验二维码（Not a directory），本表 3 条记录均未生成二维码图片\n"
                                                "工作表 board_2024：\n"
                                                "  BRD-7_CPU.png：第 2 行第 7 列的日期是文字，未写入二维码\n"
                                                "  第 2 行：与第 4 行写入同一文件，图片被覆盖")));
    // Said once for the folder; every device record fails, in ascending key
    // order, in the log; the boards are written.
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
        makeWorldAccessible(m_home->desktop());
        Unprivileged nobody;
#ifndef Q_OS_WIN // where the read-only attribute alone keeps the file from being written
        QVERIFY(nobody.active());
#endif
        r = run(path, QStringLiteral("OK"), 2);
    } else {
        r = run(path, QStringLiteral("取消"), 1);
    }
    QCOMPARE(r.unexpected, 0);

    const BoxSeen &failures = r.warnings[0];
    QVERIFY(failures.seen);
    QCOMPARE(failures.icon, QMessageBox::Warning);
    QCOMPARE(failures.parent, m_window.get());
    QCOMPARE(failures.title, QStringLiteral("警告"));
    QCOMPARE(failures.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QStringList lines{QStringLiteral("共 26 条记录，其中 25 条未能生成二维码图片："),
                      QStringLiteral("工作表 board_first："),
                      QStringLiteral("  B-EMPTY.png：内容为空"),
                      QStringLiteral("工作表 device_bad："),
                      QStringLiteral("  C1\\u0085.png：名称不能用作文件名"),
                      QStringLiteral("  CTRL\\u0001.png：名称不能用作文件名"),
                      QStringLiteral("  DEL\\u007f.png：名称不能用作文件名"),
                      QStringLiteral("  EMPTY.png：内容为空"),
                      QStringLiteral("  LONG.png：内容过长，超出二维码容量"),
                      QStringLiteral("  NUL\\u0000x.png：名称不能用作文件名"),
                      QStringLiteral("  NULTEXT.png：内容含有空字符（U+0000）"),
                      QStringLiteral("  SUB/DIR.png：无法写入（No such file or directory）"),
                      QStringLiteral("  SUR\\ud800.png：名称不能用作文件名")};
    for (int i = 1; i <= 10; ++i)
        lines << QStringLiteral("  x/../%1.png：名称不能用作文件名").arg(i, 2, 10, QLatin1Char('0'));
    lines << QStringLiteral("…");
    QCOMPARE(withoutSystemReasons(failures.text), withoutSystemReasons(lines.join(QLatin1Char('\n'))));
    // The details hold every entry, for copying.
    QCOMPARE(failures.details.count(QStringLiteral("：名称不能用作文件名")), 20);

    QCOMPARE(r.box.title, readOnly ? QStringLiteral("警告") : QStringLiteral("提示"));
    QCOMPARE(r.box.text, readOnly ? QStringLiteral("二维码信息生成失败") : QStringLiteral("二维码信息生成成功"));
    // Nothing under a cut-short or mangled name, nothing half-written.
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)), QStringList{"GOOD.png"});
    QCOMPARE(filesIn(m_work->filePath(boardFolder)), QStringList());
    QCOMPARE(failureLines(r.log).size(), 25);
    QCOMPARE(r.log.count(QStringLiteral("Failed to generate QR code.")), 4);
    QCOMPARE(r.log.count(QStringLiteral("Failed to save QR code image.")), 1);
}

// Watches the progress dialog of a run from inside it; act is called with
// the dialog and its label's text each time the text changes.
class ProgressWatch : public QObject
{
public:
    using Act = std::function<void(QDialog *, const QString &)>;
    ProgressWatch(QWidget *window, Act act) : m_window(window), m_act(std::move(act))
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *dialog = m_window->findChild<QDialog *>(QStringLiteral("batchProgress"));
            const QLabel *label = dialog ? dialog->findChild<QLabel *>() : nullptr;
            if (label && dialog->isVisible() && (samples.isEmpty() || samples.last() != label->text())) {
                samples << label->text();
                m_act(dialog, label->text());
            }
        });
        m_timer.start();
    }
    QStringList samples;

private:
    QWidget *m_window;
    Act m_act;
    QTimer m_timer;
};

int writtenOf(const QString &sample)
{
    return sample.section(QLatin1Char('\n'), 1).section(QLatin1Char(' '), 0, 0).toInt();
}

void TestBatchRun::longRunShowsProgress()
{
    const QString path = copyIn(QStringLiteral("long.xlsx"));
    QTextEdit *text = m_window->findChild<QTextEdit *>(QStringLiteral("textEdit"));
    struct
    {
        QWidget *parent = nullptr;
        QString title;
        QStringList buttons;
        QColor background;
    } seen;
    ProgressWatch watch(m_window.get(), [&](QDialog *dialog, const QString &) {
        if (!seen.parent) {
            seen = {dialog->parentWidget(), dialog->windowTitle(), {}, QColor(dialog->grab().toImage().pixel(1, 1))};
            for (const QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
                seen.buttons << button->text();
            // The window takes no input while the dialog is up.
            QTest::keyClicks(text, QStringLiteral("typed"));
        }
    });
    const Run r = run(path, QStringLiteral("取消"));

    QCOMPARE(r.unexpected, 0);
    QCOMPARE(seen.parent, m_window.get());
    QCOMPARE(seen.title, QStringLiteral("二维码生成中"));
    QCOMPARE(seen.buttons, QStringList{"取消"});
    QCOMPARE(seen.background, QColor(0x06, 0x0a, 0x21));
    QCOMPARE(text->toPlainText(), QString());
    QVERIFY(!m_window->findChild<QDialog *>(QStringLiteral("batchProgress")));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成成功"));

    // One count over the whole workbook, climbing to its end.
    const QStringList &samples = watch.samples;
    QVERIFY2(samples.size() >= 3, qPrintable(samples.join(QLatin1Char('|'))));
    QVERIFY(samples.first().startsWith(QLatin1String("device_long\n")));
    QCOMPARE(samples.last(), QStringLiteral("board_long\n3400 / 3400"));
    for (int i = 1; i < samples.size(); ++i)
        QVERIFY2(writtenOf(samples[i]) >= writtenOf(samples[i - 1]) && samples[i].endsWith(QLatin1String(" / 3400")),
                 qPrintable(samples[i]));
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)).size(), 3000);
    QCOMPARE(filesIn(m_work->filePath(boardFolder)).size(), 400);
}

void TestBatchRun::cancelledRun_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("取消") << "button";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("closing the window") << "window";
}

// A cancel stops before the next image, keeps what was written, leaves the
// workbook as it was and says how far the run got.
void TestBatchRun::cancelledRun()
{
    QFETCH(QString, how);
    const QString path = copyIn(QStringLiteral("long.xlsx"));
    const QByteArray before = fileBytes(path);
    bool asked = false;
    ProgressWatch watch(m_window.get(), [&](QDialog *dialog, const QString &sample) {
        if (asked || writtenOf(sample) < 20)
            return;
        asked = true;
        if (how == QLatin1String("button"))
            dialog->findChild<QPushButton *>()->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            m_window->close();
    });
    const Run r = run(path, QStringLiteral("OK"));

    QVERIFY(asked);
    QCOMPARE(r.unexpected, 0);
    const int written = filesIn(m_work->filePath(deviceFolder)).size();
    QVERIFY2(written >= 20 && written < 3000, qPrintable(QString::number(written)));
    QCOMPARE(r.box.title, QStringLiteral("警告"));
    QCOMPARE(r.box.text, QStringLiteral("已取消：共 3400 条记录，已生成 %1 条").arg(written));
    QCOMPARE(filesIn(m_work->filePath(boardFolder)), QStringList{"<no folder>"});
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(m_window->isVisible(), how != QLatin1String("window"));
}

// Saved by someone else during the run, the workbook keeps their version.
void TestBatchRun::changedDuringTheRun()
{
    const QString path = copyIn(QStringLiteral("long.xlsx"));
    const QByteArray theirs = fileBytes(fixture(QStringLiteral("worked.xlsx")));
    ProgressWatch watch(m_window.get(), [&](QDialog *, const QString &) {
        if (fileBytes(path) != theirs) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(theirs) == theirs.size());
        }
    });
    const Run r = run(path, QStringLiteral("OK"), 1);

    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.warnings[0].text,
             QStringLiteral("未能保存 %1：工作簿在生成期间被其他程序修改过，已保持原样，未保存（二维码图片已生成）")
                 .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(r.box.text, QStringLiteral("二维码信息生成失败"));
    QCOMPARE(fileBytes(path), theirs);
    QCOMPARE(filesIn(m_work->filePath(deviceFolder)).size(), 3000);
}

namespace {
// The most memory this process has used so far, in MiB.
int peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return int(line.mid(6).trimmed().split(' ').first().toLongLong() / 1024);
    return -1;
}
}

// A giant cell, a named pipe and links where images go:
// each record fails on its own or replaces the link, nothing is written
// through a link, nothing hangs and memory stays bounded.
void TestBatchRun::hostileRecords()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a named pipe and symbolic links");
#else
    const QString path = m_work->filePath(QStringLiteral("device_hostile.csv"));
    QByteArray csv = "Key,Name\nBIG,";
    csv += QByteArray(10 * 1024 * 1024, 'x');
    csv += "\nPIPE,pipe\nGOOD,fine\nLINK,link\nsub/DEEP,deep\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    }
    const QString devices = m_work->filePath(deviceFolder);
    QVERIFY(QDir().mkpath(devices));
    QCOMPARE(::mkfifo(QFile::encodeName(devices + "/PIPE.png").constData(), 0644), 0);
    // Someone who may write to the folder points an image's name at the
    // workbook, and a sub-folder at the workbook's folder.
    QVERIFY(QFile::link(QStringLiteral("../device_hostile.csv"), devices + "/LINK.png"));
    QVERIFY(QFile::link(m_work->path(), devices + "/sub"));

    const Run r = run(path, QStringLiteral("取消"), 1);
    QCOMPARE(r.unexpected, 0);
    QCOMPARE(r.warnings[0].text, QStringLiteral("共 5 条记录，其中 3 条未能生成二维码图片：\n"
                                                "工作表 device_hostile：\n"
                                                "  BIG.png：内容过长，超出二维码容量\n"
                                                "  PIPE.png：无法写入（不是普通文件）\n"
                                                "  sub/DEEP.png：路径经过符号链接，未写入"));
    QCOMPARE(payloadOf(devices + "/GOOD.png"), QStringLiteral("fine"));
    QCOMPARE(fileBytes(path), csv);
    QVERIFY(!QFileInfo(devices + "/LINK.png").isSymLink());
    QCOMPARE(payloadOf(devices + "/LINK.png"), QStringLiteral("link"));
    QVERIFY(!QFile::exists(m_work->filePath(QStringLiteral("DEEP.png"))));
    const int peak = peakMiB();
    QVERIFY2(peak > 0 && peak < 300, qPrintable(QString::number(peak)));
#endif
}

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"

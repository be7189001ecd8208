#include "ui/kestrova.h"

#include "../batch/fixtures.h"
#include "modaldriver.h"
#include "testhome.h"

#include <QDirIterator>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

struct Finished
{
    int status = -1;
    QString out;
    QString err;
};

// Every file under folder with its bytes, by path below it.
QMap<QString, QByteArray> tree(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), fileBytes(path));
    }
    return files;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void sameAsTheWindow();
    void outcomes_data();
    void outcomes();
    void interrupted();

private:
    // A copy of fixture name in a folder of its own, with a Chinese name.
    QString copyIn(const QString &name, const QString &folder);
    QProcess *start(const QStringList &arguments);
    Finished run(const QStringList &arguments);

    std::unique_ptr<QTemporaryDir> m_work;
};

void TestCommandLine::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
}

QString TestCommandLine::copyIn(const QString &name, const QString &folder)
{
    const QString dir = m_work->filePath(folder);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    QFile::copy(fixture(name), path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

QProcess *TestCommandLine::start(const QStringList &arguments)
{
    auto *process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Chinese paths and messages hold in the C locale too.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(KESTROVA_BATCH_BINARY), arguments);
    return process;
}

Finished TestCommandLine::run(const QStringList &arguments)
{
    std::unique_ptr<QProcess> process(start(arguments));
    Finished done;
    if (!process->waitForFinished(120000) || process->exitStatus() != QProcess::NormalExit)
        return done;
    done.status = process->exitCode();
    done.out = QString::fromUtf8(process->readAllStandardOutput());
    done.err = QString::fromUtf8(process->readAllStandardError());
    return done;
}

// The window's batch and the command line give the same images, byte for
// byte, and save the workbook back alike.
void TestCommandLine::sameAsTheWindow()
{
    TestHome home;
    const QString byWindow = copyIn(QStringLiteral("names.xlsx"), QStringLiteral("窗口"));
    const QString byCommand = copyIn(QStringLiteral("names.xlsx"), QStringLiteral("检验台账"));
    {
        Kestrova window;
        window.show();
        FileDialogSeen dialog;
        BoxSeen box;
        ModalDriver driver;
        driver.then(answerFileDialog(&dialog, byWindow)).then(answerBox(&box, QStringLiteral("取消")));
        window.findChild<QPushButton *>(QStringLiteral("excelBtn"))->click();
        QCOMPARE(box.text, QStringLiteral("二维码信息生成成功"));
        QCOMPARE(driver.unexpected(), 0);
    }
    const Finished done = run({byCommand});
    QCOMPARE(done.status, 0);
    QCOMPARE(done.err, QStringLiteral("二维码信息生成成功\n"));
    const QMap<QString, QByteArray> expected = tree(m_work->filePath(QStringLiteral("窗口")));
    QCOMPARE(expected.keys(), (QStringList{"names.xlsx", "板卡检验二维码/BS_plural.png", "板卡检验二维码/MB_suffix.png",
                                           "装置检验二维码/DB.png"}));
    QVERIFY(tree(m_work->filePath(QStringLiteral("检验台账"))) == expected);
}

void TestCommandLine::outcomes_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("errEnd"); // how standard error ends; %1 the workbook's path
    QTest::addColumn<bool>("untouched");

    const QString listed = QStringLiteral("device_board\t2\tDB\t%1/装置检验二维码/DB.png\n"
                                          "boards\t2\tBS_plural\t%1/板卡检验二维码/BS_plural.png\n"
                                          "myboard\t2\tMB_suffix\t%1/板卡检验二维码/MB_suffix.png\n");
    QTest::newRow("records without an image") << "worked.xlsx" << QStringList() << 1 << QString()
                                              << "  第 2 行：与第 4 行写入同一文件，图片被覆盖\n二维码信息生成成功\n" << false;
    QTest::newRow("--no-save") << "worked.xlsx" << QStringList{"--no-save"} << 1 << QString()
                               << "二维码信息生成成功\n" << true;
    QTest::newRow("--list") << "names.xlsx" << QStringList{"--list"} << 0 << listed << "二维码信息生成成功\n" << false;
    QTest::newRow("unreadable") << "truncated.xlsx" << QStringList() << 2 << QString()
                                << "无法读取 %1：文件已损坏（第 2000 字节处）\n二维码信息生成失败\n" << true;
    QTest::newRow("no workbook") << QString() << QStringList() << 64 << QString() << "64" << true;
    QTest::newRow("two workbooks") << "names.xlsx" << QStringList{"other.xlsx"} << 64 << QString() << "64" << true;
    QTest::newRow("unknown option") << "names.xlsx" << QStringList{"--fast"} << 64 << QString() << "64" << true;
}

void TestCommandLine::outcomes()
{
    QFETCH(QString, workbook);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, errEnd);
    QFETCH(bool, untouched);
    QString path;
    if (workbook == QLatin1String("truncated.xlsx")) {
        path = m_work->filePath(QStringLiteral("检验台账/") + workbook);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileBytes(fixture(QStringLiteral("worked.xlsx"))).left(2000));
    } else if (!workbook.isEmpty()) {
        path = copyIn(workbook, QStringLiteral("检验台账"));
    }
    const QByteArray before = fileBytes(path);
    QStringList arguments = options;
    if (!path.isEmpty())
        arguments.prepend(path);

    const Finished done = run(arguments);
    QCOMPARE(done.status, status);
    const QString folder = QFileInfo(path).path();
    QCOMPARE(done.out, QDir::toNativeSeparators(out.contains(QLatin1String("%1")) ? out.arg(folder) : out));
    if (status == 64)
        QVERIFY2(done.err.contains(QStringLiteral("用法：kestrova-batch")), qPrintable(done.err));
    else
        QVERIFY2(done.err.endsWith(errEnd.contains(QLatin1String("%1")) ? errEnd.arg(QDir::toNativeSeparators(path))
                                                                         : errEnd),
                 qPrintable(done.err));
    // Without a terminal there is no progress line.
    QVERIFY(!done.err.contains(QLatin1Char('\r')));
    if (!path.isEmpty())
        QCOMPARE(fileBytes(path) == before, untouched);
}

// Ctrl-C stops before the next image, keeps the images written, saves nothing
// back and says how far the run got.
void TestCommandLine::interrupted()
{
#ifndef Q_OS_UNIX
    QSKIP("sends SIGINT");
#else
    const QString path = m_work->filePath(QStringLiteral("检验台账/device_long.csv"));
    QDir().mkpath(QFileInfo(path).path());
    QByteArray csv = "Key,Name\n";
    for (int i = 0; i < 5000; ++i)
        csv += QStringLiteral("K%1,Relay panel %2\n").arg(i, 5, 10, QLatin1Char('0')).arg(i).toUtf8();
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size());
    }
    const QDir images(m_work->filePath(QStringLiteral("检验台账/装置检验二维码")));
    std::unique_ptr<QProcess> process(start({path}));
    QTRY_VERIFY_WITH_TIMEOUT(images.entryList(QDir::Files).size() >= 20, 60000);
    ::kill(pid_t(process->processId()), SIGINT);
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 130);
    const int written = images.entryList(QDir::Files).size();
    QVERIFY2(written >= 20 && written < 5000, qPrintable(QString::number(written)));
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()),
             QStringLiteral("已取消：共 5000 条记录，已生成 %1 条\n").arg(written));
    QCOMPARE(fileBytes(path), csv);
#endif
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"

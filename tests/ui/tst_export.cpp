#include "ui/kestrova.h"

#include "filesizelimit.h"
#include "modaldriver.h"
#include "qrdecode.h"
#include "testhome.h"
#include "urlcatcher.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

namespace {

void checkWarning(const BoxSeen &box, QWidget *window, const QString &text)
{
    QVERIFY(box.seen);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.parent, window);
    QCOMPARE(box.title, QStringLiteral("警告"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QByteArray fileHead(const QString &path, int bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelledDialog();
    void nothingRenderedYet();
    void copiesAnEarlierRunsFileRightAfterStart();
    void jpgAndPngTargets();
    void unknownSuffix();
    void fullDiskLeavesNoFile();
    void exportsTheLastGoodCode();

private:
    // Runs one export to target, answering the success box (if any) with answer.
    void exportTo(const QString &target, const QString &answer, BoxSeen *result, FileDialogSeen *dialog = nullptr);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<Kestrova> m_window;
    QString m_desktop;
};

void TestExport::init()
{
    m_home.reset(new TestHome);
    m_work.reset(new QTemporaryDir);
    m_desktop = m_home->desktop();
    QVERIFY(QFileInfo(m_desktop).isDir());
    QVERIFY(QDir::setCurrent(m_work->path()));
}

void TestExport::cleanup()
{
    m_window.reset();
    QDir::setCurrent(QDir::tempPath());
    m_work.reset();
    m_home.reset();
}

void TestExport::exportTo(const QString &target, const QString &answer, BoxSeen *result, FileDialogSeen *dialog)
{
    if (!m_window) {
        m_window.reset(new Kestrova);
        m_window->show();
    }
    FileDialogSeen seen;
    ModalDriver driver;
    driver.then(answerFileDialog(dialog ? dialog : &seen, target)).then(answerBox(result, answer));
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "savePngtoPath"));
    QCOMPARE(driver.unexpected(), 0);
}

void TestExport::cancelledDialog()
{
    BoxSeen box;
    FileDialogSeen dialog;
    exportTo(QString(), QStringLiteral("OK"), &box, &dialog);
    QVERIFY(dialog.seen);
    QVERIFY(dialog.save);
    QCOMPARE(dialog.parent, m_window.get());
    QCOMPARE(dialog.title, QStringLiteral("保存文件"));
    QCOMPARE(dialog.directory, m_desktop);
    QCOMPARE(dialog.selectedFiles, QStringList{m_desktop + QStringLiteral("/QRCode.png")});
    QCOMPARE(dialog.filters, (QStringList{"(*.png)", "(*.jpg)", "All Files (*)"}));
    QCOMPARE(dialog.selectedFilter, QStringLiteral("(*.png)"));
    checkWarning(box, m_window.get(), QStringLiteral("保存文件路径为空"));

    // An account without a desktop folder starts in the home folder.
    if (!TestHome::canMove())
        QSKIP("the account's own desktop folder is not the test's to remove");
    QVERIFY(QDir(m_desktop).removeRecursively());
    exportTo(QString(), QStringLiteral("OK"), &box, &dialog);
    QCOMPARE(dialog.directory, m_home->path());
    QCOMPARE(dialog.selectedFiles, QStringList{m_home->path() + QStringLiteral("/QRCode.png")});
}

void TestExport::nothingRenderedYet()
{
    const QString target = m_work->filePath(QStringLiteral("out.png"));
    BoxSeen box;
    exportTo(target, QStringLiteral("OK"), &box);
    checkWarning(box, m_window.get(), QStringLiteral("二维码图片生成失败"));
    QVERIFY(!QFile::exists(target));
}

void TestExport::copiesAnEarlierRunsFileRightAfterStart()
{
    QVERIFY(Kestrova().generateQrCodeImage(QStringLiteral("earlier run"), QStringLiteral("qrcode.png")));
    UrlCatcher catcher;
    const QString target = m_work->filePath(QStringLiteral("copy.png"));
    BoxSeen box;
    exportTo(target, QStringLiteral("取消"), &box);

    QVERIFY(box.seen);
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.parent, m_window.get());
    QCOMPARE(box.title, QStringLiteral("提示"));
    QCOMPARE(box.text, QStringLiteral("二维码图片另存成功"));
    QCOMPARE(box.buttons, (QStringList{"打开图片", "取消"}));
    QCOMPARE(box.defaultIndex, 0);
    QVERIFY(!box.hasEscape);

    bool ok = false;
    QCOMPARE(decodeQrFile(target, &ok), QByteArray("earlier run"));
    QVERIFY(ok);
    QVERIFY(catcher.urls.isEmpty());
}

void TestExport::jpgAndPngTargets()
{
    m_window.reset(new Kestrova);
    m_window->show();
    m_window->findChild<QTextEdit *>()->setPlainText(QStringLiteral("exported"));
    UrlCatcher catcher;

    const QString jpg = m_work->filePath(QStringLiteral("code.jpg"));
    BoxSeen box;
    bool escapeKeptItOpen = false;
    FileDialogSeen dialog;
    ModalDriver driver;
    driver.then(answerFileDialog(&dialog, jpg)).then([&](QWidget *w) {
        QTest::keyClick(w, Qt::Key_Escape);
        escapeKeptItOpen = w->isVisible();
        answerBox(&box, QStringLiteral("打开图片"))(w);
    });
    m_window->savePngtoPath();
    QVERIFY(escapeKeptItOpen);
    QCOMPARE(fileHead(jpg, 3), QByteArray("\xff\xd8\xff"));
    QImageReader jpeg(jpg);
    QCOMPARE(jpeg.format(), QByteArray("jpeg"));
    QCOMPARE(jpeg.size(), QSize(200, 200));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(jpg)});

    const QString png = m_work->filePath(QStringLiteral("code.png"));
    exportTo(png, QStringLiteral("打开图片"), &box);
    QCOMPARE(fileHead(png, 4), QByteArray("\x89PNG"));
    QCOMPARE(QImage(png).size(), QSize(200, 200));
    bool ok = false;
    QCOMPARE(decodeQrFile(png, &ok), QByteArray("exported"));
    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls.last(), QUrl::fromLocalFile(png));
}

void TestExport::unknownSuffix()
{
    QVERIFY(Kestrova().generateQrCodeImage(QStringLiteral("x"), QStringLiteral("qrcode.png")));
    const QString target = m_work->filePath(QStringLiteral("code.nosuchformat"));
    BoxSeen box;
    exportTo(target, QStringLiteral("OK"), &box);
    checkWarning(box, m_window.get(), QStringLiteral("二维码图片另存失败"));
    QVERIFY(!QFile::exists(target));
}

// A write that fails part way leaves no file behind, and says so.
void TestExport::fullDiskLeavesNoFile()
{
#ifndef Q_OS_UNIX
    QSKIP("needs RLIMIT_FSIZE");
#else
    QVERIFY(Kestrova().generateQrCodeImage(QString(900, QLatin1Char('k')), QStringLiteral("qrcode.png")));
    QVERIFY(QFileInfo(QStringLiteral("qrcode.png")).size() > 2048);
    QDir folder(m_work->filePath(QStringLiteral("out")));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    BoxSeen box;
    {
        FileSizeLimit full(1024);
        QVERIFY(full.active());
        exportTo(folder.filePath(QStringLiteral("code.png")), QStringLiteral("OK"), &box);
    }
    checkWarning(box, m_window.get(), QStringLiteral("二维码图片另存失败"));
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList());
#endif
}

void TestExport::exportsTheLastGoodCode()
{
    m_window.reset(new Kestrova);
    m_window->show();
    auto *edit = m_window->findChild<QTextEdit *>();
    edit->setPlainText(QStringLiteral("last good"));
    {
        BoxSeen failure;
        ModalDriver driver;
        driver.then(answerBox(&failure, QStringLiteral("OK")));
        edit->clear();
        QVERIFY(failure.seen);
    }
    const QString target = m_work->filePath(QStringLiteral("stale.png"));
    BoxSeen box;
    exportTo(target, QStringLiteral("取消"), &box);
    bool ok = false;
    QCOMPARE(decodeQrFile(target, &ok), QByteArray("last good"));
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"

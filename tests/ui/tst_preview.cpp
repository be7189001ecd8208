#include "ui/kestrova.h"

#include "logcapture.h"
#include "modaldriver.h"
#include "qrdecode.h"
#include "unprivileged.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

namespace {

QImage shownImage(Kestrova &window)
{
    return window.findChild<QLabel *>(QStringLiteral("image"))->pixmap(Qt::ReturnByValue).toImage();
}

QByteArray previewPayload()
{
    bool ok = false;
    const QByteArray payload = decodeQrFile(QStringLiteral("qrcode.png"), &ok);
    return ok ? payload : QByteArray("<no code>");
}

void checkFailureBox(const BoxSeen &box, Kestrova *window)
{
    QVERIFY(box.seen);
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.parent, window);
    QCOMPARE(box.title, QStringLiteral("提示"));
    QCOMPARE(box.text, QStringLiteral("Failed to generate QR code."));
    QCOMPARE(box.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void typingRendersEachChange();
    void deletingTheLastCharacterKeepsTheOldCode();
    void tooLongTextComplainsOnEveryChange();
    void unwritableDirectory();
    void nothingShownAtStart();
    void showLogicImageReadsByContent();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Kestrova> m_window;
    QTextEdit *m_edit = nullptr;
    void makeWindow();
};

void TestPreview::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestPreview::cleanup()
{
    m_window.reset();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestPreview::makeWindow()
{
    m_window.reset(new Kestrova);
    m_window->show();
    m_edit = m_window->findChild<QTextEdit *>(QStringLiteral("textEdit"));
}

void TestPreview::typingRendersEachChange()
{
    makeWindow();
    QTest::keyClicks(m_edit, QStringLiteral("a"));
    QCOMPARE(previewPayload(), QByteArray("a"));
    QTest::keyClicks(m_edit, QStringLiteral("bC"));
    QCOMPARE(previewPayload(), QByteArray("abC"));
    m_edit->setPlainText(QStringLiteral("装置检验"));
    QCOMPARE(QString::fromUtf8(previewPayload()), QStringLiteral("装置检验"));

    // The label shows the file as read back, stretched over its whole area.
    auto *label = m_window->findChild<QLabel *>(QStringLiteral("image"));
    QVERIFY(label->hasScaledContents());
    QCOMPARE(label->size(), QSize(450, 450));
    QCOMPARE(shownImage(*m_window), QImage(QStringLiteral("qrcode.png")).convertToFormat(shownImage(*m_window).format()));
}

void TestPreview::deletingTheLastCharacterKeepsTheOldCode()
{
    makeWindow();
    QTest::keyClicks(m_edit, QStringLiteral("ab"));
    QTest::keyClick(m_edit, Qt::Key_Backspace);
    QCOMPARE(previewPayload(), QByteArray("a"));
    const QImage shownBefore = shownImage(*m_window);

    LogCapture log;
    BoxSeen box;
    ModalDriver driver;
    driver.then(answerBox(&box, QStringLiteral("OK")));
    QTest::keyClick(m_edit, Qt::Key_Backspace);
    checkFailureBox(box, m_window.get());
    QCOMPARE(driver.unexpected(), 0);
    QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to generate QR code.")});
    QCOMPARE(previewPayload(), QByteArray("a"));
    QCOMPARE(shownImage(*m_window), shownBefore);
}

void TestPreview::tooLongTextComplainsOnEveryChange()
{
    makeWindow();
    m_edit->setPlainText(QStringLiteral("fits"));
    BoxSeen first, second;
    ModalDriver driver;
    driver.then(answerBox(&first, QStringLiteral("OK"))).then(answerBox(&second, QStringLiteral("OK")));
    m_edit->setPlainText(QString(2954, QLatin1Char('x')));
    QTest::keyClicks(m_edit, QStringLiteral("y"));
    checkFailureBox(first, m_window.get());
    checkFailureBox(second, m_window.get());
    QCOMPARE(driver.unexpected(), 0);
    QCOMPARE(previewPayload(), QByteArray("fits"));
}

void TestPreview::unwritableDirectory()
{
#ifdef Q_OS_WIN
    QSKIP("Windows folders have access lists, not the owner's permissions this test takes away "
          "(and Wine does not enforce access lists)");
#endif
    makeWorldAccessible(m_dir->path());
    const QString locked = m_dir->filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther));
    QVERIFY(QDir::setCurrent(locked));
    Unprivileged nobody;
    QVERIFY(nobody.active());
    makeWindow();

    LogCapture log;
    BoxSeen box;
    ModalDriver driver;
    driver.then(answerBox(&box, QStringLiteral("OK")));
    QTest::keyClicks(m_edit, QStringLiteral("a"));
    checkFailureBox(box, m_window.get());
    QCOMPARE(log.debugLines(), QStringList{QStringLiteral("Failed to save QR code image.")});
    QVERIFY(shownImage(*m_window).isNull());
    QVERIFY(!QFile::exists(QStringLiteral("qrcode.png")));
}

void TestPreview::nothingShownAtStart()
{
    QVERIFY(Kestrova().generateQrCodeImage(QStringLiteral("old run"), QStringLiteral("qrcode.png")));
    const QByteArray before = previewPayload();
    makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(shownImage(*m_window).isNull());
    QCOMPARE(previewPayload(), before);
}

void TestPreview::showLogicImageReadsByContent()
{
    makeWindow();
    QImage picture(30, 30, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(picture.save(QStringLiteral("disguised.jpg"), "PNG"));
    m_window->showLogicImage(QStringLiteral("disguised.jpg"));
    QCOMPARE(shownImage(*m_window).pixel(3, 3), QColor(Qt::blue).rgb());

    // A missing file or one that is no image changes nothing.
    QFile text(QStringLiteral("notes.png"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("just some words");
    text.close();
    const QImage before = shownImage(*m_window);
    m_window->showLogicImage(QStringLiteral("notes.png"));
    m_window->showLogicImage(QStringLiteral("missing.png"));
    QCOMPARE(shownImage(*m_window), before);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"

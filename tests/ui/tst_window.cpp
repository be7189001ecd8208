#include "ui/kestrova.h"

#include "modaldriver.h"

#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObject();
    void slotsByName();
    void casts();
    void eachSignalCallsItsMemberOnce();
    void closingEndsTheLoopWithZero();
    void destructionTakesTheFormAndConnections();

private:
    QTemporaryDir m_dir;
};

void TestWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("HOME", m_dir.path().toUtf8());
}

void TestWindow::metaObject()
{
    const QMetaObject &mo = Kestrova::staticMetaObject;
    QCOMPARE(mo.className(), "Kestrova");
    QCOMPARE(mo.superClass(), &QWidget::staticMetaObject);
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 4);
    QCOMPARE(mo.propertyCount(), mo.propertyOffset());
    QCOMPARE(mo.enumeratorCount(), mo.enumeratorOffset());
    QCOMPARE(mo.classInfoCount(), mo.classInfoOffset());
    QCOMPARE(mo.constructorCount(), 0);

    struct Expected { const char *signature; int returnType; QList<QByteArray> names; };
    const Expected slotList[] = {
        {"getTextStr()", QMetaType::QString, {}},
        {"createBtnClicked()", QMetaType::Void, {}},
        {"showLogicImage(QString)", QMetaType::Void, {"path"}},
        {"savePngtoPath()", QMetaType::Void, {}},
    };
    for (int i = 0; i < 4; ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        QCOMPARE(m.methodSignature(), QByteArray(slotList[i].signature));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Public);
        QCOMPARE(m.returnType(), slotList[i].returnType);
        QCOMPARE(m.parameterNames(), slotList[i].names);
        QCOMPARE(QByteArray(m.tag()), QByteArray());
    }
    QCOMPARE(mo.indexOfMethod("createFromExcel()"), -1);
}

void TestWindow::slotsByName()
{
    Kestrova window;
    auto *edit = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    edit->setHtml(QStringLiteral("<b>bold</b> and <i>plain</i>"));

    QString text;
    QVERIFY(QMetaObject::invokeMethod(&window, "getTextStr", Q_RETURN_ARG(QString, text)));
    QCOMPARE(text, QStringLiteral("bold and plain"));
    // Without a place for the result the call still succeeds and changes nothing.
    QVERIFY(QMetaObject::invokeMethod(&window, "getTextStr"));
    QCOMPARE(edit->toPlainText(), QStringLiteral("bold and plain"));

    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString file = m_dir.filePath(QStringLiteral("red.png"));
    QVERIFY(picture.save(file));
    QVERIFY(QMetaObject::invokeMethod(&window, "showLogicImage", Q_ARG(QString, file)));
    const QPixmap shown = window.findChild<QLabel *>(QStringLiteral("image"))->pixmap(Qt::ReturnByValue);
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.toImage().pixel(5, 5), QColor(Qt::red).rgb());
}

void TestWindow::casts()
{
    Kestrova window;
    QCOMPARE(window.qt_metacast("Kestrova"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QWidget"), static_cast<void *>(static_cast<QWidget *>(&window)));
    QCOMPARE(window.qt_metacast("QObject"), static_cast<void *>(static_cast<QObject *>(&window)));
    QCOMPARE(window.qt_metacast(nullptr), nullptr);
    QCOMPARE(window.qt_metacast("Other"), nullptr);
    QWidget *asWidget = &window;
    QCOMPARE(qobject_cast<Kestrova *>(asWidget), &window);
}

void TestWindow::eachSignalCallsItsMemberOnce()
{
    Kestrova window;
    window.show();
    // Each button opens its dialog once; cancelling it gives its one warning.
    for (const char *button : {"excelBtn", "pngBtn"}) {
        for (bool checked : {false, true}) {
            FileDialogSeen dialog;
            BoxSeen warning;
            ModalDriver driver;
            driver.then(answerFileDialog(&dialog, QString())).then(answerBox(&warning, QStringLiteral("OK")));
            auto *b = window.findChild<QPushButton *>(QString::fromLatin1(button));
            QVERIFY(QMetaObject::invokeMethod(b, "clicked", Q_ARG(bool, checked)));
            QVERIFY(dialog.seen);
            QVERIFY(warning.seen);
            QCOMPARE(warning.title, QStringLiteral("警告"));
            QCOMPARE(driver.unexpected(), 0);
        }
    }
    // Emptying the text box is a change too: one render, which fails with one box.
    auto *edit = window.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    edit->setPlainText(QStringLiteral("x"));
    QVERIFY(QFile::exists(QStringLiteral("qrcode.png")));
    BoxSeen box;
    ModalDriver driver;
    driver.then(answerBox(&box, QStringLiteral("OK")));
    edit->clear();
    QCOMPARE(box.text, QStringLiteral("Failed to generate QR code."));
    QCOMPARE(driver.unexpected(), 0);
}

void TestWindow::closingEndsTheLoopWithZero()
{
    QTemporaryDir scratch;
    QVERIFY(QDir::setCurrent(scratch.path()));
    {
        Kestrova window;
        window.show();
        QTimer::singleShot(0, &window, &QWidget::close);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(window.isHidden());
        QVERIFY(!window.testAttribute(Qt::WA_DeleteOnClose));
    }
    QCOMPARE(QDir().entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestWindow::destructionTakesTheFormAndConnections()
{
    auto *window = new Kestrova;
    QPointer<QWidget> edit = window->findChild<QTextEdit *>(QStringLiteral("textEdit"));
    QPointer<QWidget> button = window->findChild<QPushButton *>(QStringLiteral("pngBtn"));
    bool destroyedSeen = false;
    connect(window, &QObject::destroyed, [&] { destroyedSeen = true; });
    delete window;
    QVERIFY(edit.isNull());
    QVERIFY(button.isNull());
    // The destructor drops every connection from the window first.
    QVERIFY(!destroyedSeen);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

#include "ui/kestrova.h"
#include "ui/ui_kestrova.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

namespace {

const QColor navy(0x06, 0x0a, 0x21);

template<typename T>
T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

QStringList itemNames(QLayout *layout)
{
    QStringList names;
    auto *box = qobject_cast<QBoxLayout *>(layout);
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        names << (item->widget() ? item->widget()->objectName() : QStringLiteral("?"));
        if (!box || box->stretch(i) != 0 || item->alignment() != 0)
            names.last() += QStringLiteral("(stretch/alignment)");
    }
    return names;
}

QString layoutSummary(QLayout *layout)
{
    const QMargins m = layout->contentsMargins();
    return QStringLiteral("%1 on %2 spacing %3 margins %4,%5,%6,%7 items %8")
        .arg(QString::fromLatin1(layout->metaObject()->className()), layout->parentWidget()->objectName())
        .arg(layout->spacing())
        .arg(m.left())
        .arg(m.top())
        .arg(m.right())
        .arg(m.bottom())
        .arg(itemNames(layout).join(QLatin1Char(',')));
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree();
    void layouts();
    void sizesAndTexts();
    void styleSheet();
    void namedWindowKeepsItsName();
    void geometryHoldsOnResize();
    void messageBoxesTakeTheWindowLook();
};

void TestForm::widgetTree()
{
    Kestrova window;
    QCOMPARE(window.objectName(), QStringLiteral("Kestrova"));
    QVERIFY(window.isWindow());

    struct Expected { const char *name; const char *cls; const char *parent; };
    const Expected tree[] = {
        {"widget", "QWidget", "Kestrova"},     {"image", "QLabel", "widget"},
        {"widget_2", "QWidget", "Kestrova"},   {"textEdit", "QTextEdit", "widget_2"},
        {"widget_3", "QWidget", "widget_2"},   {"excelBtn", "QPushButton", "widget_3"},
        {"pngBtn", "QPushButton", "widget_3"},
    };
    for (const Expected &e : tree) {
        QWidget *w = child<QWidget>(window, e.name);
        QVERIFY2(w, e.name);
        QCOMPARE(w->metaObject()->className(), e.cls);
        QCOMPARE(w->parentWidget()->objectName(), QString::fromLatin1(e.parent));
        QVERIFY(!w->isWindow());
    }
    // Child order is creation order.
    QStringList top;
    for (QObject *o : window.children())
        top << o->objectName();
    QCOMPARE(top, (QStringList{"verticalLayout", "widget", "widget_2"}));
}

void TestForm::layouts()
{
    Kestrova window;
    QCOMPARE(layoutSummary(window.layout()),
             QStringLiteral("QVBoxLayout on Kestrova spacing 6 margins 11,11,11,11 items widget,widget_2"));
    QCOMPARE(window.layout()->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(layoutSummary(child<QWidget>(window, "widget")->layout()),
             QStringLiteral("QHBoxLayout on widget spacing 6 margins 11,11,11,11 items image"));
    QCOMPARE(child<QWidget>(window, "widget")->layout()->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(layoutSummary(child<QWidget>(window, "widget_2")->layout()),
             QStringLiteral("QHBoxLayout on widget_2 spacing 6 margins 11,11,11,11 items textEdit,widget_3"));
    QCOMPARE(child<QWidget>(window, "widget_2")->layout()->objectName(), QStringLiteral("horizontalLayout_2"));
    QCOMPARE(layoutSummary(child<QWidget>(window, "widget_3")->layout()),
             QStringLiteral("QVBoxLayout on widget_3 spacing 6 margins 0,0,0,0 items excelBtn,pngBtn"));
    QCOMPARE(child<QWidget>(window, "widget_3")->layout()->objectName(), QStringLiteral("verticalLayout_2"));
}

void TestForm::sizesAndTexts()
{
    // With a font whose texts fit in them, the form's own sizes hold.
    const QFont font = QApplication::font();
    QFont small = font;
    small.setPixelSize(8);
    QApplication::setFont(small);
    Kestrova window;
    QApplication::setFont(font);
    QCOMPARE(window.size(), QSize(486, 580));
    auto *image = child<QLabel>(window, "image");
    QCOMPARE(image->minimumSize(), QSize(450, 450));
    QCOMPARE(image->maximumSize(), QSize(450, 450));
    QVERIFY(image->text().isEmpty());
    QVERIFY(image->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(child<QWidget>(window, "widget_2")->maximumSize(), QSize(16777215, 80));
    QCOMPARE(child<QWidget>(window, "excelBtn")->minimumSize(), QSize(0, 30));
    QCOMPARE(child<QWidget>(window, "pngBtn")->minimumSize(), QSize(0, 20));
    QCOMPARE(window.windowTitle(), QStringLiteral("二维码生成工具"));
    QCOMPARE(child<QPushButton>(window, "excelBtn")->text(), QStringLiteral("从Excel文件\n生成"));
    QCOMPARE(child<QPushButton>(window, "pngBtn")->text(), QStringLiteral("导出PNG"));
    QVERIFY(child<QTextEdit>(window, "textEdit")->toPlainText().isEmpty());
    // Defaults stay: no size policy or placeholder set.
    QCOMPARE(image->sizePolicy(), QLabel().sizePolicy());
    QVERIFY(child<QTextEdit>(window, "textEdit")->placeholderText().isEmpty());
}

void TestForm::styleSheet()
{
    Kestrova window;
    const QString sheet = window.styleSheet();
    QCOMPARE(sheet.size(), 980);
    QCOMPARE(sheet.count(QLatin1Char('\n')), 13);
    QCOMPARE(sheet.count(QLatin1Char('\t')), 1);
    QVERIFY(!sheet.contains(QLatin1Char('\r')));
    const QStringList lines = sheet.split(QLatin1Char('\n'));
    const QStringList expected = {
        "QWidget#Kestrova{background-color:#060a21/*#FFE9F7F5*/;color:white}",
        "QLabel{background-color:transparent;color:white}",
        "QLineEdit{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}",
        "QCheckBox{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}",
        "QComboBox{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}",
        "QTextEdit{background-color:transparent;color:white;border-radius: 5px;border: 1px solid gray;}",
        "",
        "QPushButton{border: 1px solid #2193FF;border-radius:5px;background: transparent; color:white;}",
        "",
        "QMessageBox{background-color:#060a21;color:white;font-size:9px;}",
        "QMessageBox QLabel#qt_msgbox_label{color:white;font-size:9px;}",
        "QMessageBox QLabel#qt_msgboxex_icon_label{background-color:#060a21;color:white;font-size:9px;}",
        "QMessageBox QPushButton {border: 1px solid gray;border-radius: 8px;background-color: transparent;color: "
        "white;min-width: 60px;",
        "\tmin-height: 25px;font-size:9px;}",
    };
    QCOMPARE(lines, expected);
}

void TestForm::namedWindowKeepsItsName()
{
    QWidget named;
    named.setObjectName(QStringLiteral("Other"));
    Ui_Kestrova form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
    QCOMPARE(form.image->parentWidget(), form.widget);

    QWidget unnamed;
    Ui_Kestrova form2;
    form2.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QStringLiteral("Kestrova"));

    // Only the window named Kestrova gets the navy background.
    named.show();
    unnamed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&named));
    QVERIFY(QTest::qWaitForWindowExposed(&unnamed));
    QCOMPARE(QColor(unnamed.grab().toImage().pixel(2, 2)), navy);
    QVERIFY(QColor(named.grab().toImage().pixel(2, 2)) != navy);
}

void TestForm::geometryHoldsOnResize()
{
    Kestrova window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *image = child<QWidget>(window, "image");
    auto *lower = child<QWidget>(window, "widget_2");
    // The layouts widen the window to their minimum when it is shown.
    QCOMPARE(window.width(), 494);
    for (const QSize size : {QSize(1200, 1000), QSize(300, 300), QSize(700, 620)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        QCOMPARE(image->size(), QSize(450, 450));
        QVERIFY(lower->height() <= std::max(80, lower->maximumHeight()));
    }
    // Each button as tall as its text needs ("从Excel文件" over "生成"), with
    // whatever font there is; the lower band grows to hold them.
    auto *excel = child<QPushButton>(window, "excelBtn");
    auto *png = child<QPushButton>(window, "pngBtn");
    QVERIFY2(excel->height() >= std::max(30, excel->sizeHint().height()), qPrintable(QString::number(excel->height())));
    QVERIFY(excel->height() >= 2 * excel->fontMetrics().lineSpacing());
    QVERIFY(png->height() >= std::max(20, png->sizeHint().height()));
    QCOMPARE(png->y() - (excel->y() + excel->height()), 6);
    QCOMPARE(excel->x(), 0);
    QVERIFY(child<QWidget>(window, "widget_3")->x() > child<QWidget>(window, "textEdit")->x());
}

void TestForm::messageBoxesTakeTheWindowLook()
{
    Kestrova window;
    window.show();
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("text"), QMessageBox::Ok, &window);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage look = box.grab().toImage();
    QCOMPARE(QColor(look.pixel(1, 1)), navy);
    QAbstractButton *ok = box.button(QMessageBox::Ok);
    QVERIFY(ok->width() >= 60);
    QVERIFY(ok->height() >= 25);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"

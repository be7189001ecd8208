#include "ui/kestrova.h"
#include "ui/stylesheet.h"

#include "modaldriver.h"
#include "testhome.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include <cmath>

namespace {

// Relative luminance and contrast ratio as the WCAG define them.
double luminance(const QColor &c)
{
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The pixels of w as its window shows them.
QImage shotOf(QWidget *w, const QImage &windowShot)
{
    return windowShot.copy(QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()));
}

template<typename F>
void forEachPixel(const QImage &shot, F f)
{
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            f(QColor(shot.pixel(x, y)));
}

// What is painted behind the text: the most frequent colour.
QColor backgroundOf(const QImage &shot)
{
    QHash<QRgb, int> count;
    forEachPixel(shot, [&](const QColor &p) { ++count[p.rgb()]; });
    QRgb best = 0;
    int most = -1;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > most)
            best = it.key(), most = it.value();
    return QColor(best);
}

// How far the pixel that stands out most stands out.
double strongestContrast(const QImage &shot, const QColor &background)
{
    double best = 1;
    forEachPixel(shot, [&](const QColor &p) { best = std::max(best, contrast(p, background)); });
    return best;
}

bool drawsColour(const QImage &shot, const QColor &c)
{
    bool found = false;
    forEachPixel(shot, [&](const QColor &p) {
        found |= std::abs(p.red() - c.red()) + std::abs(p.green() - c.green()) + std::abs(p.blue() - c.blue()) <= 60;
    });
    return found;
}

bool greenish(const QImage &shot)
{
    bool found = false;
    forEachPixel(shot, [&](const QColor &p) { found |= p.green() - std::max(p.red(), p.blue()) > 60; });
    return found;
}

QString visibleText(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    return QString();
}

// Checks every visible label, button, line edit, combo box and item view of
// a dialog: its text colour, as the style resolves it into the palette,
// against what is painted behind it; icon-only buttons by their icon.
// Returns one line per element; failures are added to failed.
QStringList checkReadable(QWidget *dialog, QStringList *failed)
{
    dialog->ensurePolished();
    QCoreApplication::processEvents();
    const QImage windowShot = dialog->grab().toImage();
    QStringList lines;
    const QList<QWidget *> all = dialog->findChildren<QWidget *>();
    for (QWidget *w : all) {
        if (!w->isVisibleTo(dialog) || w->window() != dialog || w->width() < 4 || w->height() < 4)
            continue;
        const bool view = qobject_cast<QAbstractItemView *>(w);
        if (!view && !qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLineEdit *>(w)
            && !qobject_cast<QComboBox *>(w))
            continue;
        const QString text = visibleText(w);
        if (qobject_cast<QLabel *>(w) && text.isEmpty())
            continue; // icon labels
        const QImage shot = shotOf(view ? static_cast<QAbstractItemView *>(w)->viewport() : w, windowShot);
        const QColor back = backgroundOf(shot);
        const QString name = QStringLiteral("%1 %2 \"%3\"")
                                 .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                                      text.left(20));
        if (qobject_cast<QToolButton *>(w)) {
            if (!w->isEnabled())
                continue; // greyed out on purpose
            // Icons need 3:1 against their background; the frame and the
            // window behind the rounded corners do not count.
            const QImage inside = shot.copy(shot.rect().adjusted(4, 4, -4, -4));
            const double icon = strongestContrast(inside, backgroundOf(inside));
            lines << QStringLiteral("%1: icon on %2, %3:1").arg(name, back.name()).arg(icon, 0, 'f', 2);
            if (icon < 3.0)
                *failed << lines.last();
            continue;
        }
        const QPalette &palette = w->palette();
        const QColor fore = palette.color(w->foregroundRole());
        const double ratio = contrast(fore, back);
        lines << QStringLiteral("%1: %2 on %3, %4:1").arg(name, fore.name(), back.name()).arg(ratio, 0, 'f', 2);
        if (ratio < 4.5)
            *failed << lines.last();
        auto *edit = qobject_cast<QLineEdit *>(w);
        if (edit || (view && !qobject_cast<QHeaderView *>(w))) {
            const QColor marked = palette.color(QPalette::HighlightedText), mark = palette.color(QPalette::Highlight);
            const double selected = contrast(marked, mark);
            lines << QStringLiteral("%1 selected: %2 on %3, %4:1")
                         .arg(name, marked.name(), mark.name())
                         .arg(selected, 0, 'f', 2);
            if (selected < 4.5)
                *failed << lines.last();
        }
        // The resolved colour must be the one actually drawn; the rounded
        // corners show the dialog behind them.
        const QColor drawn = edit && edit->hasSelectedText() ? palette.color(QPalette::HighlightedText) : fore;
        if (!text.isEmpty() && !view && !drawsColour(shot.copy(shot.rect().adjusted(3, 3, -3, -3)), drawn))
            *failed << name + QStringLiteral(": text colour ") + drawn.name() + QStringLiteral(" not drawn");
        if (qobject_cast<QComboBox *>(w) && greenish(shot))
            *failed << name + QStringLiteral(": green border");
    }
    return lines;
}

// Whether every one of names was among the widgets looked at.
bool covers(const QStringList &lines, const QStringList &names)
{
    for (const QString &name : names)
        if (!lines.join(QLatin1Char('\n')).contains(name))
            return false;
    return true;
}

const QStringList dialogWidgets = {"lookInLabel", "fileNameLabel", "fileTypeLabel", "lookInCombo", "fileTypeCombo",
                                   "fileNameEdit", "sidebar", "treeView", "QHeaderView", "\"Cancel\""};

} // namespace

class TestDialogLook : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void saveDialogAndItsOverwriteQuestion();
    void openDialog();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<Kestrova> m_window;
    QString m_desktop;
};

void TestDialogLook::init()
{
    m_home.reset(new TestHome);
    m_desktop = m_home->desktop();
    QVERIFY(QDir::setCurrent(m_home->path()));
    m_window.reset(new Kestrova);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestDialogLook::cleanup()
{
    // The dialogs' look is their own: the window keeps its sheet.
    QCOMPARE(m_window->styleSheet(), QString::fromLatin1(kestrovaStyleSheet));
    QCOMPARE(m_window->styleSheet().size(), 980);
    m_window.reset();
    QDir::setCurrent(QDir::tempPath());
    m_home.reset();
}

void TestDialogLook::saveDialogAndItsOverwriteQuestion()
{
    m_window->findChild<QTextEdit *>()->setPlainText(QStringLiteral("look"));
    const QString existing = m_desktop + QStringLiteral("/QRCode.png");
    if (!TestHome::canMove() && QFileInfo::exists(existing))
        QSKIP("the account's desktop holds a QRCode.png that is not the test's to replace");
    {
        QFile old(existing);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    QStringList failed, dialogLines, questionLines;
    QWidget *dialog = nullptr;
    BoxSeen question, saved;
    ModalDriver driver;
    driver
        .then([&](QWidget *w) {
            dialog = w;
            dialogLines = checkReadable(w, &failed);
            // Accepted outside the driver's step, so that it can answer the question.
            QTimer::singleShot(0, w, [w, existing] { chooseFile(w, existing); });
        })
        .then([&](QWidget *w) {
            questionLines = checkReadable(w, &failed);
            answerBox(&question, QStringLiteral("Yes"))(w);
        })
        .then(answerBox(&saved, QStringLiteral("取消")));
    m_window->savePngtoPath();
    QCOMPARE(driver.unexpected(), 0);
    QVERIFY(driver.finished());
    qInfo().noquote() << "save dialog:\n  " + dialogLines.join(QStringLiteral("\n  "));
    qInfo().noquote() << "overwrite question:\n  " + questionLines.join(QStringLiteral("\n  "));
    QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QLatin1Char('\n'))));
    QVERIFY(covers(dialogLines, dialogWidgets + QStringList{"\"&Save\""}));
    QVERIFY(covers(questionLines, {"qt_msgbox_label", "\"&Yes\"", "\"&No\""}));

    // Still the dialog it was: it asked before replacing, from its own box.
    QVERIFY(question.seen);
    QCOMPARE(question.parent, dialog);
    QVERIFY(saved.seen);
    QCOMPARE(saved.text, QStringLiteral("二维码图片另存成功"));
    QCOMPARE(QImage(existing).size(), QSize(200, 200));
    if (!TestHome::canMove())
        QFile::remove(existing);
}

void TestDialogLook::openDialog()
{
    QStringList failed, lines;
    BoxSeen warning;
    ModalDriver driver;
    driver
        .then([&](QWidget *w) {
            lines = checkReadable(w, &failed);
            cancelDialog(w);
        })
        .then(answerBox(&warning, QStringLiteral("OK")));
    m_window->createFromExcel();
    QCOMPARE(driver.unexpected(), 0);
    qInfo().noquote() << "open dialog:\n  " + lines.join(QStringLiteral("\n  "));
    QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QLatin1Char('\n'))));
    QVERIFY(covers(lines, dialogWidgets + QStringList{"\"&Open\""}));
    QCOMPARE(warning.text, QStringLiteral("选择文件路径为空"));
}

QTEST_MAIN(TestDialogLook)
#include "tst_dialoglook.moc"

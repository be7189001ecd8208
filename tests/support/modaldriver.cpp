#include "modaldriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

namespace {
// The newest driver answers; older ones still alive stand aside.
ModalDriver *current = nullptr;

QString plain(QString text)
{
    return text.remove(QLatin1Char('&'));
}
}

ModalDriver::ModalDriver()
{
    current = this;
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start();
}

ModalDriver::~ModalDriver()
{
    if (current == this)
        current = nullptr;
}

ModalDriver &ModalDriver::then(Step step)
{
    m_steps.append(std::move(step));
    return *this;
}

void ModalDriver::poll()
{
    if (current != this)
        return;
    QWidget *window = QApplication::activeModalWidget();
    if (!window || !window->isVisible() || window == m_last)
        return;
    m_last = window;
    if (m_next < m_steps.size()) {
        m_steps[m_next++](window);
        return;
    }
    ++m_unexpected;
    if (auto *dialog = qobject_cast<QDialog *>(window))
        dialog->done(-1);
    else
        window->close();
}

BoxSeen describeBox(QWidget *window)
{
    BoxSeen seen;
    auto *box = qobject_cast<QMessageBox *>(window);
    if (!box)
        return seen;
    seen.seen = true;
    seen.icon = box->icon();
    seen.parent = box->parentWidget();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.plainText = box->textFormat() == Qt::PlainText;
    seen.details = box->detailedText();
    seen.standardButtons = box->standardButtons();
    const QList<QAbstractButton *> buttons = box->buttons();
    for (QAbstractButton *button : buttons) {
        seen.buttons << plain(button->text());
        if (button == box->defaultButton())
            seen.defaultIndex = seen.buttons.size() - 1;
    }
    seen.hasEscape = box->escapeButton() != nullptr;
    return seen;
}

bool clickButton(QWidget *window, const QString &text)
{
    auto *box = qobject_cast<QMessageBox *>(window);
    if (!box)
        return false;
    for (QAbstractButton *button : box->buttons()) {
        if (plain(button->text()) == text) {
            button->click();
            return true;
        }
    }
    return false;
}

FileDialogSeen describeFileDialog(QWidget *window)
{
    FileDialogSeen seen;
    auto *dialog = qobject_cast<QFileDialog *>(window);
    if (!dialog)
        return seen;
    seen.seen = true;
    seen.parent = dialog->parentWidget();
    seen.title = dialog->windowTitle();
    seen.directory = dialog->directory().absolutePath();
    seen.selectedFiles = dialog->selectedFiles();
    seen.filters = dialog->nameFilters();
    seen.selectedFilter = dialog->selectedNameFilter();
    seen.save = dialog->acceptMode() == QFileDialog::AcceptSave;
    return seen;
}

void chooseFile(QWidget *window, const QString &path)
{
    auto *dialog = qobject_cast<QFileDialog *>(window);
    if (!dialog)
        return;
    dialog->selectFile(path);
    // selectFile() leaves the name box alone while it has the keyboard (as it
    // can under Windows): then type the path there, as a user would.
    if (dialog->selectedFiles().isEmpty()) {
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
    }
    static_cast<QDialog *>(dialog)->accept();
}

void cancelDialog(QWidget *window)
{
    if (auto *dialog = qobject_cast<QDialog *>(window))
        dialog->reject();
}

ModalDriver::Step answerBox(BoxSeen *seen, const QString &button)
{
    return [seen, button](QWidget *window) {
        *seen = describeBox(window);
        if (clickButton(window, button))
            return;
        if (auto *dialog = qobject_cast<QDialog *>(window))
            dialog->done(-1);
    };
}

ModalDriver::Step answerFileDialog(FileDialogSeen *seen, const QString &path)
{
    return [seen, path](QWidget *window) {
        *seen = describeFileDialog(window);
        if (path.isEmpty())
            cancelDialog(window);
        else
            chooseFile(window, path);
    };
}

#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

class QFileDialog;

// Answers the modal windows that the code under test opens, one step per
// window in the order they appear. A window that finds no step left is
// closed with result -1 and counted as unexpected, so a test never hangs.
// Only the newest driver alive answers.
class ModalDriver : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    ModalDriver();
    ~ModalDriver() override;
    ModalDriver &then(Step step);

    int handled() const { return m_next; }
    int unexpected() const { return m_unexpected; }
    bool finished() const { return m_next == m_steps.size(); }

private:
    void poll();

    QTimer m_timer;
    QVector<Step> m_steps;
    int m_next = 0;
    int m_unexpected = 0;
    QPointer<QWidget> m_last;
};

// What a message box showed.
struct BoxSeen
{
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
    QString title;
    QString text;
    bool plainText = false;       // shown as it is, never as markup
    QString details;              // behind "Show Details..."
    QStringList buttons;          // texts, in order, mnemonics removed
    QMessageBox::StandardButtons standardButtons;
    int defaultIndex = -1;        // index into buttons, -1 for none
    bool hasEscape = false;
};
BoxSeen describeBox(QWidget *window);
// Clicks the button whose text (without mnemonic) is text; false if none.
bool clickButton(QWidget *window, const QString &text);

// What a file dialog showed.
struct FileDialogSeen
{
    bool seen = false;
    QWidget *parent = nullptr;
    QString title;
    QString directory;
    QStringList selectedFiles;
    QStringList filters;
    QString selectedFilter;
    bool save = false;
};
FileDialogSeen describeFileDialog(QWidget *window);
// Puts path into the dialog and accepts it.
void chooseFile(QWidget *window, const QString &path);
// Cancels the dialog.
void cancelDialog(QWidget *window);

// A step that records the box and then clicks a button.
ModalDriver::Step answerBox(BoxSeen *seen, const QString &button);
// A step that records the file dialog and then chooses path (cancels when empty).
ModalDriver::Step answerFileDialog(FileDialogSeen *seen, const QString &path);

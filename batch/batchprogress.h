#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

// Counts the records of a batch run over the whole workbook and, once the run
// has taken about half a second, shows the count in a dialog over the window
// with a "取消" button (Escape and the dialog's close button do the same).
// Closing the window during the run cancels it too; the window closes once
// the run has ended. While the dialog is up, input reaches only the dialog.
class BatchProgress : public QObject
{
public:
    explicit BatchProgress(QWidget *window);
    ~BatchProgress() override;

    void setTotal(int records) { m_total = records; }
    void startSheet(const QString &sheet) { m_sheet = sheet; }
    void recordDone();
    int done() const { return m_done; }

    bool cancelled() const { return m_cancelled; }
    // The window was asked to close during the run.
    bool closeRequested() const { return m_closeRequested; }
    // Closes the dialog; call before the run's last message.
    void finish();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void update();
    void show();

    QWidget *m_window;
    QElapsedTimer m_run;
    qint64 m_lastUpdate = 0;
    std::unique_ptr<QDialog> m_dialog;
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    QString m_sheet;
    int m_total = 0;
    int m_done = 0;
    bool m_cancelled = false;
    bool m_closeRequested = false;
    bool m_guarding = false;
};

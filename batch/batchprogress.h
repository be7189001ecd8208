#pragma once

#include <QElapsedTimer>
#include <QString>

#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

// Counts the records a batch run writes, sheet by sheet, and shows the count
// in a modal dialog over the window once the run has taken about half a
// second. Nothing can be cancelled; user input waits until the run ends.
class BatchProgress
{
public:
    explicit BatchProgress(QWidget *window);
    ~BatchProgress();
    BatchProgress(const BatchProgress &) = delete;
    BatchProgress &operator=(const BatchProgress &) = delete;

    void startSheet(const QString &sheet);
    void setRecords(int records);
    void recordWritten();
    // Closes the dialog; call before the run's final message.
    void finish();

private:
    void update();

    QWidget *m_window;
    QElapsedTimer m_run;
    qint64 m_lastUpdate = 0;
    std::unique_ptr<QDialog> m_dialog;
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    QString m_sheet;
    int m_records = 0;
    int m_written = 0;
};

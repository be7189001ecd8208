#pragma once

#include "batch/batchengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

// Follows a batch run for the window: once the run has taken about half a
// second, shows the count over the whole workbook in a dialog over the window
// with a "取消" button (Escape and the dialog's close button do the same).
// Closing the window during the run stops it too; the window closes once the
// run has ended. While the dialog is up, input reaches only the dialog. It
// lives as long as the run; the dialog goes with it.
class BatchProgress : public QObject, public BatchObserver
{
public:
    explicit BatchProgress(QWidget *window);
    ~BatchProgress() override;

    void started(int records) override { m_total = records; }
    void advanced(int done, const QString &sheet) override;
    bool stopRequested() override { return m_cancelled; }

    // The window was asked to close during the run.
    bool closeRequested() const { return m_closeRequested; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void show();

    QWidget *m_window;
    QElapsedTimer m_run;
    std::unique_ptr<QDialog> m_dialog;
    QLabel *m_label = nullptr;
    QProgressBar *m_bar = nullptr;
    int m_total = 0;
    bool m_cancelled = false;
    bool m_closeRequested = false;
    bool m_guarding = false;
};

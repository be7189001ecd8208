#include "batch/batchprogress.h"

#include "ui/stylesheet.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {
constexpr qint64 showAfterMs = 500;
constexpr qint64 updateEveryMs = 40;
}

BatchProgress::BatchProgress(QWidget *window)
    : m_window(window)
{
    m_run.start();
}

BatchProgress::~BatchProgress() = default;

void BatchProgress::startSheet(const QString &sheet)
{
    m_sheet = sheet;
    m_records = 0;
    m_written = 0;
}

void BatchProgress::setRecords(int records)
{
    m_records = records;
    update();
}

void BatchProgress::recordWritten()
{
    ++m_written;
    if (m_run.elapsed() - m_lastUpdate >= updateEveryMs || m_written == m_records)
        update();
}

void BatchProgress::update()
{
    const qint64 now = m_run.elapsed();
    if (now < showAfterMs)
        return;
    m_lastUpdate = now;
    if (!m_dialog) {
        m_dialog.reset(new QDialog(m_window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint));
        m_dialog->setObjectName(QStringLiteral("batchProgress"));
        m_dialog->setStyleSheet(QString::fromLatin1(progressStyleSheet));
        m_dialog->setWindowTitle(QStringLiteral("二维码生成中"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setMinimumWidth(320);
        auto *layout = new QVBoxLayout(m_dialog.get());
        m_label = new QLabel(m_dialog.get());
        m_bar = new QProgressBar(m_dialog.get());
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        m_dialog->show();
    }
    m_label->setText(QStringLiteral("%1\n%2 / %3").arg(m_sheet).arg(m_written).arg(m_records));
    m_bar->setRange(0, qMax(m_records, 1));
    m_bar->setValue(m_records ? m_written : 1);
    // Paint only: input for the window waits until the run has ended.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BatchProgress::finish()
{
    m_dialog.reset();
}

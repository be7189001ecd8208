#include "ui/batchprogress.h"

#include "ui/stylesheet.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr qint64 showAfterMs = 500;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

BatchProgress::BatchProgress(QWidget *window)
    : m_window(window)
{
    m_window->installEventFilter(this);
    m_run.start();
}

// The dialog closes with the run, before its first message.
BatchProgress::~BatchProgress()
{
    if (m_guarding)
        qApp->removeEventFilter(this);
    m_dialog.reset();
    m_window->removeEventFilter(this);
}

void BatchProgress::advanced(int done, const QString &sheet)
{
    if (m_run.elapsed() >= showAfterMs && !m_dialog && !m_cancelled)
        show();
    if (m_dialog) {
        m_label->setText(QStringLiteral("%1\n%2 / %3").arg(sheet).arg(done).arg(m_total));
        m_bar->setRange(0, qMax(m_total, 1));
        m_bar->setValue(m_total ? done : 1);
    }
    // Before the dialog is up, nothing the user does is handled yet; a
    // request to close the window is, and cancels the run.
    QCoreApplication::processEvents(m_guarding ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

void BatchProgress::show()
{
    m_dialog.reset(new QDialog(m_window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                             | Qt::WindowCloseButtonHint));
    m_dialog->setObjectName(QStringLiteral("batchProgress"));
    m_dialog->setStyleSheet(QString::fromLatin1(progressStyleSheet));
    m_dialog->setWindowTitle(QStringLiteral("二维码生成中"));
    m_dialog->setMinimumWidth(320);
    auto *layout = new QVBoxLayout(m_dialog.get());
    m_label = new QLabel(m_dialog.get());
    m_bar = new QProgressBar(m_dialog.get());
    auto *cancel = new QPushButton(QStringLiteral("取消"), m_dialog.get());
    cancel->setAutoDefault(false);
    layout->addWidget(m_label);
    layout->addWidget(m_bar);
    layout->addWidget(cancel, 0, Qt::AlignRight);
    // The button, Escape and the close button all reject the dialog.
    connect(cancel, &QPushButton::clicked, m_dialog.get(), &QDialog::reject);
    connect(m_dialog.get(), &QDialog::rejected, this, [this] { m_cancelled = true; });
    qApp->installEventFilter(this);
    m_guarding = true;
    m_dialog->show();
    // The keyboard goes to the dialog, so that Escape reaches it.
    m_dialog->raise();
    m_dialog->activateWindow();
}

bool BatchProgress::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        m_cancelled = m_closeRequested = true;
        event->ignore();
        return true;
    }
    // The window waits, as under a modal dialog, while its close button works;
    // Escape cancels wherever the keyboard is.
    if (m_guarding && isInput(event->type()) && watched->isWidgetType()) {
        const QWidget *widget = static_cast<QWidget *>(watched);
        if (widget->window() == m_dialog.get())
            return false;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            m_dialog->reject();
        return true;
    }
    return false;
}

#include "ui/filedialoglook.h"

#include "ui/stylesheet.h"

#include <QChildEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QPointer>

void FileDialogLook::watch(QWidget *window)
{
    // One filter serves every window; it lives as long as the application.
    static QPointer<FileDialogLook> look;
    if (!look)
        look = new FileDialogLook(QCoreApplication::instance());
    window->installEventFilter(look);
}

bool FileDialogLook::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ChildPolished) {
        // A sheet set on the dialog itself outranks the window's rules.
        auto *dialog = qobject_cast<QFileDialog *>(static_cast<QChildEvent *>(event)->child());
        if (dialog && dialog->styleSheet().isEmpty())
            dialog->setStyleSheet(QLatin1String(fileDialogStyleSheet));
    }
    return QObject::eventFilter(watched, event);
}

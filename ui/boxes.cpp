#include "ui/boxes.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

void showWarning(QWidget *parent, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void offerToOpen(QWidget *parent, const QString &text, const QString &action, const QString &path)
{
    const int answer =
        QMessageBox::information(parent, QStringLiteral("提示"), text, action, QStringLiteral("取消"), QString(), 0, -1);
    if (answer == 0)
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

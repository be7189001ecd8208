#include "ui/startfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString dialogStartFolder()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

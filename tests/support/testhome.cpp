#include "testhome.h"

#include <QDir>
#include <QStandardPaths>

TestHome::TestHome()
{
    qputenv("HOME", m_dir.path().toUtf8());
    m_desktop = canMove() ? m_dir.filePath(QStringLiteral("Desktop"))
                          : QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QDir().mkpath(m_desktop);
}

bool TestHome::canMove()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

#pragma once

#include <QFile>
#include <QString>

// A workbook of tests/batch/fixtures.
inline QString fixture(const QString &name)
{
    return QStringLiteral(KESTROVA_SOURCE_DIR "/tests/batch/fixtures/") + name;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

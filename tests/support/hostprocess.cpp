#include "hostprocess.h"

#ifdef Q_OS_WIN
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QThread>

namespace {
QString bridge()
{
    return QString::fromLocal8Bit(qgetenv("KESTROVA_HOST_BRIDGE"));
}
} // namespace

HostProcess::~HostProcess()
{
    if (!m_request.isEmpty() && !m_finished)
        QFile::remove(m_request + QStringLiteral(".json"));
}

bool HostProcess::available()
{
    return !bridge().isEmpty() && QDir(bridge()).exists();
}

void HostProcess::start(const QString &program, const QStringList &arguments)
{
    m_finished = false;
    m_request.clear();
    if (!available()) {
        m_err = "KESTROVA_HOST_BRIDGE names no folder: no runner to start " + program.toUtf8();
        return;
    }
    const QString name = QDir(bridge()).filePath(QString::number(QRandomGenerator::global()->generate64(), 16));
    QFile file(name + QStringLiteral(".part"));
    const QJsonObject request{{"program", program}, {"arguments", QJsonArray::fromStringList(arguments)}};
    // Renamed when complete, so that the runner never reads half a request.
    if (file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(request).toJson()) > 0 && file.flush()) {
        file.close();
        if (file.rename(name + QStringLiteral(".json")))
            m_request = name;
    }
    if (m_request.isEmpty())
        m_err = "could not write the request into " + bridge().toUtf8();
}

bool HostProcess::waitForFinished(int msecs)
{
    if (m_request.isEmpty())
        return false;
    if (m_finished)
        return true;
    const QDeadlineTimer deadline(msecs);
    QFile answer(m_request + QStringLiteral(".done"));
    while (!answer.exists()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    if (!answer.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject result = QJsonDocument::fromJson(answer.readAll()).object();
    answer.close();
    answer.remove();
    m_finished = true;
    m_crashed = result.value(QStringLiteral("crashed")).toBool(true);
    m_exitCode = result.value(QStringLiteral("code")).toInt(-1);
    m_out = QByteArray::fromBase64(result.value(QStringLiteral("out")).toString().toLatin1());
    m_err = QByteArray::fromBase64(result.value(QStringLiteral("err")).toString().toLatin1());
    return true;
}
#endif

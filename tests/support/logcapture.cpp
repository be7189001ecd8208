#include "logcapture.h"

namespace {
LogCapture *current = nullptr;
QStringList *currentLines = nullptr;
}

LogCapture::LogCapture()
{
    current = this;
    currentLines = &m_lines;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    current = nullptr;
    currentLines = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && currentLines)
        currentLines->append(message);
}

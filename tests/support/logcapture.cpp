#include "logcapture.h"

namespace {
LogCapture *current = nullptr;
}

LogCapture::LogCapture()
{
    current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    current = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!current)
        return;
    if (type == QtDebugMsg)
        current->m_lines.append(message);
    else if (type != QtInfoMsg)
        current->m_warnings.append(message);
}

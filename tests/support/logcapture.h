#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the debug-log lines written while it is alive.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList debugLines() const { return m_lines; }
    void clear() { m_lines.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QStringList m_lines;
    QtMessageHandler m_previous;
};

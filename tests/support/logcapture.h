#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the log lines written while it is alive: debug lines, and apart
// from them warnings and worse.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList debugLines() const { return m_lines; }
    QStringList warningLines() const { return m_warnings; }
    void clear()
    {
        m_lines.clear();
        m_warnings.clear();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QStringList m_lines;
    QStringList m_warnings;
    QtMessageHandler m_previous;
};

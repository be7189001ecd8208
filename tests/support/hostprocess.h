#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

// Runs a program of the machine that runs the tests (zbarimg, python3). Under
// Wine, QProcess starts a Linux program but never sees it finish, so there
// the request goes as a file into the folder KESTROVA_HOST_BRIDGE names,
// which the Wine test runner (tests/e2e/hostbridge.py) serves; Windows paths
// among the arguments reach the program as Linux paths, and its output
// names them as they were given. The calls are those of QProcess.
#ifdef Q_OS_WIN
class HostProcess
{
public:
    ~HostProcess();
    // Whether a runner serves requests.
    static bool available();

    void start(const QString &program, const QStringList &arguments);
    bool waitForFinished(int msecs = 30000);
    QProcess::ExitStatus exitStatus() const { return m_crashed ? QProcess::CrashExit : QProcess::NormalExit; }
    int exitCode() const { return m_exitCode; }
    QByteArray readAllStandardOutput() { return std::exchange(m_out, {}); }
    QByteArray readAllStandardError() { return std::exchange(m_err, {}); }

private:
    QString m_request;
    bool m_finished = false;
    bool m_crashed = true;
    int m_exitCode = -1;
    QByteArray m_out;
    QByteArray m_err;
};
#else
class HostProcess : public QProcess
{
public:
    static bool available() { return true; }
};
#endif

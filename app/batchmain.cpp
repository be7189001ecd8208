#include "cli/commandline.h"

#include <QCoreApplication>

#include <csignal>

namespace {

QtMessageHandler standardHandler = nullptr;

// The debug log (each device row's payload, each failed image) is for
// developers; people read the lines the run prints.
void quietDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && standardHandler)
        standardHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails and is reported, instead of the
    // signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    standardHandler = qInstallMessageHandler(quietDebug);
    return runCommandLine(QCoreApplication::arguments());
}

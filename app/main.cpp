#include "ui/kestrova.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails and is reported, instead of the
    // signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    Kestrova window;
    window.show();
    return app.exec();
}

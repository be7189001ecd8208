#include "ui/kestrova.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <csignal>

namespace {

// The whole window follows the display's scaling, 125 % and 150 % included:
// without this Qt 5 enlarges the text but not the window around it. Must run
// before the application object exists. QT_SCALE_FACTOR_ROUNDING_POLICY
// still overrides the rounding.
void followDisplayScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

// The icon rendered from app/kestrova.svg at build time, in every size.
QIcon programIcon()
{
    QIcon icon;
    for (const QFileInfo &file : QDir(QStringLiteral(":/icons")).entryInfoList(QDir::Files))
        icon.addFile(file.filePath());
    return icon;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGXFSZ
    // Past a file-size limit a write fails and is reported, instead of the
    // signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    followDisplayScaling();
    QApplication app(argc, argv);
    Kestrova window;
    window.setWindowIcon(programIcon());
    window.show();
    return app.exec();
}

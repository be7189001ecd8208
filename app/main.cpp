#include "ui/kestrova.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Kestrova window;
    window.show();
    return app.exec();
}

#include "app/frm_main.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    frmMain window;
    QObject::connect(&window, &frmMain::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    window.onWindowLoad();
    if (window.exitStatus() != 0)
        return window.exitStatus();
    return app.exec();
}

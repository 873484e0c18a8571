#include "app/frm_main.h"
#include "app/headless_diagnostics.h"
#include "app/unix_signals.h"

#include <QApplication>

#include <optional>

int main(int argc, char *argv[])
{
    installHeadlessDiagnosticsFilter(argc, argv);
    QApplication app(argc, argv);
    // The window is hidden most of the time; only shut-down ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    UnixSignalWatcher terminationSignals;
    frmMain window;
    std::optional<int> finishedWith;
    QObject::connect(&window, &frmMain::finished, &app, [&finishedWith](int exitStatus) {
        finishedWith = exitStatus;
        QCoreApplication::exit(exitStatus);
    });
    QObject::connect(&terminationSignals, &UnixSignalWatcher::terminationRequested, &window,
                     &frmMain::shutDown);

    window.onWindowLoad();
    // Shut-down may already have run during start-up (no listener, or a signal meanwhile).
    if (finishedWith)
        return *finishedWith;
    return app.exec();
}

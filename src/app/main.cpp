#include "app/headless_diagnostics.h"
#include "app/scrivora_app.h"
#include "hostlink/host_server.h"
#include "service/unix_signals.h"

#include <QApplication>

#include <optional>

int main(int argc, char *argv[])
{
    installHeadlessDiagnosticsFilter(argc, argv);
    QApplication app(argc, argv);
    // The window is hidden most of the time; only shut-down ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    raiseOpenFileLimit();

    UnixSignalWatcher terminationSignals;
    ScrivoraApp scrivora;
    std::optional<int> finishedWith;
    QObject::connect(&scrivora, &ScrivoraApp::finished, &app, [&finishedWith](int exitStatus) {
        finishedWith = exitStatus;
        QCoreApplication::exit(exitStatus);
    });
    QObject::connect(&terminationSignals, &UnixSignalWatcher::terminationRequested, &scrivora,
                     &ScrivoraApp::shutDown);

    scrivora.start();
    // Shut-down may already have run during start-up (no listener, or a signal meanwhile).
    if (finishedWith)
        return *finishedWith;
    return app.exec();
}

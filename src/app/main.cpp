#include "app/command_line.h"
#include "app/headless_diagnostics.h"
#include "app/scrivora_app.h"
#include "hostlink/host_server.h"
#include "service/unix_signals.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

/// A standard descriptor the program was started without is given /dev/null: otherwise the
/// number would go to the next socket or file opened, and status lines would land there.
void keepStandardDescriptorsTaken()
{
    for (;;) {
        const int descriptor = ::open("/dev/null", O_RDWR);
        if (descriptor < 0)
            return;
        if (descriptor > STDERR_FILENO) {
            ::close(descriptor);
            return;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    keepStandardDescriptorsTaken();
    // Standard error is a mirror for people: a reader that has gone (an ended pager or tee)
    // must not end the program that serves the till. Host sockets never raise it.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("Scrivora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SCRIVORA_VERSION));
    if (const std::optional<int> exitStatus = handleCommandLine(argc, argv))
        return *exitStatus;
    runOffscreenWithoutDisplay(argc, argv);
    installHeadlessDiagnosticsFilter(argc, argv);
    // Qt's own event dispatcher costs a host exchange less than GLib's main loop does, and
    // the program needs nothing of GLib's; an explicit choice in the environment still wins.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
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

    if (scrivora.start()) {
        // Standard error is the operator's view; the technician's ready line goes to output.
        std::fputs(qPrintable(scrivora.readyLine() + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }
    // Shut-down may already have run during start-up (no listener, or a signal meanwhile).
    if (finishedWith)
        return *finishedWith;
    return app.exec();
}

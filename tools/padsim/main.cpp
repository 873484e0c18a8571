// scrivora-padsim: a customer pad on a serial line, for running Scrivora without hardware.

#include "control_commands.h"
#include "pad/virtual_pad_model.h"
#include "pad_line.h"
#include "pad_link_server.h"
#include "service/unix_signals.h"
#include "ui/virtual_pad_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

#include <memory>

namespace {

void printLine(std::FILE *stream, const QString &line)
{
    std::fputs(line.toUtf8().append('\n').constData(), stream);
    std::fflush(stream);
}

/// Feeds standard input to the control commands line by line; at its end input stops
/// but the pad keeps serving the line.
void readCommands(QCoreApplication &app, ControlCommands &commands)
{
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, pending, &commands] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            notifier->setEnabled(false);
            return;
        }
        pending->append(buffer, count);
        for (qsizetype end; (end = pending->indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending->left(end)).remove(u'\r');
            pending->remove(0, end + 1);
            if (const std::optional<QString> error = commands.run(line))
                printLine(stderr, QStringLiteral("scrivora-padsim: ") + *error);
        }
    });
}

bool wantsHeadless(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--headless") == 0)
            return true;
    }
    // Without any display the window cannot open; the pad still works.
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char *argv[])
{
    const bool headless = wantsHeadless(argc, argv);
    std::unique_ptr<QCoreApplication> app = headless
                                                ? std::make_unique<QCoreApplication>(argc, argv)
                                                : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scrivora-padsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A customer pad on a serial line. Commands on standard input: swipe [TRACK1 [TRACK2]], "
        "pin BLOCK, sign [STROKES], unplug, replug, quit. Events on standard output."));
    parser.addHelpOption();
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"), QStringLiteral("Make a pseudo-terminal and a symlink <path> to it."),
        QStringLiteral("path"));
    const QCommandLineOption deviceOption(
        QStringLiteral("device"), QStringLiteral("Serve on the existing serial device <path>."),
        QStringLiteral("path"));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("Show no pad window."));
    parser.addOptions({ptyOption, deviceOption, headlessOption});
    parser.process(*app);
    if (parser.isSet(ptyOption) == parser.isSet(deviceOption)) {
        printLine(stderr,
                  QStringLiteral("scrivora-padsim: give either --pty PATH or --device PATH"));
        return 2;
    }

    QString error;
    const QString path = parser.value(parser.isSet(ptyOption) ? ptyOption : deviceOption);
    std::unique_ptr<PadLine> line;
    if (parser.isSet(ptyOption))
        line = PtyLine::create(path, error);
    else
        line = DeviceLine::create(path, error);
    if (!line) {
        printLine(stderr, QStringLiteral("scrivora-padsim: ") + error);
        return 1;
    }

    auto model = std::make_shared<VirtualPadModel>();
    PadLinkServer server(model);
    ControlCommands commands(model, server);
    QObject::connect(&server, &PadLinkServer::padEvent, app.get(),
                     [](const QString &event) { printLine(stdout, event); });
    server.serve(*line);
    // A line that failed (a device pulled out) can serve nobody any more.
    QObject::connect(line.get(), &PadLine::lost, app.get(), [](const QString &reason) {
        printLine(stderr, QStringLiteral("scrivora-padsim: ") + reason);
        QCoreApplication::exit(1);
    });
    QObject::connect(&commands, &ControlCommands::quitRequested, app.get(),
                     &QCoreApplication::quit);
    // SIGTERM and SIGINT end the event loop, so the symlink is removed on the way out.
    UnixSignalWatcher terminationSignals;
    QObject::connect(&terminationSignals, &UnixSignalWatcher::terminationRequested, app.get(),
                     &QCoreApplication::quit);
    readCommands(*app, commands);

    std::unique_ptr<VirtualPadWindow> window;
    if (!headless) {
        window = std::make_unique<VirtualPadWindow>(model);
        window->setWindowTitle(QStringLiteral("Scrivora pad on %1").arg(path));
        window->show();
    }
    printLine(stdout, QStringLiteral("ready ") + eventText(path));
    return app->exec();
}

#include "app/scrivora_app.h"
#include "hostlink/failure_path.h"
#include "hostlink/host_server.h"
#include "pad/virtual_pad_driver.h"
#include "pad/virtual_pad_model.h"
#include "service/capture_runner.h"
#include "service/operator_commands.h"
#include "service/operator_log.h"
#include "service/scrivora_service.h"
#include "ui/frm_main.h"

#include "counting_pause.h"
#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QAction>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

const QString DebugError = QStringLiteral("Error Reading Debug Mode from ini file");
const QString OpenError = QStringLiteral("Error Opening Signature Pad Comm Port.  Error (%1)");
const QString WelcomeError = QStringLiteral("Error Displaying padWelcome");

/// User and system CPU time of process @p pid so far, in clock ticks.
long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
}

/// The real program copied alone into a throw-away folder beside its settings file.
struct CopiedProgram
{
    explicit CopiedProgram(const QString &extraSettings = {})
        : dir(QStringLiteral("[Local]\nLocalPort=%1\n").arg(port) + extraSettings)
    {
        copied = QFile::copy(QCoreApplication::applicationDirPath() + "/scrivora", path);
    }

    quint16 port = freePort();
    TempAppDir dir;
    QString path = dir.filePath(QStringLiteral("scrivora"));
    bool copied = false;
};

/// A request that needs no pad, and its reply: a verified card without a job.
const QByteArray NoJobRequest = "TRANS=CC;VERIF=GOOD;";
const QByteArray NoJobReply = "<ERROR>transID not set when getSignature</ERROR>";

/// Starts @p copy in @p process, running @p inChild in the child first; true once the
/// program's ready line has come.
bool startReady(QProcess &process, const CopiedProgram &copy,
                const std::function<void()> &inChild = {})
{
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(copy.path, {});
    return QTest::qWaitFor([&process] { return process.canReadLine(); }, 10000);
}

/// Starts @p copy in @p process with standard error on the pipe end @p writeEnd, which is
/// closed here once the child has it; true once the program's ready line has come.
bool startReadyWithStandardErrorOn(QProcess &process, const CopiedProgram &copy, int writeEnd)
{
    const bool ready = startReady(process, copy, [writeEnd] { ::dup2(writeEnd, STDERR_FILENO); });
    ::close(writeEnd);
    return ready;
}

/// True when a host connecting to @p port gets NoJobReply to NoJobRequest.
bool answersAHost(quint16 port)
{
    HostClient host;
    if (!host.connectTo(port))
        return false;
    host.send(NoJobRequest);
    return host.receive(NoJobReply.size(), 5000) == NoJobReply;
}

/// Sends SIGTERM; true when @p process then ends normally with exit status 0.
bool endsCleanlyOnSigterm(QProcess &process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

/// Appends what waits on the non-blocking descriptor @p descriptor to @p into.
void readWaiting(int descriptor, QByteArray &into)
{
    char buffer[65536];
    for (ssize_t count; (count = ::read(descriptor, buffer, sizeof buffer)) > 0;)
        into.append(buffer, count);
}

/// The program started in a throw-away folder with the settings file @p ini (none when
/// null), recorded dialogs and the virtual pad, which refuses every open with @p openRefusal.
struct App
{
    explicit App(const QString &ini = TempAppDir::debugIni(), qint16 openRefusal = 0)
    {
        if (!ini.isNull())
            dir.writeIni(ini);
        if (openRefusal != 0)
            pad->refuseOpen(openRefusal, true);
        AppSeams seams;
        seams.dialogs = &dialogs;
        seams.padDevice = std::make_unique<VirtualPadDriver>(pad);
        seams.appDir = dir.path();
        seams.pause = &pause;
        app = std::make_unique<ScrivoraApp>(std::move(seams));
        finished = std::make_unique<QSignalSpy>(app.get(), &ScrivoraApp::finished);
        started = app->start();
    }

    QStringList statusLines() const { return app->window()->statusLines(); }
    QAction *menuItem(const char *name) const
    {
        return app->window()->findChild<QAction *>(QString::fromLatin1(name));
    }
    ScrivoraService &service() const { return *app->service(); }

    TempAppDir dir;
    RecordingDialogs dialogs;
    CountingPause pause;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    std::unique_ptr<ScrivoraApp> app;
    std::unique_ptr<QSignalSpy> finished;
    bool started = false;
};

} // namespace

class TestScrivoraApp : public QObject
{
    Q_OBJECT

private slots:
    // Without settings the pad is still tried; with the port taken it is not.
    void refusedStart_data()
    {
        QTest::addColumn<QString>("ini"); // null: no settings file; %1: a port in use
        QTest::addColumn<int>("padOpens");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("no settings file")
            << QString() << 1
            << QStringList({DebugError, DebugError, OpenError.arg(-3), WelcomeError,
                            "Error Reading Socket Local Port from ini file",
                            "Cannot listen on port LocalPort: it is no port number (0 to 65535)"});
        QTest::newRow("port in use")
            << "[Local]\nLocalPort=%1\n"
            << 0
            << QStringList{"Cannot listen on port %1: the port is in use, "
                           "probably by a Scrivora that is already running, "
                           "or else by another program"};
    }

    void refusedStart()
    {
        QFETCH(QString, ini);
        QFETCH(int, padOpens);
        QFETCH(QStringList, messages);
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost));
        const QString taken = QString::number(other.serverPort());

        App app(ini.isNull() ? ini : ini.arg(taken), -3);

        QCOMPARE(app.dialogs.messages, messages.replaceInStrings(QStringLiteral("%1"), taken));
        QCOMPARE(app.pad->callCount(QStringLiteral("openPort")), padOpens);
        QVERIFY(!app.started && !app.app->window() && !app.app->padWindow());
        QCOMPARE(*app.finished, QList<QVariantList>{{1}});
    }

    void connectAndDisconnect_data()
    {
        QTest::addColumn<bool>("connect");    // else disconnect
        QTest::addColumn<QString>("failing"); // a pad call, or "refuse" for a refused open
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("forms"); // shown on the pad by the command

        QTest::newRow("connect") << true << "" << QStringList() << QStringList{"padWelcome"};
        QTest::newRow("refused") << true << "refuse" << QStringList{OpenError.arg(-7), WelcomeError}
                                 << QStringList();
        // An open that fails as a whole is reported like one refused with status 0.
        QTest::newRow("open fails")
            << true << "openPort" << QStringList{OpenError.arg(0), WelcomeError} << QStringList();
        QTest::newRow("disconnect") << false << "" << QStringList() << QStringList{"padDisconnect"};
        QTest::newRow("close fails")
            << false << "closePort" << QStringList{"Error Closing Signature Pad Comm Port."}
            << QStringList{"padDisconnect"};
    }

    void connectAndDisconnect()
    {
        QFETCH(bool, connect);
        QFETCH(QString, failing);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, forms);

        App app;
        if (connect)
            app.menuItem("mnuDisconnect")->trigger();
        if (failing == QLatin1String("refuse"))
            app.pad->refuseOpen(-7);
        else if (!failing.isEmpty())
            app.pad->failCalls(failing);
        const qsizetype formsBefore = app.pad->formHistory().size();

        app.menuItem(connect ? "mnuConnect" : "mnuDisconnect")->trigger();

        QCOMPARE(app.dialogs.messages, messages);
        QCOMPARE(app.pad->formHistory().mid(formsBefore), forms);
        QCOMPARE(app.pad->isPortOpen(), connect ? failing.isEmpty() : !failing.isEmpty());
        QCOMPARE(app.service().commands().isPadOpen(),
                 app.pad->isPortOpen()); // as the status bar shows
        QCOMPARE(app.menuItem("mnuConnect")->isEnabled(), !connect);
        QCOMPARE(app.menuItem("mnuDisconnect")->isEnabled(), connect);
    }

    void shutDown_data()
    {
        QTest::addColumn<QStringList>("routes"); // Exit and Disconnect are menu commands

        QTest::newRow("Exit first") << QStringList{"Exit", "close box", "shutDown"};
        QTest::newRow("close box first") << QStringList{"close box", "Exit", "shutDown"};
        QTest::newRow("port closed") << QStringList{"Disconnect", "shutDown", "shutDown"};
    }

    void shutDown()
    {
        QFETCH(QStringList, routes);

        App app;
        HostClient host;
        QVERIFY(host.connectTo(app.service().hostServer().serverPort()));
        QTRY_COMPARE(app.service().hostServer().socketCT(), qint16(1));

        // Whichever comes first shows padDisconnect and closes the port; nothing is done again.
        for (const QString &route : routes) {
            if (route == QLatin1String("close box"))
                app.app->window()->close();
            else if (route == QLatin1String("shutDown"))
                app.app->shutDown();
            else
                app.menuItem(route == QLatin1String("Exit") ? "mnuExit" : "mnuDisconnect")
                    ->trigger();
            QCOMPARE(app.pad->formHistory().count(QStringLiteral("padDisconnect")), 1);
            QCOMPARE(app.pad->callCount(QStringLiteral("closePort")), 1);
        }
        QCOMPARE(*app.finished, QList<QVariantList>{{0}});
        frmMain *window = app.app->window();
        QVERIFY(!window->trayIcon() && !window->isVisible() && app.dialogs.messages.isEmpty());
        QVERIFY(!app.service().hostServer().isListening());
        QTRY_COMPARE(host.socket().state(), QAbstractSocket::UnconnectedState);
        // A capture still waiting for the pad ends at its next pause.
        QVERIFY_THROWS_EXCEPTION(ShutDownInProgress, app.service().runner().pauseCycle());
    }

    void scriptLoad_data()
    {
        QTest::addColumn<QString>("choice"); // a file in the app folder; empty: cancelled
        QTest::addColumn<bool>("loaded");

        QTest::newRow("loads") << "boot.bin" << true;
        QTest::newRow("refused") << "missing.bin" << false;
        QTest::newRow("cancelled") << "" << false;
    }

    // Started on the port of its settings and out of debug mode, where nothing follows the
    // first status line but a refused script's status message.
    void scriptLoad()
    {
        QFETCH(QString, choice);
        QFETCH(bool, loaded);
        const quint16 port = freePort();
        App app(
            QStringLiteral("[local]\nlocalport=0%1\n[settings]\ndebugModeOnly=TRUE\n").arg(port));
        QVERIFY(app.started && app.finished->isEmpty() && HostClient().connectTo(port));
        const QString listening = "Listening to Port: " + QString::number(port);
        QVERIFY(QFile::copy(app.dir.iniPath(), app.dir.filePath(QStringLiteral("boot.bin"))));
        if (!choice.isEmpty())
            app.dialogs.nextFile = app.dir.filePath(choice);

        app.menuItem("mnuScriptLoad")->trigger();

        QCOMPARE(app.dialogs.fileDialogs, QStringList{"Open File|Script Bin Files(*.bin)"});
        QCOMPARE(app.pad->callCount(QStringLiteral("loadScript")), choice.isEmpty() ? 0 : 1);
        QCOMPARE(app.pad->scriptRuns(), loaded ? QStringList{"AUTORUN()"} : QStringList());
        const bool refused = !loaded && !choice.isEmpty();
        QCOMPARE(app.dialogs.messages,
                 refused ? QStringList{"Error Loading Script"} : QStringList());
        QCOMPARE(app.service().log().statusMsg(), listening);
        QCOMPARE(app.statusLines(),
                 QStringList{"form_debug: debugMode=[False] debugModeOnly=[True]"} +
                     (refused ? QStringList{listening} : QStringList()));
    }

    void stringTrim()
    {
        App app;
        const qsizetype before = app.statusLines().size();

        app.menuItem("mnuStringTrim")->trigger();

        QCOMPARE(app.statusLines().mid(before),
                 QStringList({"string1 before: test \rstring1\x16", "string1 before: test string1",
                              "string2 before: test \rstring2", "string2 before: test string2"}));
    }

    // Out of descriptors, the program rests instead of spinning, and serves again once hosts
    // have gone.
    void descriptorLimit()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("The sanitizers' own runtime needs descriptors: it cannot run out of them.");
#endif
        const CopiedProgram copy;
        QVERIFY(copy.copied);
        QProcess process;
        // Soft and hard limit both: the program raises its soft limit to the hard one at start.
        process.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("ulimit -n 48 && exec \"$0\""), copy.path});
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);

        {
            QTcpSocket hosts[100]; // gone again at the end of this block
            for (QTcpSocket &host : hosts)
                host.connectToHost(QHostAddress::LocalHost, copy.port);
            QTest::qWait(300);
            const long before = cpuTicks(process.processId());
            QTest::qWait(1000);
            const long spent = cpuTicks(process.processId()) - before;
            QVERIFY2(before >= 0 && spent < 30, qPrintable(QString::number(spent)));
        }

        HostClient host;
        QVERIFY(host.connectTo(copy.port));
        QTRY_VERIFY_WITH_TIMEOUT(
            (host.send(NoJobRequest), host.receive(NoJobReply.size(), 500) == NoJobReply), 10000);
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    // A service manager or a terminal may signal again while the program is ending; the
    // shut-down it began still ends the program cleanly. A closed terminal (SIGHUP) ends it
    // the same way, so that nothing in flight is lost.
    void repeatedSignalsStillEndCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void repeatedSignalsStillEndCleanly()
    {
        QFETCH(int, signalNumber);
        const CopiedProgram copy;
        QVERIFY(copy.copied);
        QProcess process;
        QVERIFY(startReady(process, copy));
        const pid_t pid = pid_t(process.processId());
        for (int sent = 0; sent < 100000 && ::kill(pid, signalNumber) == 0; ++sent) {
            if (process.waitForFinished(0))
                break;
            ::usleep(100);
        }
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // Started without standard output and error, the program still answers hosts with their
    // replies alone: no status line may land on a connection.
    void startedWithoutStandardDescriptors()
    {
        const CopiedProgram copy(QStringLiteral("[settings]\ndebugMode=1\n"));
        QVERIFY(copy.copied);
        QProcess process;
        process.setChildProcessModifier([] {
            ::close(STDOUT_FILENO);
            ::close(STDERR_FILENO);
        });
        process.start(copy.path, {});
        HostClient host;
        QTRY_VERIFY_WITH_TIMEOUT(host.connectTo(copy.port), 10000);
        for (int request = 0; request < 3; ++request) {
            host.send(NoJobRequest);
            QCOMPARE(host.receive(NoJobReply.size() + 1, 300), NoJobReply);
        }
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    // Started by a service manager or over ssh, without a display and without a platform
    // named, the program serves offscreen instead of ending at Qt's start.
    void servesWithoutADisplay()
    {
        const CopiedProgram copy;
        QVERIFY(copy.copied);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QString::fromLatin1(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        QVERIFY(startReady(process, copy));
        QVERIFY(answersAHost(copy.port));
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    // Started with hang-ups ignored (nohup), the program keeps serving after one.
    void ignoredHangUpStaysIgnored()
    {
        const CopiedProgram copy;
        QVERIFY(copy.copied);
        QProcess process;
        QVERIFY(startReady(process, copy, [] { std::signal(SIGHUP, SIG_IGN); }));
        ::kill(pid_t(process.processId()), SIGHUP);
        QVERIFY(!process.waitForFinished(300));
        QVERIFY(answersAHost(copy.port));
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    // Standard error is only a mirror: when its reader goes away (a pipe into a pager or
    // tee that has ended), hosts are still served.
    void servesWithoutStandardErrorReader()
    {
        const CopiedProgram copy(QStringLiteral("[settings]\ndebugMode=1\n"));
        QVERIFY(copy.copied);
        int readerGone[2];
        QVERIFY(::pipe2(readerGone, O_CLOEXEC) == 0);
        ::close(readerGone[0]);
        QProcess process;
        QVERIFY(startReadyWithStandardErrorOn(process, copy, readerGone[1]));
        QVERIFY(answersAHost(copy.port));
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    // A reader of standard error that stops reading (a stopped pager, a stalled log
    // collector) holds nothing up: hosts are answered, and once it reads on it gets every
    // line whole and in order.
    void servesWhileStandardErrorIsNotRead()
    {
        const CopiedProgram copy(QStringLiteral("[settings]\ndebugMode=1\n"));
        QVERIFY(copy.copied);
        int unread[2];
        QVERIFY(::pipe2(unread, O_CLOEXEC) == 0);
        QProcess process;
        QVERIFY(startReadyWithStandardErrorOn(process, copy, unread[1]));

        // Each exchange logs over 8 KiB: together far beyond what the pipe holds.
        constexpr int Requests = 60;
        HostClient host;
        QVERIFY(host.connectTo(copy.port));
        for (int request = 0; request < Requests; ++request) {
            host.send("NAME=" + QByteArray(8000, 'N') + ";" + NoJobRequest);
            QCOMPARE(host.receive(NoJobReply.size(), 5000), NoJobReply);
        }

        QByteArray mirrored;
        ::fcntl(unread[0], F_SETFL, O_NONBLOCK);
        QTRY_VERIFY_WITH_TIMEOUT(
            (readWaiting(unread[0], mirrored), mirrored.count("Send xml<ERROR>") == Requests),
            10000);
        ::close(unread[0]);
        // After the start-up lines, every exchange's six lines, the same each time.
        const QByteArrayList lines = mirrored.split('\n');
        const auto received =
            std::find_if(lines.cbegin(), lines.cend(),
                         [](const QByteArray &line) { return line.startsWith("Received: "); });
        QVERIFY(received != lines.cend());
        const qsizetype first = received - lines.cbegin();
        const QByteArrayList exchange = lines.mid(first, 6);
        QCOMPARE(exchange.last(), NoJobReply);
        QCOMPARE(lines.size(), first + 6 * Requests + 1);
        for (qsizetype line = first; line < lines.size() - 1; ++line)
            QCOMPARE(lines[line], exchange[(line - first) % 6]);
        QVERIFY(endsCleanlyOnSigterm(process));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");   // the start of standard output
        QTest::addColumn<QString>("errors");   // the start of standard error
        QTest::addColumn<int>("signalNumber"); // ends the running instance

        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: scrivora [options]"
                              << "" << SIGTERM;
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Scrivora 0."
                                 << "" << SIGINT;
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                        << "scrivora: Unknown option 'frobnicate'." << SIGTERM;
        QTest::newRow("stray argument") << QStringList{"extra"} << 2 << ""
                                        << "scrivora: unexpected argument 'extra'" << SIGINT;
    }

    // Neither --help nor --version listens or opens a pad: they work beside a running instance,
    // whose ready line tells where it listens. That instance, started outside its folder with a
    // host connected, ends cleanly on a signal.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        QFETCH(int, signalNumber);

        const CopiedProgram copy(QStringLiteral("[settings]\ndebugMode=1\n"));
        QVERIFY(copy.copied);
        QProcess running;
        running.setWorkingDirectory(QDir::rootPath());
        running.start(copy.path, {});
        QTRY_VERIFY_WITH_TIMEOUT(running.canReadLine(), 10000);
        QCOMPARE(
            running.readLine(),
            QStringLiteral("Scrivora 0.1 listening on 127.0.0.1:%1, pad virtual, settings %2\n")
                .arg(copy.port)
                .arg(copy.dir.iniPath())
                .toUtf8());
        HostClient host;
        QVERIFY(host.connectTo(copy.port));
        // The host's 8-bit text reaches standard error byte for byte.
        host.send("NAME=Jos\xe9;");
        QByteArray operatorView;
        QTRY_VERIFY((operatorView += running.readAllStandardError())
                        .contains("Received: NAME=Jos\xe9; from 127.0.0.1("));

        QProcess process;
        process.start(copy.path, arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(process.readAllStandardOutput().startsWith(output.toUtf8()), qPrintable(output));
        QVERIFY2(process.readAllStandardError().startsWith(errors.toUtf8()), qPrintable(errors));

        ::kill(pid_t(running.processId()), signalNumber);
        QVERIFY(running.waitForFinished(10000));
        QCOMPARE(running.exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.exitCode(), 0);
        operatorView += running.readAllStandardError();
        // Without a screen, standard error carries the operator's view alone, from its first line.
        QVERIFY2(operatorView.startsWith("form_debug: debugMode=[True] debugModeOnly=[False]\n"),
                 operatorView.constData());
    }
};

QTEST_MAIN(TestScrivoraApp)
#include "test_scrivora_app.moc"

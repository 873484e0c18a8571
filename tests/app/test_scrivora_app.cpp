#include "app/scrivora_app.h"
#include "hostlink/failure_path.h"
#include "hostlink/host_server.h"
#include "pad/virtual_pad_driver.h"
#include "pad/virtual_pad_model.h"
#include "service/capture_runner.h"
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

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString DebugError = QStringLiteral("Error Reading Debug Mode from ini file");
const QString OpenError = QStringLiteral("Error Opening Signature Pad Comm Port.  Error (%1)");
const QString WelcomeError = QStringLiteral("Error Displaying padWelcome");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
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
    void startUpWithoutSettingsFile();
    void listensOnConfiguredPort();
    void portInUseOpensNoPad();
    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void shutDown_data();
    void shutDown();
    void scriptLoad_data();
    void scriptLoad();
    void stringTrim();
    void programEndsOnSignal_data();
    void programEndsOnSignal();
    void descriptorLimit();
    void commandLine_data();
    void commandLine();
};

void TestScrivoraApp::startUpWithoutSettingsFile()
{
    App app(QString(), -3);

    QCOMPARE(app.dialogs.messages,
             QStringList({DebugError, DebugError, OpenError.arg(-3), WelcomeError,
                          "Error Reading Socket Local Port from ini file",
                          "Cannot listen on port LocalPort: it is no port number (0 to 65535)"}));
    QVERIFY(!app.started && !app.app->window());
    QCOMPARE(*app.finished, QList<QVariantList>{{1}});
}

void TestScrivoraApp::listensOnConfiguredPort()
{
    const quint16 port = freePort();
    App app(QStringLiteral("[local]\nlocalport=0%1\n[settings]\ndebugModeOnly=TRUE\n").arg(port));

    // Out of debug mode nothing follows the first line.
    QCOMPARE(app.statusLines(), QStringList{"form_debug: debugMode=[False] debugModeOnly=[True]"});
    QVERIFY(app.dialogs.messages.isEmpty() && app.finished->isEmpty());
    QCOMPARE(app.service().log().statusMsg(), "Listening to Port: " + QString::number(port));
    QVERIFY(HostClient().connectTo(port));
}

void TestScrivoraApp::portInUseOpensNoPad()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    App app(QStringLiteral("[Local]\nLocalPort=%1\n").arg(other.serverPort()));
    QVERIFY(!app.started && !app.app->window() && !app.app->padWindow());
    QCOMPARE(app.pad->callCount(QStringLiteral("openPort")), 0);
    QCOMPARE(app.dialogs.messages.size(), 1);
    QVERIFY2(app.dialogs.messages.first().startsWith(
                 QStringLiteral("Cannot listen on port %1: the port is in use, probably by a "
                                "Scrivora that is already running")
                     .arg(other.serverPort())),
             qPrintable(app.dialogs.messages.first()));
    QCOMPARE(*app.finished, QList<QVariantList>{{1}});
}

void TestScrivoraApp::connectAndDisconnect_data()
{
    QTest::addColumn<bool>("connect");    // else disconnect
    QTest::addColumn<QString>("failing"); // a pad call, or "refuse" for a refused open
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("forms"); // shown on the pad by the command

    QTest::newRow("connect") << true << "" << QStringList() << QStringList{"padWelcome"};
    QTest::newRow("refused") << true << "refuse" << QStringList{OpenError.arg(-7), WelcomeError}
                             << QStringList();
    QTest::newRow("disconnect") << false << "" << QStringList() << QStringList{"padDisconnect"};
    QTest::newRow("close fails") << false << "closePort"
                                 << QStringList{"Error Closing Signature Pad Comm Port."}
                                 << QStringList{"padDisconnect"};
}

void TestScrivoraApp::connectAndDisconnect()
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
    QCOMPARE(app.menuItem("mnuConnect")->isEnabled(), !connect);
    QCOMPARE(app.menuItem("mnuDisconnect")->isEnabled(), connect);
}

void TestScrivoraApp::shutDown_data()
{
    QTest::addColumn<QStringList>("routes"); // Exit and Disconnect are menu commands

    QTest::newRow("Exit first") << QStringList{"Exit", "close box", "shutDown"};
    QTest::newRow("close box first") << QStringList{"close box", "Exit", "shutDown"};
    QTest::newRow("port closed") << QStringList{"Disconnect", "shutDown", "shutDown"};
}

void TestScrivoraApp::shutDown()
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
            app.menuItem(route == QLatin1String("Exit") ? "mnuExit" : "mnuDisconnect")->trigger();
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

void TestScrivoraApp::scriptLoad_data()
{
    QTest::addColumn<QString>("choice"); // a file in the app folder; empty: cancelled
    QTest::addColumn<bool>("loaded");

    QTest::newRow("loads") << "boot.bin" << true;
    QTest::newRow("refused") << "missing.bin" << false;
    QTest::newRow("cancelled") << "" << false;
}

void TestScrivoraApp::scriptLoad()
{
    QFETCH(QString, choice);
    QFETCH(bool, loaded);

    App app(QStringLiteral("[Local]\nLocalPort=0\n")); // out of debug mode
    QVERIFY(QFile::copy(app.dir.iniPath(), app.dir.filePath(QStringLiteral("boot.bin"))));
    if (!choice.isEmpty())
        app.dialogs.nextFile = app.dir.filePath(choice);
    const QStringList linesBefore = app.statusLines();

    app.menuItem("mnuScriptLoad")->trigger();

    QCOMPARE(app.dialogs.fileDialogs, QStringList{"Open File|Script Bin Files(*.bin)"});
    QCOMPARE(app.pad->callCount(QStringLiteral("loadScript")), choice.isEmpty() ? 0 : 1);
    QCOMPARE(app.pad->scriptRuns(), loaded ? QStringList{"AUTORUN()"} : QStringList());
    const bool refused = !loaded && !choice.isEmpty();
    QCOMPARE(app.dialogs.messages, refused ? QStringList{"Error Loading Script"} : QStringList());
    const QString statusMsg = app.service().log().statusMsg();
    QVERIFY(statusMsg.startsWith(QStringLiteral("Listening to Port: ")));
    QCOMPARE(app.statusLines(), linesBefore + (refused ? QStringList{statusMsg} : QStringList()));
}

void TestScrivoraApp::stringTrim()
{
    App app;
    const qsizetype before = app.statusLines().size();

    app.menuItem("mnuStringTrim")->trigger();

    QCOMPARE(app.statusLines().mid(before),
             QStringList({"string1 before: test \rstring1\x16", "string1 before: test string1",
                          "string2 before: test \rstring2", "string2 before: test string2"}));
}

void TestScrivoraApp::programEndsOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// The program copied alone into an empty folder beside its settings file, started elsewhere.
void TestScrivoraApp::programEndsOnSignal()
{
    QFETCH(int, signalNumber);

    const CopiedProgram copy(QStringLiteral("[settings]\ndebugMode=1\n"));
    QVERIFY(copy.copied);
    const quint16 port = copy.port;
    QProcess process;
    process.setWorkingDirectory(QDir::rootPath());
    process.start(copy.path, {});

    HostClient host;
    QTRY_VERIFY_WITH_TIMEOUT((host.socket().abort(), host.connectTo(port, 200)), 10000);
    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QByteArray errors = process.readAllStandardError();
    // Without a screen, standard error carries the operator's view alone, from its first line.
    QVERIFY2(errors.startsWith("form_debug: debugMode=[True] debugModeOnly=[False]\n"),
             errors.constData());
}

namespace {

/// User and system CPU time of process @p pid so far, in clock ticks.
long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
}

} // namespace

// Out of descriptors, the program rests instead of spinning, and serves again once hosts
// have gone.
void TestScrivoraApp::descriptorLimit()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The sanitizers' own runtime needs descriptors: it cannot run out of them.");
#endif
    const CopiedProgram copy;
    QVERIFY(copy.copied);
    const quint16 port = copy.port;
    const QString &program = copy.path;
    QProcess process;
    // Soft and hard limit both: the program raises its soft limit to the hard one at start.
    process.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("ulimit -n 48 && exec \"$0\""), program});
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);

    std::vector<int> hosts;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 100; ++i) {
        const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(descriptor, reinterpret_cast<const sockaddr *>(&server), sizeof server);
        hosts.push_back(descriptor);
    }
    QTest::qWait(300);
    const long before = cpuTicks(process.processId());
    QTest::qWait(1000);
    const long spent = cpuTicks(process.processId()) - before;
    QVERIFY2(before >= 0 && spent < 30, qPrintable(QString::number(spent)));
    for (const int descriptor : hosts)
        ::close(descriptor);

    HostClient host;
    QVERIFY(host.connectTo(port));
    const QByteArray reply = "<ERROR>transID not set when getSignature</ERROR>";
    QTRY_VERIFY_WITH_TIMEOUT(
        (host.send("TRANS=CC;VERIF=GOOD;"), host.receive(reply.size(), 500) == reply), 10000);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
}

void TestScrivoraApp::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // the start of standard output
    QTest::addColumn<QString>("errors"); // the start of standard error

    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: scrivora [options]"
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "Scrivora 0."
                             << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                    << "scrivora: Unknown option 'frobnicate'.";
    QTest::newRow("stray argument") << QStringList{"extra"} << 2 << ""
                                    << "scrivora: unexpected argument 'extra'";
}

// Neither --help nor --version listens or opens a pad: they work beside a running instance,
// whose ready line tells where it listens.
void TestScrivoraApp::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);

    const CopiedProgram copy;
    QVERIFY(copy.copied);
    const quint16 port = copy.port;
    const QString &program = copy.path;
    const TempAppDir &dir = copy.dir;
    QProcess running;
    running.start(program, {});
    QTRY_VERIFY_WITH_TIMEOUT(running.canReadLine(), 10000);
    QCOMPARE(running.readLine(),
             QStringLiteral("Scrivora 0.1 listening on 127.0.0.1:%1, pad virtual, settings %2\n")
                 .arg(port)
                 .arg(dir.iniPath())
                 .toUtf8());

    QProcess process;
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(process.readAllStandardOutput().startsWith(output.toUtf8()), qPrintable(output));
    QVERIFY2(process.readAllStandardError().startsWith(errors.toUtf8()), qPrintable(errors));
    ::kill(pid_t(running.processId()), SIGTERM);
    QVERIFY(running.waitForFinished(10000));
    QCOMPARE(running.exitCode(), 0);
}

QTEST_MAIN(TestScrivoraApp)
#include "test_scrivora_app.moc"

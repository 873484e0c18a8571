#include "app/frm_main.h"
#include "hostlink/host_listener.h"
#include "pad/virtual_pad_driver.h"
#include "pad/virtual_pad_model.h"

#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QAction>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <csignal>

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

/// A main window started in a throw-away folder with the settings file @p ini (none when
/// null), recorded dialogs and the virtual pad, which refuses every open with @p openRefusal.
struct App
{
    explicit App(const QString &ini = TempAppDir::debugIni(), qint16 openRefusal = 0)
    {
        if (!ini.isNull())
            dir.writeIni(ini);
        if (openRefusal != 0)
            pad->refuseOpen(openRefusal, true);
        frmMainSeams seams{&dialogs, std::make_unique<VirtualPadDriver>(pad), dir.path(), 1};
        window = std::make_unique<frmMain>(std::move(seams));
        finished = std::make_unique<QSignalSpy>(window.get(), &frmMain::finished);
        window->onWindowLoad();
    }

    QStringList statusLines() const
    {
        QStringList lines;
        for (int row = 0; row < window->listStatus->count(); ++row)
            lines << window->listStatus->item(row)->text();
        return lines;
    }

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    std::unique_ptr<frmMain> window;
    std::unique_ptr<QSignalSpy> finished;
};

} // namespace

class TstApp : public QObject
{
    Q_OBJECT

private slots:
    void startUpWithoutSettingsFile();
    void listensOnConfiguredPort();
    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void shutDown_data();
    void shutDown();
    void scriptLoad_data();
    void scriptLoad();
    void stringTrim();
    void programEndsOnSignal_data();
    void programEndsOnSignal();
};

void TstApp::startUpWithoutSettingsFile()
{
    App app(QString(), -3);

    QCOMPARE(app.dialogs.messages,
             QStringList({DebugError, DebugError, OpenError.arg(-3), WelcomeError,
                          "Error Reading Socket Local Port from ini file",
                          "Cannot listen on port LocalPort: it is no port number (0 to 65535)"}));
    QCOMPARE(app.statusLines(), QStringList{"form_debug: debugMode=[False] debugModeOnly=[False]"});
    QVERIFY(app.window->exitStatus() != 0);
    QCOMPARE(*app.finished, QList<QVariantList>{{app.window->exitStatus()}});
}

void TstApp::listensOnConfiguredPort()
{
    const quint16 port = freePort();
    App app(QStringLiteral("[local]\nlocalport=0%1\n[settings]\ndebugModeOnly=TRUE\n").arg(port));

    // Out of debug mode nothing follows the first line.
    QCOMPARE(app.statusLines(), QStringList{"form_debug: debugMode=[False] debugModeOnly=[True]"});
    QVERIFY(app.dialogs.messages.isEmpty() && app.finished->isEmpty());
    QCOMPARE(app.window->statusMsg, "Listening to Port: " + QString::number(port));
    QVERIFY(HostClient().connectTo(port));
}

void TstApp::connectAndDisconnect_data()
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

void TstApp::connectAndDisconnect()
{
    QFETCH(bool, connect);
    QFETCH(QString, failing);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, forms);

    App app;
    if (connect)
        app.window->onDisconnect();
    if (failing == QLatin1String("refuse"))
        app.pad->refuseOpen(-7);
    else if (!failing.isEmpty())
        app.pad->failCalls(failing);
    const qsizetype formsBefore = app.pad->formHistory().size();

    (connect ? app.window->mnuConnect : app.window->mnuDisconnect)->trigger();

    QCOMPARE(app.dialogs.messages, messages);
    QCOMPARE(app.pad->formHistory().mid(formsBefore), forms);
    QCOMPARE(app.pad->isPortOpen(), connect ? failing.isEmpty() : !failing.isEmpty());
    QCOMPARE(app.window->mnuConnect->isEnabled(), !connect);
    QCOMPARE(app.window->mnuDisconnect->isEnabled(), connect);
}

void TstApp::shutDown_data()
{
    QTest::addColumn<QStringList>("routes"); // Exit and Disconnect are menu commands

    QTest::newRow("Exit first") << QStringList{"Exit", "close box", "shutDown"};
    QTest::newRow("close box first") << QStringList{"close box", "Exit", "shutDown"};
    QTest::newRow("port closed") << QStringList{"Disconnect", "shutDown", "shutDown"};
}

void TstApp::shutDown()
{
    QFETCH(QStringList, routes);

    App app;
    HostClient host;
    QVERIFY(host.connectTo(app.window->listenSocket->serverPort()));
    QTRY_COMPARE(app.window->socketCT, qint16(1));

    // Whichever comes first shows padDisconnect and closes the port; nothing is done again.
    for (const QString &route : routes) {
        if (route == QLatin1String("close box"))
            app.window->close();
        else if (route == QLatin1String("shutDown"))
            app.window->shutDown();
        else
            (route == QLatin1String("Exit") ? app.window->mnuExit : app.window->mnuDisconnect)
                ->trigger();
        QCOMPARE(app.pad->formHistory().count(QStringLiteral("padDisconnect")), 1);
        QCOMPARE(app.pad->callCount(QStringLiteral("closePort")), 1);
    }
    QCOMPARE(*app.finished, QList<QVariantList>{{0}});
    QVERIFY(!app.window->trayIcon && !app.window->isVisible() && app.dialogs.messages.isEmpty());
    QVERIFY(!app.window->listenSocket->isListening());
    QTRY_COMPARE(host.socket().state(), QAbstractSocket::UnconnectedState);
    // A capture still waiting for the pad ends at its next pause.
    QVERIFY_THROWS_EXCEPTION(PadError, app.window->pollPause());
}

void TstApp::scriptLoad_data()
{
    QTest::addColumn<QString>("choice"); // a file in the app folder; empty: cancelled
    QTest::addColumn<bool>("loaded");

    QTest::newRow("loads") << "boot.bin" << true;
    QTest::newRow("refused") << "missing.bin" << false;
    QTest::newRow("cancelled") << "" << false;
}

void TstApp::scriptLoad()
{
    QFETCH(QString, choice);
    QFETCH(bool, loaded);

    App app(QStringLiteral("[Local]\nLocalPort=0\n")); // out of debug mode
    QVERIFY(QFile::copy(app.dir.iniPath(), app.dir.filePath(QStringLiteral("boot.bin"))));
    if (!choice.isEmpty())
        app.dialogs.nextFile = app.dir.filePath(choice);
    const QStringList linesBefore = app.statusLines();

    app.window->mnuScriptLoad->trigger();

    QCOMPARE(app.dialogs.fileDialogs, QStringList{"Open File|Script Bin Files(*.bin)"});
    QCOMPARE(app.pad->callCount(QStringLiteral("loadScript")), choice.isEmpty() ? 0 : 1);
    QCOMPARE(app.pad->scriptRuns(), loaded ? QStringList{"AUTORUN()"} : QStringList());
    const bool refused = !loaded && !choice.isEmpty();
    QCOMPARE(app.dialogs.messages, refused ? QStringList{"Error Loading Script"} : QStringList());
    QVERIFY(app.window->statusMsg.startsWith(QStringLiteral("Listening to Port: ")));
    QCOMPARE(app.statusLines(),
             linesBefore + (refused ? QStringList{app.window->statusMsg} : QStringList()));
}

void TstApp::stringTrim()
{
    App app;
    const qsizetype before = app.statusLines().size();

    app.window->mnuStringTrim->trigger();

    QCOMPARE(app.statusLines().mid(before),
             QStringList({"string1 before: test \rstring1\x16", "string1 before: test string1",
                          "string2 before: test \rstring2", "string2 before: test string2"}));
}

void TstApp::programEndsOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// The program copied alone into an empty folder beside its settings file, started elsewhere.
void TstApp::programEndsOnSignal()
{
    QFETCH(int, signalNumber);

    const quint16 port = freePort();
    TempAppDir dir(QStringLiteral("[Local]\nLocalPort=%1\n[settings]\ndebugMode=1\n").arg(port));
    const QString program = dir.filePath(QStringLiteral("scrivora"));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/scrivora", program));
    QProcess process;
    process.setWorkingDirectory(QDir::rootPath());
    process.start(program, {});

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

QTEST_MAIN(TstApp)
#include "tst_app.moc"

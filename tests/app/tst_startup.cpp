#include "app_harness.h"

#include "hostlink/host_listener.h"

#include "host_client.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>

namespace {

const QString DebugModeError = QStringLiteral("Error Reading Debug Mode from ini file");
const QString LocalPortError = QStringLiteral("Error Reading Socket Local Port from ini file");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void withoutSettingsFile();
    void debugSettings_data();
    void debugSettings();
    void listensOnConfiguredPort_data();
    void listensOnConfiguredPort();
    void unusablePortEndsStartUp_data();
    void unusablePortEndsStartUp();
    void windowAndIcon();
    void shutDownRunsOnce_data();
    void shutDownRunsOnce();
    void shutDownWithPortClosedOnlyQueriesThePad();
};

void TstStartup::withoutSettingsFile()
{
    AppHarness app(std::nullopt);
    app.pad->refuseOpen(-3, true);
    app.window->onWindowLoad();

    QCOMPARE(app.window->iniFile, app.dir.path() + QStringLiteral("/vantrel.ini"));
    const QStringList &messages = app.dialogs.messages;
    QVERIFY2(messages.size() >= 5, qPrintable(messages.join(QLatin1Char('|'))));
    QCOMPARE(messages.mid(0, 3),
             QStringList({DebugModeError, DebugModeError,
                          QStringLiteral("Error Opening Signature Pad Comm Port.  Error (-3)")}));
    // The pad may add its own form message; the port's message follows the pad's.
    const qsizetype portError = messages.indexOf(LocalPortError);
    QVERIFY(portError >= 3);
    QCOMPARE(portError, messages.size() - 2);
    QVERIFY2(messages.last().contains(QStringLiteral("LocalPort")), qPrintable(messages.last()));

    QCOMPARE(app.statusLines().value(0),
             QStringLiteral("form_debug: debugMode=[False] debugModeOnly=[False]"));
    QVERIFY(app.window->exitStatus() != 0);
    QCOMPARE(app.finished->size(), 1);
    QCOMPARE(app.finished->at(0).at(0).toInt(), app.window->exitStatus());
    QCOMPARE(app.window->localPort, QStringLiteral("LocalPort"));
    QCOMPARE(app.window->sigFileExt, QStringLiteral(".PCX"));
}

void TstStartup::debugSettings_data()
{
    QTest::addColumn<QString>("settings"); // the lines of section [settings]
    QTest::addColumn<bool>("debugMode");
    QTest::addColumn<bool>("debugModeOnly");
    QTest::addColumn<int>("debugModeErrors");

    QTest::newRow("debug on") << "[settings]\ndebugMode=1\ndebugModeOnly=0\n" << true << false << 0;
    QTest::newRow("no settings section") << "" << false << false << 0;
    QTest::newRow("both on by word and number") << "[settings]\ndebugMode=-1\ndebugModeOnly=TRUE\n"
                                                << true << true << 0;
    QTest::newRow("empty values") << "[settings]\ndebugMode=\ndebugModeOnly=\n"
                                  << false << false << 0;
    QTest::newRow("word that is no Boolean") << "[settings]\ndebugMode=yes\ndebugModeOnly=1\n"
                                             << false << true << 1;
    QTest::newRow("both unreadable") << "[settings]\ndebugMode=on\ndebugModeOnly=off\n"
                                     << false << false << 2;
}

void TstStartup::debugSettings()
{
    QFETCH(QString, settings);
    QFETCH(bool, debugMode);
    QFETCH(bool, debugModeOnly);
    QFETCH(int, debugModeErrors);

    AppHarness app(QStringLiteral("[Local]\nLocalPort=0\n") + settings);
    app.window->onWindowLoad();

    QCOMPARE(app.window->debugMode, debugMode);
    QCOMPARE(app.window->debugModeOnly, debugModeOnly);
    QCOMPARE(app.dialogs.messages, QStringList(debugModeErrors, DebugModeError));

    const auto word = [](bool value) { return value ? "True" : "False"; };
    const QString firstLine = QStringLiteral("form_debug: debugMode=[%1] debugModeOnly=[%2]")
                                  .arg(word(debugMode), word(debugModeOnly));
    QCOMPARE(app.statusLines().value(0), firstLine);
    // Out of debug mode nothing else may reach the status list during start-up.
    if (!debugMode)
        QCOMPARE(app.statusLines(), QStringList{firstLine});

    QCOMPARE(app.window->mnuPadForms->menuAction()->isVisible(), debugMode);
    for (QAction *item : app.window->mnuPadForms->actions())
        QCOMPARE(item->isVisible(), debugMode);
}

void TstStartup::listensOnConfiguredPort_data()
{
    QTest::addColumn<QString>("prefix");

    QTest::newRow("plain number") << "";
    QTest::newRow("leading zeros") << "000";
}

void TstStartup::listensOnConfiguredPort()
{
    QFETCH(QString, prefix);

    const quint16 port = freePort();
    QVERIFY(port != 0);
    AppHarness app(QStringLiteral("[local]\nlocalport=%1%2\n").arg(prefix).arg(port));
    app.window->onWindowLoad();

    QVERIFY(app.window->listenSocket && app.window->listenSocket->isListening());
    QCOMPARE(app.window->listenSocket->serverPort(), port);
    QCOMPARE(app.window->statusMsg, QStringLiteral("Listening to Port: %1").arg(port));
    QCOMPARE(app.window->exitStatus(), 0);
    QCOMPARE(app.finished->size(), 0);
    QVERIFY(app.dialogs.messages.isEmpty());

    HostClient host;
    QVERIFY(host.connectTo(port));
}

void TstStartup::unusablePortEndsStartUp_data()
{
    QTest::addColumn<QString>("localPort");

    QTest::newRow("no number") << "fivethousand";
    QTest::newRow("beyond the port range") << "70000";
    QTest::newRow("taken by another program") << "<taken>";
}

void TstStartup::unusablePortEndsStartUp()
{
    QFETCH(QString, localPort);

    QTcpServer other;
    if (localPort == QLatin1String("<taken>")) {
        QVERIFY(other.listen(QHostAddress::LocalHost, 0));
        localPort = QString::number(other.serverPort());
    }
    AppHarness app(QStringLiteral("[Local]\nLocalPort=%1\n").arg(localPort));
    app.window->onWindowLoad();

    QCOMPARE(app.dialogs.messages.size(), 1);
    QVERIFY2(app.dialogs.messages.first().contains(localPort),
             qPrintable(app.dialogs.messages.first()));
    QVERIFY(app.window->exitStatus() != 0);
    QCOMPARE(app.finished->size(), 1);
    QCOMPARE(app.finished->at(0).at(0).toInt(), app.window->exitStatus());
    // Shut-down ran in full: the pad was disconnected and no icon is left behind.
    QCOMPARE(app.formsShown(QStringLiteral("padDisconnect")), 1);
    QVERIFY(!app.window->trayIcon);
}

void TstStartup::windowAndIcon()
{
    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();

    QVERIFY(app.window->trayIcon);
    QCOMPARE(app.window->trayIcon->toolTip(), QStringLiteral("Vantrel Scrivora"));
    // The icon comes from the program's own resources and needs no image plugin.
    QVERIFY(!app.window->trayIcon->icon().pixmap(32, 32).isNull());
    QVERIFY(!app.window->windowIcon().pixmap(32, 32).isNull());
    // Hidden behind the icon when there is a notification area, else left in sight.
    QCOMPARE(app.window->isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());
    // Start-up connected the pad and left the menu as connected.
    QVERIFY(app.pad->isPortOpen());
    QCOMPARE(app.pad->currentForm(), QStringLiteral("padWelcome"));
    QVERIFY(!app.window->mnuConnect->isEnabled());
    QVERIFY(app.window->mnuDisconnect->isEnabled());
}

void TstStartup::shutDownRunsOnce_data()
{
    QTest::addColumn<QString>("route");

    QTest::newRow("Exit command") << "exit";
    QTest::newRow("close box") << "close";
    QTest::newRow("shutDown") << "shutDown";
}

void TstStartup::shutDownRunsOnce()
{
    QFETCH(QString, route);

    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    HostClient host;
    QVERIFY(host.connectTo(app.window->listenSocket->serverPort()));
    QTRY_COMPARE(app.window->socketCT, qint16(1));

    if (route == QLatin1String("exit"))
        app.window->mnuExit->trigger();
    else if (route == QLatin1String("close"))
        app.window->close();
    else
        app.window->shutDown();

    QCOMPARE(app.formsShown(QStringLiteral("padDisconnect")), 1);
    QCOMPARE(app.pad->callCount(QStringLiteral("closePort")), 1);
    QVERIFY(!app.pad->isPortOpen());
    QVERIFY(!app.window->trayIcon);
    QVERIFY(!app.window->isVisible());
    QVERIFY(!app.window->listenSocket->isListening());
    QVERIFY(app.window->mnuConnect->isEnabled());
    QVERIFY(!app.window->mnuDisconnect->isEnabled());
    QCOMPARE(app.finished->size(), 1);
    QCOMPARE(app.finished->at(0).at(0).toInt(), 0);
    QTRY_COMPARE(host.socket().state(), QAbstractSocket::UnconnectedState);
    QVERIFY(app.dialogs.messages.isEmpty());

    // Running it again (as the unload does) must not repeat anything.
    app.window->shutDown();
    QCOMPARE(app.formsShown(QStringLiteral("padDisconnect")), 1);
    QCOMPARE(app.finished->size(), 1);
    // A capture still waiting for the pad ends at its next pause.
    QVERIFY_THROWS_EXCEPTION(PadError, app.window->pollPause());
}

void TstStartup::shutDownWithPortClosedOnlyQueriesThePad()
{
    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    app.window->onDisconnect();
    const QStringList operations = {"openPort",   "closePort", "showForm", "runScript",
                                    "loadScript", "getVar",    "setVar",   "saveSignature"};
    QList<int> before;
    for (const QString &operation : operations)
        before << app.pad->callCount(operation);

    app.window->onExit();

    for (qsizetype i = 0; i < operations.size(); ++i)
        QCOMPARE(app.pad->callCount(operations[i]), before[i]);
    QVERIFY(app.pad->callCount(QStringLiteral("isPortOpen")) > 0);
    QVERIFY(app.dialogs.messages.isEmpty());
    QCOMPARE(app.finished->size(), 1);
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"

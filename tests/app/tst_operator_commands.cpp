#include "app_harness.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

class TstOperatorCommands : public QObject
{
    Q_OBJECT

private slots:
    void connectSetsMenuWhateverTheOpen_data();
    void connectSetsMenuWhateverTheOpen();
    void disconnect_data();
    void disconnect();
    void scriptLoad_data();
    void scriptLoad();
    void stringTrimLines();
    void padFormItems_data();
    void padFormItems();
    void trayAndWindowState_data();
    void trayAndWindowState();
};

void TstOperatorCommands::connectSetsMenuWhateverTheOpen_data()
{
    QTest::addColumn<QString>("failure"); // "", "refuse" or "whole call"
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("portOpen");

    const QString formError = QStringLiteral("Error Displaying padWelcome");
    QTest::newRow("open succeeds") << "" << QStringList() << true;
    QTest::newRow("open refused")
        << "refuse" << QStringList{"Error Opening Signature Pad Comm Port.  Error (-7)", formError}
        << false;
    QTest::newRow("open fails as a whole")
        << "whole call"
        << QStringList{"Error Opening Signature Pad Comm Port.  Error (0)", formError} << false;
}

void TstOperatorCommands::connectSetsMenuWhateverTheOpen()
{
    QFETCH(QString, failure);
    QFETCH(QStringList, messages);
    QFETCH(bool, portOpen);

    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    app.window->onDisconnect();
    const int closesBefore = app.pad->callCount(QStringLiteral("closePort"));
    const qsizetype linesBefore = app.statusLines().size();
    if (failure == QLatin1String("refuse"))
        app.pad->refuseOpen(-7);
    else if (failure == QLatin1String("whole call"))
        app.pad->failCalls(QStringLiteral("openPort"));

    app.window->mnuConnect->trigger();

    QCOMPARE(app.dialogs.messages, messages);
    QCOMPARE(app.pad->isPortOpen(), portOpen);
    QVERIFY(!app.window->mnuConnect->isEnabled());
    QVERIFY(app.window->mnuDisconnect->isEnabled());
    // A refused open is followed by a close; a good one is not.
    QCOMPARE(app.pad->callCount(QStringLiteral("closePort")) - closesBefore, portOpen ? 0 : 1);
    // Only a whole-call failure leaves its reason in the status list.
    const bool reasonLogged =
        app.statusLines().size() > linesBefore && !app.statusLines().at(linesBefore).isEmpty();
    QCOMPARE(reasonLogged, failure == QLatin1String("whole call"));
}

void TstOperatorCommands::disconnect_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("closeFails");
    QTest::addColumn<int>("disconnectForms");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("port open") << true << false << 1 << QStringList();
    QTest::newRow("port already closed") << false << false << 0 << QStringList();
    QTest::newRow("port stays open")
        << true << true << 1 << QStringList{"Error Closing Signature Pad Comm Port."};
}

void TstOperatorCommands::disconnect()
{
    QFETCH(bool, portOpen);
    QFETCH(bool, closeFails);
    QFETCH(int, disconnectForms);
    QFETCH(QStringList, messages);

    AppHarness app(TempAppDir::debugIni());
    if (!portOpen)
        app.pad->refuseOpen(-1);
    app.window->onWindowLoad();
    app.dialogs.messages.clear();
    if (closeFails)
        app.pad->failCalls(QStringLiteral("closePort"));

    app.window->mnuDisconnect->trigger();

    QCOMPARE(app.formsShown(QStringLiteral("padDisconnect")), disconnectForms);
    QCOMPARE(app.dialogs.messages, messages);
    QCOMPARE(app.pad->isPortOpen(), closeFails);
    QVERIFY(app.window->mnuConnect->isEnabled());
    QVERIFY(!app.window->mnuDisconnect->isEnabled());

    // Disconnect then Connect opens the port again.
    app.pad->clearFailures();
    app.window->mnuConnect->trigger();
    QVERIFY(app.pad->isPortOpen());
}

void TstOperatorCommands::scriptLoad_data()
{
    QTest::addColumn<QString>("choice"); // a file name in the app dir, or "" for cancel
    QTest::addColumn<bool>("loadFailsAsAWhole");
    QTest::addColumn<bool>("loaded");

    QTest::newRow("script loads") << "boot.bin" << false << true;
    QTest::newRow("pad refuses the file") << "missing.bin" << false << false;
    QTest::newRow("load fails as a whole") << "boot.bin" << true << false;
    QTest::newRow("dialog cancelled") << "" << false << false;
}

void TstOperatorCommands::scriptLoad()
{
    QFETCH(QString, choice);
    QFETCH(bool, loadFailsAsAWhole);
    QFETCH(bool, loaded);

    // Debug mode off: the failure line must appear all the same.
    AppHarness app(QStringLiteral("[Local]\nLocalPort=0\n"));
    app.window->onWindowLoad();
    QFile script(app.dir.filePath(QStringLiteral("boot.bin")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("\x01\x02script");
    script.close();
    if (!choice.isEmpty())
        app.dialogs.nextFile = app.dir.filePath(choice);
    if (loadFailsAsAWhole)
        app.pad->failCalls(QStringLiteral("loadScript"));
    const QStringList linesBefore = app.statusLines();

    app.window->mnuScriptLoad->trigger();

    QCOMPARE(app.dialogs.fileDialogs,
             QStringList{QStringLiteral("Open File|Script Bin Files(*.bin)")});
    const bool cancelled = choice.isEmpty();
    QCOMPARE(app.pad->callCount(QStringLiteral("loadScript")), cancelled ? 0 : 1);
    QCOMPARE(app.pad->scriptRuns(),
             loaded ? QStringList{QStringLiteral("AUTORUN()")} : QStringList());
    if (loaded || cancelled) {
        QVERIFY(app.dialogs.messages.isEmpty());
        QCOMPARE(app.statusLines(), linesBefore);
    } else {
        QCOMPARE(app.dialogs.messages, QStringList{QStringLiteral("Error Loading Script")});
        QCOMPARE(app.statusLines(), linesBefore + QStringList{app.window->statusMsg});
        QVERIFY(app.window->statusMsg.startsWith(QStringLiteral("Listening to Port: ")));
    }
}

void TstOperatorCommands::stringTrimLines()
{
    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    const qsizetype before = app.statusLines().size();

    app.window->mnuStringTrim->trigger();

    const QString cr(QChar(13));
    QCOMPARE(app.statusLines().mid(before),
             QStringList({"string1 before: test " + cr + "string1" + QChar(22),
                          "string1 before: test string1", "string2 before: test " + cr + "string2",
                          "string2 before: test string2"}));
}

void TstOperatorCommands::padFormItems_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("form");

    QTest::newRow("Welcome") << "Welcome"
                             << "padWelcome";
    QTest::newRow("Signature") << "Signature"
                               << "padSig";
    QTest::newRow("Wait") << "Wait"
                          << "padWait";
    QTest::newRow("Thanks") << "Thanks"
                            << "padThanks";
    QTest::newRow("Disconnect") << "Disconnect"
                                << "padDisconnect";
    QTest::newRow("Account") << "Account"
                             << "padEmptyAccount";
    QTest::newRow("Card Swipe") << "Card Swipe"
                                << "padStart";
    QTest::newRow("Pin Pad") << "Pin Pad"
                             << "padPin";
}

void TstOperatorCommands::padFormItems()
{
    QFETCH(QString, item);
    QFETCH(QString, form);

    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    QAction *action = nullptr;
    for (QAction *candidate : app.window->mnuPadForms->actions()) {
        if (candidate->text() == item)
            action = candidate;
    }
    QVERIFY(action);
    // The captures wait for the customer: make them end at their first poll.
    app.pad->failCalls(QStringLiteral("getVar"));
    const QString transBefore = app.window->transID;

    action->trigger();

    QVERIFY(app.pad->formHistory().contains(form));
    QCOMPARE(app.window->transID, transBefore);
}

void TstOperatorCommands::trayAndWindowState_data()
{
    QTest::addColumn<Qt::WindowState>("before");
    QTest::addColumn<bool>("shownBefore");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shownAfter");
    QTest::addColumn<Qt::WindowStates>("stateAfter");

    QTest::newRow("click on hidden window")
        << Qt::WindowNoState << false << int(QSystemTrayIcon::Trigger) << true
        << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("double click") << Qt::WindowNoState << false << int(QSystemTrayIcon::DoubleClick)
                                  << true << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("click on maximised window")
        << Qt::WindowMaximized << true << int(QSystemTrayIcon::Trigger) << true
        << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("right button") << Qt::WindowNoState << false << int(QSystemTrayIcon::Context)
                                  << false << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("middle button")
        << Qt::WindowMaximized << true << int(QSystemTrayIcon::MiddleClick) << true
        << Qt::WindowStates(Qt::WindowMaximized);
}

void TstOperatorCommands::trayAndWindowState()
{
    QFETCH(Qt::WindowState, before);
    QFETCH(bool, shownBefore);
    QFETCH(int, reason);
    QFETCH(bool, shownAfter);
    QFETCH(Qt::WindowStates, stateAfter);

    AppHarness app(TempAppDir::debugIni());
    app.window->onWindowLoad();
    app.window->show();
    // Minimising hides the window.
    app.window->setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!app.window->isVisible());

    app.window->setWindowState(before);
    app.window->setVisible(shownBefore);
    app.window->onTrayActivated(reason);

    QCOMPARE(app.window->isVisible(), shownAfter);
    QCOMPARE(app.window->windowState() & ~Qt::WindowActive, stateAfter);
}

QTEST_MAIN(TstOperatorCommands)
#include "tst_operator_commands.moc"

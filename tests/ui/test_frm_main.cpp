#include "delivery/outbox.h"
#include "pad/virtual_pad_model.h"
#include "service/scrivora_service.h"
#include "ui/frm_main.h"
#include "ui/last_signature_view.h"
#include "ui/outbox_dialog.h"
#include "ui/pcx_image.h"
#include "ui/status_list_model.h"
#include "ui/virtual_pad_window.h"

#include "service_harness.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>

#include <functional>

namespace {

constexpr int ReplyMs = 5000;

QString iniWith(const QString &localKeys, const QString &padSection = {})
{
    return QStringLiteral("[Local]\nLocalPort=0\n%1[settings]\ndebugMode=1\n%2")
        .arg(localKeys, padSection);
}

/// The window on a started service on the virtual pad, as the program builds it.
struct Window
{
    explicit Window(const QString &ini = TempAppDir::debugIni(), int ftpPort = 21)
        : harness(ini, ftpPort), window(*harness.service, lines)
    {
    }

    /// A status bar field's text; "(hidden)" when it is not shown.
    QString field(const char *name) const
    {
        auto *label = window.statusBar()->findChild<QLabel *>(QLatin1String(name));
        return label && label->isVisibleTo(&window) ? label->text() : QStringLiteral("(hidden)");
    }
    QStringList fields() const
    {
        QStringList texts;
        for (const char *name :
             {"statusListening", "statusHosts", "statusPad", "statusJob", "statusOutbox"})
            texts << field(name);
        return texts;
    }
    QAction *item(const char *name) const
    {
        return window.findChild<QAction *>(QLatin1String(name));
    }
    /// Sends @p request; true when a reply ending in @p replyEnd came back.
    bool ask(const QByteArray &request, const QByteArray &replyEnd)
    {
        harness.host.send(request);
        QByteArray reply;
        return QTest::qWaitFor(
            [&] { return (reply += harness.host.receive(0, 10)).endsWith(replyEnd); }, ReplyMs);
    }

    ServiceHarness harness;
    StatusListModel lines;
    frmMain window;
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    // A long debug session keeps only the latest lines, oldest out first; the list takes
    // them in batches, each batch moving the rows once.
    void statusListKeepsTheLatestLines_data()
    {
        QTest::addColumn<QList<int>>("batches"); // lines added before each wait for the list
        QTest::newRow("one line over") << QList<int>{10001};
        QTest::newRow("two lists' worth at once") << QList<int>{20003};
        QTest::newRow("full, then a few") << QList<int>{9998, 7};
        QTest::newRow("a few, then more than a list") << QList<int>{3, 10004};
    }
    void statusListKeepsTheLatestLines()
    {
        QFETCH(QList<int>, batches);
        StatusListModel lines;
        QSignalSpy inserted(&lines, &QAbstractItemModel::rowsInserted);
        int total = 0;
        for (const int batch : std::as_const(batches)) {
            for (const int end = total + batch; total < end;)
                lines.appendLine(QStringLiteral("line %1").arg(total++));
            const int first = qMax(0, total - 10000);
            QCOMPARE(lines.lines().size(), total - first);
            QCOMPARE(lines.lines().constFirst(), QStringLiteral("line %1").arg(first));
            QTRY_COMPARE(lines.rowCount(), total - first);
            QCOMPARE(lines.data(lines.index(0)).toString(), QStringLiteral("line %1").arg(first));
            QCOMPARE(lines.data(lines.index(lines.rowCount() - 1)).toString(),
                     QStringLiteral("line %1").arg(total - 1));
        }
        QCOMPARE(inserted.count(), batches.size());
    }

    void statusBarShowsTheSettings_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("pad");
        QTest::newRow("loopback, virtual pad")
            << iniWith({}) << QStringLiteral("127.0.0.1") << QStringLiteral("virtual");
        QTest::newRow("any IPv4 address") << iniWith(QStringLiteral("ListenAddress=0.0.0.0\n"))
                                          << QStringLiteral("0.0.0.0") << QStringLiteral("virtual");
        QTest::newRow("IPv6 in brackets") << iniWith(QStringLiteral("ListenAddress=::1\n"))
                                          << QStringLiteral("[::1]") << QStringLiteral("virtual");
        QTest::newRow("serial pad with its device")
            << iniWith({}, QStringLiteral("[pad]\nDriver=serial\nDevice=/dev/ttyUSB7\n"))
            << QStringLiteral("127.0.0.1") << QStringLiteral("serial /dev/ttyUSB7");
    }

    // The status bar and the About box say where hosts connect and which pad is in use.
    void statusBarShowsTheSettings()
    {
        QFETCH(QString, host);
        QFETCH(QString, pad);
        QFETCH(QString, ini);
        Window w(ini);
        if (!w.harness.started)
            QSKIP("this machine cannot listen on that address");
        const QString listening =
            QStringLiteral("Listening on %1:%2").arg(host).arg(w.harness.port());
        QCOMPARE(w.field("statusListening"), listening);
        QCOMPARE(w.field("statusPad"), QStringLiteral("Pad: %1, open").arg(pad));
        QVERIFY(w.window.aboutText().contains(listening + QLatin1Char('\n')));
        QVERIFY(w.window.aboutText().contains(QStringLiteral("\nPad: %1\n").arg(pad)));
    }

    // Hosts come and go, jobs open and end, the pad is disconnected: the fields follow,
    // and no track, name or account ever shows.
    void statusBarFollowsTheService()
    {
        Window w;
        QVERIFY(w.harness.connectHost());
        HostClient second;
        VirtualPadModel &pad = *w.harness.pad;
        const auto send = [&](const QByteArray &request) { w.harness.host.send(request); };
        const QString at = QStringLiteral("Listening on 127.0.0.1:%1").arg(w.harness.port());
        const QString open = QStringLiteral("Pad: virtual, open");
        const QString hidden = QStringLiteral("(hidden)");
        const struct
        {
            const char *step;
            std::function<void()> action;
            QStringList fields;
        } story[] = {
            {"one host", [] {}, {at, "Hosts: 1", open, "No open job", hidden}},
            {"second host",
             [&] { QVERIFY(w.harness.join(second)); },
             {at, "Hosts: 2", open, "No open job", hidden}},
            {"second host leaves",
             [&] { second.close(); },
             {at, "Hosts: 1", open, "No open job", hidden}},
            {"card job",
             [&] {
                 // The job shows while the capture still waits for the card.
                 QString whileWaiting;
                 pad.atRead(QStringLiteral("TRACK1"), 40, [&] {
                     whileWaiting = w.field("statusJob");
                     pad.swipeSampleCard();
                 });
                 QVERIFY(w.ask("TRANS=CC;UNIQU=17;TOTAL=25.00;", "</SWIPE>"));
                 QCOMPARE(whileWaiting, QStringLiteral("Job 17: CC 25.00"));
             },
             {at, "Hosts: 1", open, "Job 17: CC 25.00", hidden}},
            {"abort", [&] { send("ABORT=TRUE;"); }, {at, "Hosts: 1", open, "No open job", hidden}},
            {"charge job",
             [&] { send("TRANS=CH;UNIQU=18;NAME=ANN LEE;ACCOU=98765;"); },
             {at, "Hosts: 1", open, "Job 18: CH", hidden}},
            {"disconnect",
             [&] { w.item("mnuDisconnect")->trigger(); },
             {at, "Hosts: 1", "Pad: virtual, closed", "Job 18: CH", hidden}},
            {"connect",
             [&] { w.item("mnuConnect")->trigger(); },
             {at, "Hosts: 1", open, "Job 18: CH", hidden}},
            {"outbox",
             [&] { w.window.setOutboxCount(3); },
             {at, "Hosts: 1", open, "Job 18: CH", "Outbox: 3 waiting"}},
            {"outbox empty",
             [&] { w.window.setOutboxCount(0); },
             {at, "Hosts: 1", open, "Job 18: CH", "Outbox: 0 waiting"}},
            {"no outbox",
             [&] { w.window.setOutboxCount(-1); },
             {at, "Hosts: 1", open, "Job 18: CH", hidden}},
        };
        const QStringList secrets{VirtualPadModel::sampleTrack1().mid(2, 16), QStringLiteral("ANN"),
                                  QStringLiteral("98765")};
        for (const auto &[step, action, fields] : story) {
            action();
            QVERIFY2(!QTest::currentTestFailed(), step);
            QTRY_COMPARE_WITH_TIMEOUT(w.fields(), fields, ReplyMs);
            for (const QString &secret : secrets)
                QVERIFY2(!w.fields().join(QLatin1Char('|')).contains(secret), step);
        }
    }

    void trayMenu_data()
    {
        QTest::addColumn<bool>("withPadWindow");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("virtual pad")
            << true << QStringList{"&Show Scrivora", "Show &pad", "&About Scrivora", "", "&Quit"};
        QTest::newRow("pad without a window")
            << false << QStringList{"&Show Scrivora", "&About Scrivora", "", "&Quit"};
    }

    // The tray menu reaches everything a hidden window offers; Quit is the normal shut-down.
    void trayMenu()
    {
        QFETCH(bool, withPadWindow);
        Window w;
        VirtualPadWindow pad(w.harness.pad);
        if (withPadWindow)
            w.window.setPadWindow(&pad);
        QStringList items;
        for (QAction *item : w.window.trayMenu()->actions()) {
            if (item->isVisible())
                items << item->text();
        }
        QTEST(items, "items");
        QCOMPARE(w.item("mnuShowPad")->isVisible(), withPadWindow);

        w.item("trayShowScrivora")->trigger();
        QVERIFY(w.window.isVisible());
        QSignalSpy shutDown(&w.window, &frmMain::shutDownRequested);
        w.item("trayQuit")->trigger();
        QCOMPARE(shutDown.size(), 1);
    }

    void padFormsMenu_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("form"); // the first form the command shows
        QTest::newRow("Welcome") << "mnuPadFormsWelcome"
                                 << "padWelcome";
        QTest::newRow("Signature") << "mnuPadFormsSignature"
                                   << "padSig";
        QTest::newRow("Card Swipe") << "mnuPadFormsCardSwipe"
                                    << "padStart";
        QTest::newRow("Wait") << "mnuPadFormsWait"
                              << "padWait";
        QTest::newRow("Thanks") << "mnuPadFormsThanks"
                                << "padThanks";
        QTest::newRow("Disconnect") << "mnuPadFormsDisconnect"
                                    << "padDisconnect";
        QTest::newRow("Pin Pad") << "mnuPadFormsPinPad"
                                 << "padPin";
        QTest::newRow("Account") << "mnuPadFormsAccount"
                                 << "padEmptyAccount";
    }

    // Each pad test command shows its form (the swipe and PIN ones run their capture); the
    // menu is there in debug mode only.
    void padFormsMenu()
    {
        QFETCH(QString, item);
        QFETCH(QString, form);
        Window w;
        const QStringList before = w.harness.pad->formHistory();
        w.window.findChild<QAction *>(item)->trigger();
        QCOMPARE(w.harness.pad->formHistory().value(before.size()), form);

        Window quiet(TempAppDir::debugIni().replace("debugMode=1", "debugMode=0"));
        for (Window *window : {&w, &quiet})
            QCOMPARE(window->window.findChild<QMenu *>("mnuPadForms")->menuAction()->isVisible(),
                     window == &w);
    }

    void trayClicks_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("right button: the menu only") << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("middle button") << int(QSystemTrayIcon::MiddleClick) << false;
    }

    // A click on the tray icon brings a minimised, hidden window back in its normal state;
    // the icon carries the tray menu for the other button.
    void trayClicks()
    {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        Window w;
        w.window.showInTray();
        QVERIFY(w.window.trayIcon());
        QCOMPARE(w.window.trayIcon()->contextMenu(), w.window.trayMenu());
        w.window.setWindowState(Qt::WindowMinimized);
        w.window.hide();
        w.window.onTrayActivated(reason);
        QCOMPARE(w.window.isVisible(), shown);
        QCOMPARE(w.window.isMinimized(), !shown);
        w.window.removeTrayIcon();
    }

    // With no notification area (as offscreen) the window stays shown, minimised as well:
    // hidden, nothing would bring it back.
    void windowStaysWithoutNotificationArea()
    {
        Window w;
        w.window.showInTray();
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(w.window.isVisible());
        w.window.setWindowState(Qt::WindowMinimized);
        QTest::qWait(50);
        QVERIFY(w.window.isVisible());
        w.window.removeTrayIcon();
    }

    void showPadBringsThePadBack_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("main window") << QStringLiteral("mnuShowPad");
        QTest::newRow("tray menu") << QStringLiteral("trayShowPad");
    }

    // Closing the pad window hides it; a card payment waiting for a swipe can still get one.
    void showPadBringsThePadBack()
    {
        QFETCH(QString, command);
        Window w;
        QPointer<VirtualPadWindow> pad = new VirtualPadWindow(w.harness.pad);
        w.window.setPadWindow(pad);
        pad->show();
        QVERIFY(pad->close());
        QVERIFY(pad && !pad->isVisible());
        w.window.findChild<QAction *>(command)->trigger();
        QVERIFY(pad->isVisible());
        delete pad;
    }

    // About tells what a technician asks first, and never waits for the operator.
    void aboutTellsTheSetUp()
    {
        Window w;
        QCoreApplication::setApplicationVersion(QStringLiteral("4.5.6"));
        for (const char *command : {"mnuAbout", "trayAbout"}) {
            w.item(command)->trigger();
            auto *box = w.window.findChild<QMessageBox *>(QStringLiteral("aboutBox"));
            QVERIFY2(box && box->isVisible() && !box->isModal(), command);
            QCOMPARE(box->text(),
                     QStringLiteral("Scrivora 4.5.6\nSignature pad service for point-of-sale hosts"
                                    "\n\nSettings: %1\nPad: virtual\nListening on 127.0.0.1:%2\n"
                                    "Qt %3\nLicence: Proprietary")
                         .arg(w.harness.dir.iniPath())
                         .arg(w.harness.port())
                         .arg(QString::fromLatin1(qVersion())));
        }
        QCOMPARE(w.window.findChildren<QMessageBox *>().size(), 1);
    }

    // The operator sees the saved signature, its job and the time, at a glance.
    void lastSignatureShowsTheImage()
    {
        Window w;
        LastSignatureView *view = w.window.lastSignature();
        QVERIFY(view->image().isNull());
        QVERIFY(w.harness.connectHost());
        w.harness.pad->atRead(QStringLiteral("SIGCOMP"), 1, [&] { w.harness.pad->signSample(); });
        QVERIFY(w.ask("TRANS=CH;UNIQU=18;TOTAL=4.00;NAME=A;ACCOU=1;DOFTP=N;", "</SIGPATH>"));

        const QImage saved = loadMonoPcx(w.harness.dir.filePath(QStringLiteral("18.PCX")));
        QVERIFY(!saved.isNull());
        QCOMPARE(view->image(), saved);
        int ink = 0;
        for (int y = 0; y < saved.height(); ++y) {
            for (int x = 0; x < saved.width(); ++x)
                ink += saved.pixel(x, y) == qRgb(0, 0, 0);
        }
        QVERIFY(ink > 100);
        const QRegularExpressionMatch caption =
            QRegularExpression(QStringLiteral("^Job 18 at (\\d\\d:\\d\\d:\\d\\d)$"))
                .match(view->caption());
        QVERIFY2(caption.hasMatch(), qPrintable(view->caption()));
        // Within seconds of now, also across midnight.
        const int age = qAbs(QTime::fromString(caption.captured(1), QStringLiteral("HH:mm:ss"))
                                 .secsTo(QTime::currentTime()));
        QVERIFY2(age <= 10 || age >= 86400 - 10, qPrintable(view->caption()));
    }

    // An upload that does not land: the status bar counts the waiting signature and
    // File › Upload outbox lists it with its error.
    void outboxIsShown()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 downPort = closed.serverPort();
        closed.close();
        Window w(TempAppDir::debugIni(QStringLiteral("[remote]\nftpURL=127.0.0.1\n")), downPort);
        QCOMPARE(w.field("statusOutbox"), QStringLiteral("(hidden)"));
        QVERIFY(w.harness.connectHost());
        VirtualPadModel &pad = *w.harness.pad;
        pad.atRead(QStringLiteral("SIGCOMP"), 2, [&pad] { pad.signSample(); });
        QVERIFY(w.ask("TRANS=CH;UNIQU=21;TOTAL=4.00;NAME=A;ACCOU=1;DOFTP=Y;", "</SIGPATH>"));
        QTRY_COMPARE(w.field("statusOutbox"), QStringLiteral("Outbox: 1 waiting"));

        w.item("mnuUploadOutbox")->trigger();
        auto *dialog = w.window.findChild<OutboxDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        const QList<QStringList> rows = dialog->rows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().at(0), QStringLiteral("21"));
        QCOMPARE(rows.first().at(2), QStringLiteral("1"));
        QCOMPARE(rows.first().at(3), QStringLiteral("cannot connect to 127.0.0.1"));

        // Retry now tries again at once; the open list follows.
        dialog->findChild<QPushButton *>(QStringLiteral("retryNow"))->click();
        QTRY_COMPARE(dialog->rows().value(0).value(2), QStringLiteral("2"));

        // Enter closes the list and asks for no retry.
        QTest::keyClick(dialog, Qt::Key_Return);
        QTRY_VERIFY(!w.window.findChild<OutboxDialog *>());
        QTest::qWait(300);
        QCOMPARE(w.harness.service->outbox().entries().value(0).attempts, 2);
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frm_main.moc"

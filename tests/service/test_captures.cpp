#include "hostlink/host_server.h"
#include "pad/pad_text.h"
#include "service/capture_runner.h"
#include "service/captures.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service/poll_pause.h"
#include "service_harness.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>

#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray Swipe = "TRANS=CC;UNIQU=17;TOTAL=25.00;";
const QByteArray Pin = "PINPD=TRUE;";
const QByteArray Charge = "TRANS=CH;UNIQU=17;TOTAL=25.00;NAME=JOHN;ACCOU=1234;";
constexpr int CaptureMs = 10000;

QByteArray element(const QString &tag, const QString &data)
{
    return ("<" + tag + ">" + data + "</" + tag + ">").toLatin1();
}

QByteArray sampleSwipe()
{
    return element("SWIPE", VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2());
}

} // namespace

class TestCaptures : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServiceHarness> harness;

    /// A fresh window whose host is connected; returns its pad.
    VirtualPadModel &start(const QString &ini = TempAppDir::debugIni())
    {
        harness = std::make_unique<ServiceHarness>(ini);
        QTest::qVerify(harness->connectHost(), "connectHost()", "", __FILE__, __LINE__);
        return *harness->pad;
    }

private slots:
    // The record is empty during the five poll cycles, and the pad keeps its screen until
    // the welcome form comes after them. The change is announced before the wait, so the
    // operator's view does not show the old job meanwhile.
    void newTransactionClearsThenWaitsThenWelcomes()
    {
        VirtualPadModel &pad = start();
        harness->host.send("TRANS=XX;UNIQU=9;NAME=N;ACCOU=A;TOTAL=1;");
        QTRY_COMPARE(harness->service->record().custAcct, QString("A"));
        pad.showForm(QStringLiteral("padSig"));
        const TransactionRecord &record = harness->service->record();
        QSignalSpy changes(harness->service.get(), &ScrivoraService::transactionChanged);
        QStringList duringWait;
        QTimer::singleShot(0, [&] {
            duringWait << record.transID + record.transType + record.custName + record.custAcct +
                              record.transTotal
                       << pad.currentForm() << QString::number(changes.size());
        });
        const int cyclesBefore = harness->pause.pollCycles();
        harness->service->captures().scrivora_new_transaction();

        QCOMPARE(duringWait, (QStringList{QString(), QStringLiteral("padSig"), "1"}));
        QCOMPARE(harness->pause.pollCycles() - cyclesBefore, 5);
        QCOMPARE(pad.currentForm(), QStringLiteral("padWelcome"));
        QCOMPARE(harness->service->log().statusMsg(), QStringLiteral("New Transaction"));
    }

    void pinFormatting_data()
    {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("remove710");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("710 kept when not asked") << "710123" << false << "710123";
        QTest::newRow("leading 710 dropped once") << "710710" << true << "710";
        QTest::newRow("710 alone") << "710" << true << "";
        QTest::newRow("710 elsewhere") << "17101" << true << "17101";
        QTest::newRow("case and all") << "71O1" << true << "71O1";
    }
    void pinFormatting()
    {
        QFETCH(QString, pin);
        QFETCH(bool, remove710);
        start();
        const QString returned = harness->service->captures().pinPadFormatString(pin, remove710);
        QTEST(returned, "formatted");
        QTEST(pin, "formatted"); // formatted in place as well
    }

    void capture_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("customer"); // at poll N: "card", a PIN block, "fail" or nothing
        QTest::addColumn<int>("polls");        // N, or 59 for a time-out
        QTest::addColumn<qint16>("track1Status");
        QTest::addColumn<QString>("form");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        const auto row = [](const char *name, const QByteArray &request, const QString &customer,
                            int polls, const char *form, const QByteArray &reply,
                            const QStringList &lines, qint16 track1Status = 1) {
            QTest::newRow(name) << request << customer << polls << track1Status << QString(form)
                                << reply << lines;
        };
        const QString t1 = VirtualPadModel::sampleTrack1(), t2 = VirtualPadModel::sampleTrack2();
        const QString block = QStringLiteral("8F2A31C0D9E4B7A6");
        const QStringList tracks{"TRACK1=" + t1, "TRACK2=" + t2};
        row("swipe", Swipe, "card", 3, "padStart", sampleSwipe(), tracks);
        row("swipe, status -4", Swipe, "card", 3, "padStart", sampleSwipe(), tracks, -4);
        row("swipe, status 0", Swipe, "card", 3, "padStart", element("SWIPE", t1),
            {"TRACK1=" + t1, "TRACK2="}, 0);
        // The earlier card's second track was emptied before this swipe: the pad holds the
        // single NUL of an empty text there, which the reply leaves out.
        row("swipe, one track", Swipe, "track 1 only", 3, "padStart", element("SWIPE", t1),
            {"TRACK1=" + t1, "TRACK2=" + QString(QChar(0))});
        row("PIN", Pin, block, 3, "padPin", element("PINBLOCK", block), {"PIN=" + block});
        row("PIN 0", Pin, "0", 3, "padPin", element("PINBLOCK", ""), {"PIN="});
        row("PIN starting 710", Pin, "7101234", 3, "padPin", element("PINBLOCK", "7101234"),
            {"PIN=7101234"});
        row("swipe timeout", Swipe, "", 59, "padWelcome", {}, {"Card Swip Timeout"});
        row("PIN timeout", Pin, "", 59, "padWelcome", {}, {"PIN Pad Timeout"});
        row("signature timeout", Charge, "", 59, "padWelcome", {}, {"Signature Timeout"});
        row("swipe failure", Swipe, "fail", 2, "padStart", {}, {});
        // The host resets its connection first: the reply fails and the track lines never come.
        row("swipe, host gone", Swipe, "card, host gone", 3, "padStart", {}, {});
        row("PIN failure", Pin, "fail", 2, "padPin", {}, {});
        row("signature failure", Charge, "fail", 2, "padSig", {}, {});
    }

    void capture()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, customer);
        QFETCH(int, polls);
        QFETCH(qint16, track1Status);
        QFETCH(QString, form);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        VirtualPadModel &pad = start();
        // A card or a signature left from earlier must not be taken for this one.
        pad.swipe(QStringLiteral("%B0000^OLD/CARD^?"), QStringLiteral(";0000=0?"));
        pad.signSample();
        pad.setReadStatus(QStringLiteral("TRACK1"), track1Status);
        const QString polled = request == Swipe ? "TRACK1" : request == Pin ? "PIN" : "SIGCOMP";
        pad.atRead(polled, polls, [&] {
            if (customer == "fail")
                throw PadError("link lost");
            if (customer == "track 1 only") {
                const QByteArray track = encodePadText(VirtualPadModel::sampleTrack1());
                pad.setVar(QStringLiteral("TRACK1"), track, qint16(track.size()));
            } else if (customer.startsWith("card")) {
                pad.swipeSampleCard();
            } else {
                pad.enterPin(customer);
            }
        });
        if (customer == "card, host gone")
            pad.atRead(polled, polls - 1, [&] {
                const linger reset{1, 0};
                QTcpSocket &host = harness->host.socket();
                ::setsockopt(int(host.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                             sizeof reset);
                host.abort();
            });
        harness->host.send(request);
        QTRY_VERIFY_WITH_TIMEOUT(pad.readCount(polled) >= polls && pad.currentForm() == form,
                                 CaptureMs);
        // Long enough for several more polls, had the capture gone on.
        QCOMPARE(harness->host.receiveFor(100), reply);
        QCOMPARE(pad.readCount(polled), polls);
        // TRACK2 is read only when the TRACK1 read reports a non-zero status.
        if (customer != "fail")
            QCOMPARE(pad.readCount(QStringLiteral("TRACK2")),
                     request == Swipe && track1Status != 0 ? polls : 0);
        // The transaction stays open; a PIN request carries none.
        QCOMPARE(harness->service->record().transID, QString(request == Pin ? "" : "17"));
        const QRegularExpression logged(QStringLiteral("Timeout|TRACK\\d=|PIN=|Error"));
        QCOMPARE(harness->statusLines.filter(logged), lines);
    }

    void requestDuringSwipe_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QStringList>("atSwipe"); // transID, PIN reads and forms at the swipe
        QTest::addColumn<QByteArray>("replies");
        QTest::newRow("ABORT") << QByteArray("ABORT=TRUE;")
                               << QStringList{"", "0", "padStart", "padWelcome"} << sampleSwipe();
        QTest::newRow("PIN") << Pin << QStringList{"17", "3", "padStart", "padPin"}
                             << element("PINBLOCK", "4455") + sampleSwipe();
    }

    // Shut-down ends a waiting capture within its pause: the pad is not asked again and the
    // host gets no reply.
    void shutDownEndsCapture()
    {
        VirtualPadModel &pad = start();
        pad.atRead(QStringLiteral("TRACK1"), 3, [this] {
            QTimer::singleShot(0, harness->service.get(),
                               [this] { harness->service->beginShutDown(); });
        });
        harness->host.send(Swipe);
        QTRY_VERIFY_WITH_TIMEOUT(pad.readCount(QStringLiteral("TRACK1")) >= 3, CaptureMs);
        QCOMPARE(harness->host.receiveFor(200), QByteArray());
        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), 3);
    }

    // A poll cycle's pause never ends before its time is up, wherever it starts: a pause that
    // ends early shortens the customer's minute.
    void pauseLastsItsWholeLength()
    {
        EventLoopPause pause;
        for (int round = 0; round < 10; ++round) {
            QTest::qSleep(7 * round);
            QElapsedTimer elapsed;
            elapsed.start();
            pause.pause(50, false);
            QVERIFY2(elapsed.elapsed() >= 50, qPrintable(QString::number(elapsed.elapsed())));
        }
    }

    // The request is handled, and a PIN capture runs to its end, before the swipe polls again;
    // an abort ends the transaction but not the swipe.
    void requestDuringSwipe()
    {
        QFETCH(QByteArray, request);
        QFETCH(QStringList, atSwipe);
        QFETCH(QByteArray, replies);
        VirtualPadModel &pad = start();
        pad.atRead(QStringLiteral("TRACK1"), 2, [&] { harness->host.send(request); });
        pad.atRead(QStringLiteral("PIN"), 3, [&] { pad.enterPin(QStringLiteral("4455")); });
        QStringList seen;
        pad.atRead(QStringLiteral("TRACK1"), 3, [&] {
            seen = QStringList{harness->service->record().transID,
                               QString::number(pad.readCount(QStringLiteral("PIN")))} +
                   pad.formHistory().mid(1);
            pad.swipeSampleCard();
        });

        harness->host.send(Swipe);
        QCOMPARE(harness->host.receive(replies.size(), CaptureMs), replies);
        QCOMPARE(seen, atSwipe);
        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), 3);
    }

    void signatureReplacesTheOldFile()
    {
        VirtualPadModel &pad = start();
        const QString path = harness->dir.filePath(QStringLiteral("17.PCX"));
        const QByteArray reply = element("SIGNATURE", "OK") + element("SIGPATH", path);
        // The first capture finds no file; the second finds the first one's, aged, and removes it.
        for (const bool oldFile : {false, true}) {
            QString fileLine = path + "doesn't exist";
            if (oldFile) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-3),
                                         QFileDevice::FileModificationTime));
                fileLine = QLocale::system().toString(QFileInfo(path).lastModified(),
                                                      QLocale::ShortFormat);
            }
            bool removedBeforeSigning = false;
            pad.atRead(QStringLiteral("SIGCOMP"), 1, [&] {
                removedBeforeSigning = !QFile::exists(path);
                pad.signSample();
            });

            // Only an exact Y asks for the upload.
            harness->host.send(Charge + (oldFile ? "" : "DOFTP=y;"));
            QCOMPARE(harness->host.receive(reply.size(), CaptureMs), reply);
            const QStringList lines = harness->statusLines;
            const QStringList capture =
                lines.mid(lines.lastIndexOf(QStringLiteral("Get Signature:")));
            QCOMPARE(capture.mid(0, 2),
                     (QStringList{"Get Signature:", "Signature File: " + fileLine}));
            QVERIFY(capture.contains(QStringLiteral("Saving Signature: doFtp=[False]")));
            QVERIFY(removedBeforeSigning);
            QCOMPARE(harness->service->record().transID, QString());
        }

        // A read-only old file is not removed: the capture ends there, without a reply.
        QFile readOnly(path);
        QVERIFY(readOnly.open(QIODevice::WriteOnly) && readOnly.write("old") == 3);
        readOnly.close();
        QVERIFY(readOnly.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        const qsizetype before = harness->statusLines.size();
        harness->host.send(Charge);
        QTRY_COMPARE(harness->statusLines.mid(before).filter("Signature File: ").size(), 1);
        QCOMPARE(harness->host.receiveFor(200), QByteArray());
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QCOMPARE(readOnly.readAll(), QByteArray("old"));
        QCOMPARE(harness->service->record().transID, QString("17"));
    }

    // Captures that each arrive in a read of their own during the waits nest up to 32; the
    // 33rd is answered with an error in its place, and a flood of further requests is
    // answered inside the innermost wait without any deeper nesting.
    void nestingIsBounded()
    {
        VirtualPadModel &pad = start(TempAppDir::debugIni().replace("debugMode=1", "debugMode=0"));
        const QByteArray tooMany = "<ERROR>Too many captures in progress</ERROR>";
        // The first poll of each capture, the innermost, brings the next PIN request.
        for (int read = 1; read <= 32; ++read)
            pad.atRead(QStringLiteral("PIN"), read, [this] { harness->host.send(Pin); });
        int nestedAtFlood = 0;
        pad.atRead(QStringLiteral("PIN"), 33, [&] {
            nestedAtFlood = harness->service->runner().nestedCaptures();
            harness->host.send(QByteArray("PINPD=TRUE;").repeated(5000));
        });
        // Then every capture, innermost first, gets a PIN block of its own.
        for (int read = 34; read < 34 + 32; ++read)
            pad.atRead(QStringLiteral("PIN"), read, [&] { pad.enterPin(QStringLiteral("1234")); });
        harness->host.send(Pin);
        const QByteArray pin = element("PINBLOCK", "1234");
        const QByteArray expected = tooMany + tooMany + pin.repeated(32);
        QCOMPARE(harness->host.receive(expected.size(), CaptureMs), expected);
        QCOMPARE(nestedAtFlood, 32);
        QCOMPARE(harness->service->runner().nestedCaptures(), 0);
    }

    // A reply that cannot be sent because the host has gone is a failure: the signature is
    // not answered and the transaction is not closed.
    void signatureToHostThatHasGone()
    {
        VirtualPadModel &pad = start();
        pad.atRead(QStringLiteral("SIGCOMP"), 2, [&] {
            harness->host.close();
            QTest::qWait(50);
            pad.signSample();
        });
        harness->host.send(Charge);
        QTRY_VERIFY_WITH_TIMEOUT(pad.readCount(QStringLiteral("SIGCOMP")) >= 2, CaptureMs);
        QTRY_COMPARE(harness->service->hostServer().socketCT(), qint16(0));
        QTest::qWait(100);
        QCOMPARE(harness->service->record().transID, QString("17"));
        QCOMPARE(harness->service->log().statusMsg(), QString("Error in FTP of signature file"));
    }

    // With debug mode off, neither the card's tracks nor the PIN block reach the status list
    // or standard error (which carries the same lines and the message boxes), whatever
    // happens to the upload.
    void cardDataStaysOutOfTheLogs()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 downPort = closed.serverPort();
        closed.close();
        harness = std::make_unique<ServiceHarness>(
            QStringLiteral("[Local]\nLocalPort=0\n[remote]\nftpURL=127.0.0.1\nftpUser=u\n"
                           "ftpPass=SecretPass\n"),
            downPort);
        QVERIFY(harness->connectHost());
        VirtualPadModel &pad = *harness->pad;
        pad.atRead(QStringLiteral("TRACK1"), 2, [&pad] { pad.swipeSampleCard(); });
        pad.atRead(QStringLiteral("PIN"), 2,
                   [&pad] { pad.enterPin(QStringLiteral("8F2A31C0D9E4B7A6")); });
        pad.atRead(QStringLiteral("SIGCOMP"), 2, [&pad] { pad.signSample(); });
        harness->host.send(Swipe);
        QVERIFY(harness->host.receive(sampleSwipe().size(), CaptureMs) == sampleSwipe());
        harness->host.send(Pin);
        QVERIFY(harness->host.receive(10, CaptureMs).startsWith("<PINBLOCK>8F2A"));
        harness->host.send("VERIF=GOOD;DOFTP=Y;");
        QVERIFY(harness->host.receive(20, CaptureMs).startsWith("<SIGNATURE>OK</SIGNATURE>"));
        QTRY_COMPARE_WITH_TIMEOUT(pad.currentForm(), QStringLiteral("padWelcome"), CaptureMs);
        const QString seen = (harness->statusLines + harness->dialogs.messages).join('\n');
        for (const QString &secret :
             {QStringLiteral("4111111111111111"), QStringLiteral("8F2A31"),
              VirtualPadModel::sampleTrack2(), QStringLiteral("SecretPass")})
            QVERIFY2(!seen.contains(secret), qPrintable(seen));
    }

    // A folder without a byte to spare: the signature file is not written, and nothing is
    // left behind, not even an empty file; the capture goes on as after a refused save.
    void fullFolderKeepsNoPartialFile()
    {
        if (!qEnvironmentVariableIsSet("SCRIVORA_PRIVATE_MOUNTS")) {
            if (geteuid() != 0)
                QSKIP("A full folder needs a private mount namespace, which needs root.");
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("SCRIVORA_PRIVATE_MOUNTS"), QStringLiteral("1"));
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("unshare"),
                        {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                         QStringLiteral("private"), QCoreApplication::applicationFilePath(),
                         QStringLiteral("fullFolderKeepsNoPartialFile")});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        const QString ini = TempAppDir::debugIni();
        harness = std::make_unique<ServiceHarness>(ini, 21, [&ini](ServiceHarness &prepared) {
            const QString dir = prepared.dir.path();
            QVERIFY(::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=64k") ==
                    0);
            QFile settings(dir + QStringLiteral("/vantrel.ini"));
            QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(ini.toLatin1()) > 0);
            settings.close();
            QFile filler(dir + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size()) {
            }
            while (filler.write(block.left(1)) == 1) {
            }
        });
        QVERIFY(harness->connectHost());
        VirtualPadModel &pad = *harness->pad;
        pad.atRead(QStringLiteral("SIGCOMP"), 2, [&pad] { pad.signSample(); });
        harness->host.send(Charge);
        QVERIFY(harness->host.receive(20, CaptureMs).startsWith("<SIGNATURE>OK</SIGNATURE>"));
        QCOMPARE(QDir(harness->dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"filler", "vantrel.ini"}));
        ::umount(QFile::encodeName(harness->dir.path()).constData());
    }
};

QTEST_MAIN(TestCaptures)
#include "test_captures.moc"

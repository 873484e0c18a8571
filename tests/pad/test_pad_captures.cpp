#include "pad_harness.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

namespace {

const QString Nul(QChar(0));
const QByteArray SwipeRequest = "TRANS=CC;UNIQU=17;TOTAL=25.00;";
const QByteArray PinRequest = "PINPD=TRUE;";
const QByteArray ChargeRequest = "TRANS=CH;UNIQU=17;TOTAL=25.00;NAME=JOHN;ACCOU=1234;";
constexpr int CaptureMs = 10000;

QByteArray element(const QString &tag, const QString &data)
{
    return ("<" + tag + ">" + data + "</" + tag + ">").toLatin1();
}

} // namespace

class TestPadCaptures : public QObject
{
    Q_OBJECT

private slots:
    void swipeRepliesWithBothTracks_data()
    {
        QTest::addColumn<int>("swipeAtPoll");
        QTest::addColumn<QString>("track1");
        QTest::addColumn<QString>("track2");
        QTest::addColumn<qint16>("track1Status");
        QTest::addColumn<QByteArray>("reply");
        const QString t1 = VirtualPadModel::sampleTrack1();
        const QString t2 = VirtualPadModel::sampleTrack2();
        QTest::newRow("first poll") << 1 << t1 << t2 << qint16(1) << element("SWIPE", t1 + t2);
        QTest::newRow("third poll") << 3 << t1 << t2 << qint16(1) << element("SWIPE", t1 + t2);
        QTest::newRow("no track 2") << 2 << t1 << QString() << qint16(1) << element("SWIPE", t1);
        QTest::newRow("track 2 still emptied")
            << 2 << t1 << Nul << qint16(1) << element("SWIPE", t1);
        QTest::newRow("TRACK1 status 0 skips TRACK2")
            << 1 << t1 << t2 << qint16(0) << element("SWIPE", t1);
        QTest::newRow("any nonzero status reads TRACK2")
            << 1 << t1 << t2 << qint16(-4) << element("SWIPE", t1 + t2);
    }

    void swipeRepliesWithBothTracks()
    {
        QFETCH(int, swipeAtPoll);
        QFETCH(QString, track1);
        QFETCH(QString, track2);
        QFETCH(qint16, track1Status);
        QFETCH(QByteArray, reply);
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        pad.swipe(QStringLiteral("%B0000^OLD/CARD^?"), QStringLiteral(";0000=0?"));
        pad.setReadStatus(QStringLiteral("TRACK1"), track1Status);
        pad.atRead(QStringLiteral("TRACK1"), swipeAtPoll, [&] { pad.swipe(track1, track2); });

        harness.host.send(SwipeRequest);
        QCOMPARE(harness.host.receive(reply.size(), CaptureMs), reply);

        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), swipeAtPoll);
        QCOMPARE(pad.readCount(QStringLiteral("TRACK2")), track1Status == 0 ? 0 : swipeAtPoll);
        QCOMPARE(pad.writtenBytes(QStringLiteral("TRACK1")), QByteArray(2, '\0'));
        QCOMPARE(pad.writtenBytes(QStringLiteral("TRACK2")), QByteArray(2, '\0'));
        QCOMPARE(pad.currentForm(), QStringLiteral("padStart"));
        const QStringList lines = harness.statusLines();
        QVERIFY(lines.contains(QStringLiteral("TRACK1=") + track1));
        QVERIFY(
            lines.contains(QStringLiteral("TRACK2=") + (track1Status == 0 ? QString() : track2)));
        QCOMPARE(harness.host.receiveFor(50), QByteArray());
    }

    void pinRepliesWithTheBlock_data()
    {
        QTest::addColumn<QString>("waiting");
        QTest::addColumn<int>("entryAtPoll");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("block") << Nul << 2 << QStringLiteral("8F2A31C0D9E4B7A6")
                               << element("PINBLOCK", "8F2A31C0D9E4B7A6");
        QTest::newRow("zero means none")
            << Nul << 1 << QStringLiteral("0") << element("PINBLOCK", "");
        QTest::newRow("leading 710 kept")
            << Nul << 3 << QStringLiteral("7101234") << element("PINBLOCK", "7101234");
        QTest::newRow("only printable characters")
            << Nul << 1 << QStringLiteral("12\t34\u00e9") << element("PINBLOCK", "1234");
        QTest::newRow("left from an earlier entry")
            << QStringLiteral("AB12") << 0 << QString() << element("PINBLOCK", "AB12");
    }

    void pinRepliesWithTheBlock()
    {
        QFETCH(QString, waiting);
        QFETCH(int, entryAtPoll);
        QFETCH(QString, entry);
        QFETCH(QByteArray, reply);
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        pad.enterPin(waiting);
        if (entryAtPoll > 0)
            pad.atRead(QStringLiteral("PIN"), entryAtPoll, [&] { pad.enterPin(entry); });

        harness.host.send(PinRequest);
        QCOMPARE(harness.host.receive(reply.size(), CaptureMs), reply);

        QCOMPARE(pad.readCount(QStringLiteral("PIN")), qMax(1, entryAtPoll));
        QCOMPARE(pad.currentForm(), QStringLiteral("padPin"));
        QCOMPARE(pad.variable(QStringLiteral("PIN")), entryAtPoll > 0 ? entry : waiting);
        const QString sent = QString::fromLatin1(reply.mid(10, reply.size() - 21));
        const QStringList lines = harness.statusLines();
        QVERIFY(lines.contains(QStringLiteral("PIN=") + sent));
        QVERIFY(lines.contains(QStringLiteral("PIN LEN=") + QString::number(sent.size())));
    }

    void pinFormatRemovesOneLeading710_data()
    {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<bool>("remove710");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("kept without the option") << "7101234" << false << "7101234";
        QTest::newRow("leading 710") << "7101234" << true << "1234";
        QTest::newRow("710 alone") << "710" << true << "";
        QTest::newRow("only once") << "710710" << true << "710";
        QTest::newRow("not leading") << "1710" << true << "1710";
        QTest::newRow("short") << "71" << true << "71";
    }

    void pinFormatRemovesOneLeading710()
    {
        QFETCH(QString, pin);
        QFETCH(bool, remove710);
        QFETCH(QString, formatted);
        PadHarness harness;
        const QString before = pin;
        QCOMPARE(harness.window->pinPadFormatString(pin, remove710), formatted);
        QCOMPARE(pin, formatted);
        const QStringList lines = harness.statusLines();
        QVERIFY(lines.contains("pinPadFormatString before: pin=[" + before + "]"));
        QVERIFY(lines.contains("pinPadFormatString after: pin=[" + formatted + "]"));
    }

    void captureTimesOutSilently_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("transID");
        QTest::newRow("swipe") << SwipeRequest << QStringLiteral("TRACK1")
                               << QStringLiteral("Card Swip Timeout") << QStringLiteral("17");
        QTest::newRow("PIN") << PinRequest << QStringLiteral("PIN")
                             << QStringLiteral("PIN Pad Timeout") << QString();
        QTest::newRow("signature") << ChargeRequest << QStringLiteral("SIGCOMP")
                                   << QStringLiteral("Signature Timeout") << QStringLiteral("17");
    }

    void captureTimesOutSilently()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, variable);
        QFETCH(QString, line);
        QFETCH(QString, transID);
        PadHarness harness;
        QVERIFY(harness.connectHost());
        // The emptied state is no entry.
        harness.pad->enterPin(Nul);

        harness.host.send(request);
        QTRY_VERIFY_WITH_TIMEOUT(harness.statusLines().contains(line), CaptureMs);

        QCOMPARE(harness.pad->readCount(variable), 59);
        QCOMPARE(harness.pad->currentForm(), QStringLiteral("padWelcome"));
        QCOMPARE(harness.host.receiveFor(50), QByteArray());
        QCOMPARE(harness.window->transID, transID);
        QCOMPARE(harness.statusLines().filter(QStringLiteral("Timeout")), QStringList{line});
    }

    void timeOutLineOnlyInDebugMode()
    {
        PadHarness harness(QStringLiteral("[Local]\nLocalPort=0\n[settings]\ndebugMode=0\n"));
        QVERIFY(harness.connectHost());
        const QStringList startLines = harness.statusLines();
        harness.host.send(SwipeRequest);
        QTRY_COMPARE_WITH_TIMEOUT(
            harness.pad->formHistory().mid(1),
            (QStringList{QStringLiteral("padStart"), QStringLiteral("padWelcome")}), CaptureMs);
        QCOMPARE(harness.pad->readCount(QStringLiteral("TRACK1")), 59);
        QCOMPARE(harness.statusLines(), startLines);
    }

    void wholeCallFailureEndsCaptureSilently_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("failingOperation");
        QTest::addColumn<QString>("formLeft");
        QTest::newRow("swipe poll")
            << SwipeRequest << QStringLiteral("TRACK1") << QString() << QStringLiteral("padStart");
        QTest::newRow("swipe flush") << SwipeRequest << QStringLiteral("TRACK1")
                                     << QStringLiteral("setVar") << QStringLiteral("padWelcome");
        QTest::newRow("PIN poll") << PinRequest << QStringLiteral("PIN") << QString()
                                  << QStringLiteral("padPin");
        QTest::newRow("PIN prompt") << PinRequest << QStringLiteral("PIN")
                                    << QStringLiteral("showForm") << QStringLiteral("padWelcome");
        QTest::newRow("signature poll")
            << ChargeRequest << QStringLiteral("SIGCOMP") << QString() << QStringLiteral("padSig");
        QTest::newRow("signature save")
            << ChargeRequest << QStringLiteral("SIGCOMP") << QStringLiteral("saveSignature")
            << QStringLiteral("padSig");
    }

    void wholeCallFailureEndsCaptureSilently()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, variable);
        QFETCH(QString, failingOperation);
        QFETCH(QString, formLeft);
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        int polls = 0;
        if (failingOperation.isEmpty()) {
            // The link breaks at the second poll.
            polls = 2;
            pad.atRead(variable, 2, [] { throw PadError("link lost"); });
        } else if (failingOperation == QLatin1String("saveSignature")) {
            polls = 1;
            pad.failCalls(failingOperation);
            pad.atRead(variable, 1, [&] { pad.signSample(); });
        } else {
            pad.failCalls(failingOperation);
        }
        const qsizetype linesBefore = harness.statusLines().size();
        const int failingCalls = pad.callCount(failingOperation);
        const auto failed = [&] {
            return failingOperation.isEmpty() ? pad.readCount(variable) >= polls
                                              : pad.callCount(failingOperation) > failingCalls;
        };

        harness.host.send(request);
        QTRY_VERIFY_WITH_TIMEOUT(failed(), CaptureMs);

        // Long enough for several more polls, had the capture gone on.
        QCOMPARE(harness.host.receiveFor(20 * PadHarness::PollMs), QByteArray());
        QCOMPARE(pad.readCount(variable), polls);
        QCOMPARE(pad.currentForm(), formLeft);
        const QStringList newLines = harness.statusLines().mid(linesBefore);
        QVERIFY(newLines.filter(QStringLiteral("Timeout")).isEmpty());
        QVERIFY(newLines.filter(QStringLiteral("TRACK")).isEmpty());
        QVERIFY(newLines.filter(QStringLiteral("PIN=")).isEmpty());
        QVERIFY(!newLines.contains(QStringLiteral("Error in DataArrival")));
        QCOMPARE(harness.window->transID, request == PinRequest ? QString() : QStringLiteral("17"));
    }

    void unsendableReplyEndsTheSwipeBeforeItsLogLines()
    {
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        // The host hangs up while the customer is still at the pad.
        pad.atRead(QStringLiteral("TRACK1"), 1, [&] { harness.host.close(); });
        pad.atRead(QStringLiteral("TRACK1"), 3, [&] { pad.swipeSampleCard(); });

        harness.host.send(SwipeRequest);
        QTRY_VERIFY_WITH_TIMEOUT(pad.readCount(QStringLiteral("TRACK1")) >= 3, CaptureMs);
        QTest::qWait(20 * PadHarness::PollMs);

        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), 3);
        const QStringList lines = harness.statusLines();
        QVERIFY(lines.filter(QStringLiteral("TRACK1=")).isEmpty());
        QVERIFY(lines.filter(QStringLiteral("Timeout")).isEmpty());
        QCOMPARE(pad.currentForm(), QStringLiteral("padStart"));
    }

    void abortDuringSwipeDoesNotEndIt()
    {
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        pad.atRead(QStringLiteral("TRACK1"), 2, [&] { harness.host.send("ABORT=TRUE;"); });
        QString transIdAtSwipe = QStringLiteral("unset");
        QStringList formsAtSwipe;
        pad.atRead(QStringLiteral("TRACK1"), 5, [&] {
            transIdAtSwipe = harness.window->transID;
            formsAtSwipe = pad.formHistory();
            pad.swipeSampleCard();
        });

        harness.host.send(SwipeRequest);
        const QByteArray reply =
            element("SWIPE", VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2());
        QCOMPARE(harness.host.receive(reply.size(), CaptureMs), reply);

        QCOMPARE(transIdAtSwipe, QString());
        QCOMPARE(formsAtSwipe.mid(formsAtSwipe.size() - 2),
                 (QStringList{QStringLiteral("padStart"), QStringLiteral("padWelcome")}));
        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), 5);
        QCOMPARE(harness.host.receiveFor(50), QByteArray());
    }

    void secondCaptureRunsToItsEndInsideTheFirst()
    {
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        pad.enterPin(Nul);
        pad.atRead(QStringLiteral("TRACK1"), 2, [&] { harness.host.send(PinRequest); });
        int track1ReadsAtPin = -1;
        pad.atRead(QStringLiteral("PIN"), 3, [&] {
            track1ReadsAtPin = pad.readCount(QStringLiteral("TRACK1"));
            pad.enterPin(QStringLiteral("4455"));
        });
        pad.atRead(QStringLiteral("TRACK1"), 3, [&] { pad.swipeSampleCard(); });

        harness.host.send(SwipeRequest);
        const QByteArray replies =
            element("PINBLOCK", "4455") +
            element("SWIPE", VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2());
        QCOMPARE(harness.host.receive(replies.size(), CaptureMs), replies);
        QCOMPARE(track1ReadsAtPin, 2);
        QCOMPARE(pad.readCount(QStringLiteral("TRACK1")), 3);
        QCOMPARE(pad.formHistory().filter(QStringLiteral("padPin")).size(), 1);
    }

    void signatureRemovesTheOldFile_data()
    {
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("doFtpWord");
        QTest::newRow("old file") << true << false << ChargeRequest << QStringLiteral("False");
        QTest::newRow("no old file") << false << false << ChargeRequest << QStringLiteral("False");
        QTest::newRow("upload asked")
            << false << false << QByteArray("TRANS=CC;UNIQU=17;VERIF=GOOD;DOFTP=Y;")
            << QStringLiteral("True");
        QTest::newRow("read-only old file") << true << true << ChargeRequest << QString();
    }

    void signatureRemovesTheOldFile()
    {
        QFETCH(bool, oldFile);
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, request);
        QFETCH(QString, doFtpWord);
        PadHarness harness;
        QVERIFY(harness.connectHost());
        VirtualPadModel &pad = *harness.pad;
        const QString path = harness.dir.filePath(QStringLiteral("17.PCX"));
        QString modified;
        if (oldFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old signature");
            file.close();
            const QDateTime stamp = QDateTime::currentDateTime().addDays(-3);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
            file.close();
            modified =
                QLocale::system().toString(QFileInfo(path).lastModified(), QLocale::ShortFormat);
            if (readOnly)
                QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        }
        bool removedBeforePrompt = false;
        pad.atRead(QStringLiteral("SIGCOMP"), 1, [&] {
            removedBeforePrompt = !QFile::exists(path);
            pad.signSample();
        });
        harness.window->transTotal = QStringLiteral("stale");

        harness.host.send(request);
        const QString saving = "Saving Signature: doFtp=[" + doFtpWord + "]";
        if (readOnly) {
            QTRY_VERIFY_WITH_TIMEOUT(harness.statusLines().contains("Signature File: " + modified),
                                     CaptureMs);
            QCOMPARE(harness.host.receiveFor(20 * PadHarness::PollMs), QByteArray());
            QVERIFY(QFile::exists(path));
            QVERIFY(pad.writtenBytes(QStringLiteral("SIGCOMP")).isEmpty());
            QVERIFY(pad.writtenBytes(QStringLiteral("TOTAL")).isEmpty());
            QVERIFY(!pad.formHistory().contains(QStringLiteral("padSig")));
            QCOMPARE(pad.readCount(QStringLiteral("SIGCOMP")), 0);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(harness.statusLines().contains(saving), CaptureMs);

        const QStringList lines = harness.statusLines();
        const qsizetype getLine = lines.indexOf(QStringLiteral("Get Signature:"));
        QVERIFY(getLine >= 0);
        QCOMPARE(lines.value(getLine + 1),
                 "Signature File: " + (oldFile ? modified : path + "doesn't exist"));
        QVERIFY(removedBeforePrompt);
        QCOMPARE(pad.writtenBytes(QStringLiteral("SIGCOMP")), QByteArray(2, '\0'));
        QCOMPARE(pad.variable(QStringLiteral("TOTAL")),
                 request == ChargeRequest ? QStringLiteral("25.00") : QStringLiteral("stale"));
        QVERIFY(pad.formHistory().contains(QStringLiteral("padSig")));
        QCOMPARE(pad.readCount(QStringLiteral("SIGCOMP")), 1);
        if (doFtpWord == QLatin1String("False")) {
            // The signature the pad delivered is the one in the new file, and the host hears so.
            const QByteArray reply = element("SIGNATURE", "OK") + element("SIGPATH", path);
            QCOMPARE(harness.host.receive(reply.size(), CaptureMs), reply);
            QFile image(path);
            QVERIFY(image.open(QIODevice::ReadOnly));
            QCOMPARE(image.read(1), QByteArray(1, '\x0a'));
            QCOMPARE(harness.window->transID, QString());
        }
    }
};

QTEST_MAIN(TestPadCaptures)
#include "test_pad_captures.moc"

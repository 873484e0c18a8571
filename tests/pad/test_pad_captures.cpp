#include "pad_harness.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <QTimer>
#include <sys/socket.h>

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

class TestPadCaptures : public QObject
{
    Q_OBJECT

    std::unique_ptr<PadHarness> harness;

    /// A fresh window whose host is connected; returns its pad.
    VirtualPadModel &start(const QString &ini = TempAppDir::debugIni())
    {
        harness = std::make_unique<PadHarness>(ini);
        QTest::qVerify(harness->connectHost(), "connectHost()", "", __FILE__, __LINE__);
        return *harness->pad;
    }

private slots:
    void variableWrites_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("failure");
        const QString debug = TempAppDir::debugIni();
        const auto row = [](const char *name, const char *variable, const QString &ini,
                            const char *text, const char *hex, const char *failure) {
            QTest::newRow(name) << variable << ini << text << QByteArray::fromHex(hex) << failure;
        };
        row("TOTAL", "TOTAL", debug, "25.00", "320035002e00300030000000", "Assign TOTAL FAILED");
        row("ACCOUNT empty", "ACCOUNT", debug, "", "0000", "Assign CustACCT FAILED");
        row("FULLNAME", "FULLNAME", debug, "JOSÉ €", "4a004f005300c9002000ac200000",
            "Assign firstname FAILED");
        row("FULLNAME quiet", "FULLNAME", "[Local]\nLocalPort=0\n[settings]\ndebugMode=0\n", "",
            "0000", "Assign firstname FAILED");
    }

    void variableWrites()
    {
        QFETCH(QString, variable);
        QFETCH(QString, ini);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, failure);
        start(ini);
        frmMain &window = *harness->window;
        const auto write = [&](const QString &value) {
            variable == "TOTAL"     ? window.scrivora_setVar_total(value)
            : variable == "ACCOUNT" ? window.scrivora_setVar_account(value)
                                    : window.scrivora_setVar_fullname(value);
        };
        window.statusMsg = QStringLiteral("kept");
        write(text);
        QCOMPARE(harness->pad->writtenBytes(variable), bytes);
        QCOMPARE(window.statusMsg, QStringLiteral("kept"));

        const qsizetype linesBefore = harness->statusLines().size();
        harness->pad->refuseVarWrite(variable, -1);
        write(QStringLiteral("9.99"));
        QCOMPARE(window.statusMsg, failure);
        // Only the name failure reaches the status list, whatever the debug mode.
        QCOMPARE(harness->statusLines().mid(linesBefore),
                 variable == "FULLNAME" ? QStringList{failure} : QStringList{});
        QVERIFY(harness->dialogs.messages.isEmpty());
    }

    void newTransactionClearsThenWaitsThenWelcomes()
    {
        VirtualPadModel &pad = start();
        frmMain &window = *harness->window;
        for (QString *field : {&window.transID, &window.transType, &window.custName,
                               &window.custAcct, &window.transTotal, &window.sigFileExt})
            *field = QStringLiteral("x");
        pad.showForm(QStringLiteral("padSig"));
        QStringList duringWait;
        QTimer::singleShot(0, &window, [&] {
            duringWait << window.transID + window.transType + window.custName + window.custAcct +
                              window.transTotal
                       << pad.currentForm();
        });
        QElapsedTimer waited;
        waited.start();
        window.scrivora_new_transaction();

        QCOMPARE(duringWait, (QStringList{QString(), QStringLiteral("padSig")}));
        QVERIFY(waited.elapsed() >= 5 * PadHarness::PollMs);
        QCOMPARE(pad.currentForm(), QStringLiteral("padWelcome"));
        QCOMPARE(window.statusMsg, QStringLiteral("New Transaction"));
        QCOMPARE(window.sigFileExt, QStringLiteral("x"));
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
        row("PIN", Pin, block, 3, "padPin", element("PINBLOCK", block), {"PIN=" + block});
        row("PIN 0", Pin, "0", 3, "padPin", element("PINBLOCK", ""), {"PIN="});
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
        // A card left from an earlier swipe must not be taken for this one.
        pad.swipe(QStringLiteral("%B0000^OLD/CARD^?"), QStringLiteral(";0000=0?"));
        pad.setReadStatus(QStringLiteral("TRACK1"), track1Status);
        const QString polled = request == Swipe ? "TRACK1" : request == Pin ? "PIN" : "SIGCOMP";
        pad.atRead(polled, polls, [&] {
            customer == "fail"            ? throw PadError("link lost")
            : customer.startsWith("card") ? pad.swipeSampleCard()
                                          : pad.enterPin(customer);
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
        QCOMPARE(harness->host.receiveFor(20 * PadHarness::PollMs), reply);
        QCOMPARE(pad.readCount(polled), polls);
        // TRACK2 is read only when the TRACK1 read reports a non-zero status.
        if (customer != "fail")
            QCOMPARE(pad.readCount(QStringLiteral("TRACK2")),
                     request == Swipe && track1Status != 0 ? polls : 0);
        // The transaction stays open; a PIN request carries none.
        QCOMPARE(harness->window->transID, QString(request == Pin ? "" : "17"));
        const QRegularExpression logged(QStringLiteral("Timeout|TRACK\\d=|PIN=|Error"));
        QCOMPARE(harness->statusLines().filter(logged), lines);
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
            seen = QStringList{harness->window->transID,
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

            harness->host.send(Charge);
            QCOMPARE(harness->host.receive(reply.size(), CaptureMs), reply);
            const QStringList lines = harness->statusLines();
            QCOMPARE(lines.mid(lines.lastIndexOf(QStringLiteral("Get Signature:")), 2),
                     (QStringList{"Get Signature:", "Signature File: " + fileLine}));
            QVERIFY(removedBeforeSigning);
            QCOMPARE(harness->window->transID, QString());
        }
    }
};

QTEST_MAIN(TestPadCaptures)
#include "test_pad_captures.moc"

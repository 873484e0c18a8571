#include "app/frm_main.h"
#include "host_client.h"
#include "hostlink/host_listener.h"
#include "hostlink/host_reply.h"
#include "pad/virtual_pad_driver.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QListWidget>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <memory>

namespace {

const QByteArray NoTransactionError = "<ERROR>transID not set when getSignature</ERROR>";
/// A request that always earns NoTransactionError while no transaction is open.
const QByteArray AskWithoutTransaction = "TRANS=CC;VERIF=GOOD;";

/// A main window with recorded dialogs, a virtual pad and fast polls, in debug mode.
class Harness
{
public:
    explicit Harness(const QString &iniText = TempAppDir::debugIni(), int pollIntervalMs = 2)
        : dir(iniText)
    {
        frmMainSeams seams;
        seams.dialogs = &dialogs;
        seams.padDevice = std::make_unique<VirtualPadDriver>(pad);
        seams.appDir = dir.path();
        seams.pollIntervalMs = pollIntervalMs;
        window = std::make_unique<frmMain>(std::move(seams));
        window->iniFile = dir.iniPath();
        window->sigFileExt = QStringLiteral(".PCX");
        window->debugMode = true;
        pad->openPort();
    }

    bool listen(const QString &port = QStringLiteral("0"))
    {
        window->localPort = port;
        return window->startListening();
    }
    quint16 port() const { return window->listenSocket->serverPort(); }

    /// Connects a host and waits until the window has given it a slot.
    bool connect(HostClient &host)
    {
        const qint16 before = window->socketCT;
        return host.connectTo(port()) && QTest::qWaitFor([&] { return window->socketCT > before; });
    }

    QStringList log() const
    {
        QStringList lines;
        for (int row = 0; row < window->listStatus->count(); ++row)
            lines << window->listStatus->item(row)->text();
        return lines;
    }

    /// The characters of every request read so far, from the "Length: " lines.
    qsizetype charactersRead() const
    {
        qsizetype total = 0;
        for (const QString &line : log())
            if (line.startsWith(QLatin1String("Length: ")))
                total += line.mid(8).toLongLong();
        return total;
    }

    std::vector<qint16> slotNumbers() const
    {
        std::vector<qint16> numbers;
        for (const auto &slot : window->socket)
            numbers.push_back(slot.first);
        return numbers;
    }

    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    TempAppDir dir;
    std::unique_ptr<frmMain> window;
};

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray everyByte(int rounds)
{
    QByteArray bytes;
    for (int round = 0; round < rounds; ++round)
        for (int code = 0; code < 256; ++code)
            bytes.append(char(code));
    return bytes;
}

} // namespace

class TestHostLink : public QObject
{
    Q_OBJECT

private slots:
    void listening_data();
    void listening();
    void windowLoadListensOnConfiguredPort();
    void slotNumbering();
    void replyGoesToCountedSlot();
    void repliesOnlyLoggedInDebugOnlyMode();
    void returnXmlFiltersInPlace();
    void replyWithoutConnectionFails();
    void protocolErrors_data();
    void protocolErrors();
    void recordFields_data();
    void recordFields();
    void abort_data();
    void abort();
    void capturesAnswerTheHost_data();
    void capturesAnswerTheHost();
    void requestDuringCaptureIsAnsweredAtOnce();
    void requestJustBeforeCloseIsHandled();
    void badInput_data();
    void badInput();
};

void TestHostLink::listening_data()
{
    QTest::addColumn<QString>("iniText");
    QTest::addColumn<QString>("localPort"); // %1: an unused port
    QTest::addColumn<bool>("listens");
    QTest::addColumn<QString>("why"); // part of the operator's message

    const QString ini = TempAppDir::debugIni();
    QTest::newRow("configured port") << ini << "%1" << true << "";
    QTest::newRow("leading zeros") << ini << "000%1" << true << "";
    QTest::newRow("default text of the reader") << ini << "LocalPort" << false << "no port number";
    QTest::newRow("too high") << ini << "70000" << false << "no port number";
    QTest::newRow("negative") << ini << "-1" << false << "no port number";
    QTest::newRow("letters") << ini << "abc" << false << "no port number";
    QTest::newRow("taken") << ini << "taken" << false << "already in use";
    QTest::newRow("other loopback address")
        << "[Local]\nListenAddress=127.0.0.2\n[settings]\ndebugMode=1\n"
        << "%1" << true << "";
    QTest::newRow("bad address") << "[Local]\nListenAddress=no.such.address\n"
                                 << "%1" << false << "no.such.address";
}

void TestHostLink::listening()
{
    QFETCH(QString, iniText);
    QFETCH(QString, localPort);
    QFETCH(bool, listens);
    QFETCH(QString, why);

    QTcpServer occupier;
    if (localPort == QLatin1String("taken")) {
        QVERIFY(occupier.listen(QHostAddress::LocalHost, 0));
        localPort = QString::number(occupier.serverPort());
    }
    const quint16 free = unusedPort();
    localPort.replace(QLatin1String("%1"), QString::number(free));

    Harness harness(iniText);
    QCOMPARE(harness.listen(localPort), listens);
    if (listens) {
        QCOMPARE(harness.port(), free);
        QCOMPARE(harness.window->statusMsg, QStringLiteral("Listening to Port: %1").arg(free));
        QVERIFY(harness.dialogs.messages.isEmpty());
        return;
    }
    QCOMPARE(harness.dialogs.messages.size(), 1);
    const QString message = harness.dialogs.messages.first();
    QVERIFY2(message.startsWith(QStringLiteral("Cannot listen on port %1: ").arg(localPort)),
             qPrintable(message));
    QVERIFY2(message.contains(why), qPrintable(message));
    QVERIFY(!message.contains(QLatin1Char('\n')));
    QVERIFY(!harness.window->listenSocket || !harness.window->listenSocket->isListening());
    QVERIFY(!harness.window->statusMsg.startsWith(QLatin1String("Listening")));
}

void TestHostLink::windowLoadListensOnConfiguredPort()
{
    const quint16 free = unusedPort();
    Harness harness(QStringLiteral("[Local]\nLocalPort=0%1\n[settings]\ndebugMode=1\n").arg(free));
    harness.window->debugMode = false;
    harness.window->onWindowLoad();
    QCOMPARE(harness.window->exitStatus(), 0);
    QCOMPARE(harness.window->statusMsg, QStringLiteral("Listening to Port: %1").arg(free));
    QVERIFY(harness.window->debugMode);

    HostClient host;
    QVERIFY(host.connectTo(free));
    host.send(AskWithoutTransaction);
    QCOMPARE(host.receive(NoTransactionError.size()), NoTransactionError);
}

// Slots count up, out-of-order closes leave a gap that the next connection fills, and the
// log names every request and close.
void TestHostLink::slotNumbering()
{
    Harness harness;
    QVERIFY(harness.listen());
    frmMain &window = *harness.window;

    HostClient first, second, third;
    QVERIFY(harness.connect(first));
    QCOMPARE(window.socketCT, qint16(1));
    QVERIFY(harness.log().contains(QStringLiteral("socketCT=1 socket.ubound0")));
    const QString requestLine = QStringLiteral("Connection request id ") + window.lastRequestID +
                                QStringLiteral(" from 127.0.0.1");
    QVERIFY2(harness.log().contains(requestLine), qPrintable(harness.log().join('\n')));

    QVERIFY(harness.connect(second));
    QVERIFY(harness.log().contains(QStringLiteral("socketCT=2 socket.ubound1")));
    QCOMPARE(harness.slotNumbers(), (std::vector<qint16>{1, 2}));

    first.close();
    QTRY_COMPARE(window.socketCT, qint16(1));
    QCOMPARE(harness.slotNumbers(), std::vector<qint16>{2});
    QVERIFY(harness.log().contains(QStringLiteral("Connection closed: 127.0.0.1")));

    // Slot 2 is still busy although the count says 2: the newcomer takes slot 1.
    QVERIFY(harness.connect(third));
    QVERIFY(harness.log().contains(QStringLiteral("socketCT=2 socket.ubound2")));
    QCOMPARE(harness.slotNumbers(), (std::vector<qint16>{1, 2}));
    QCOMPARE(window.socket.at(1)->peerPort(), third.socket().localPort());

    second.close();
    third.close();
    QTRY_COMPARE(window.socketCT, qint16(0));
    QVERIFY(window.socket.empty());

    HostClient again;
    QVERIFY(harness.connect(again));
    QCOMPARE(harness.log().count(QStringLiteral("socketCT=1 socket.ubound0")), 2);
}

void TestHostLink::replyGoesToCountedSlot()
{
    Harness harness;
    QVERIFY(harness.listen());
    HostClient first, second;
    QVERIFY(harness.connect(first));
    QVERIFY(harness.connect(second));

    first.send(AskWithoutTransaction);
    QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
    QCOMPARE(first.receiveFor(100), QByteArray());

    // With the second gone the count is 1 again and replies go to slot 1.
    second.close();
    QTRY_COMPARE(harness.window->socketCT, qint16(1));
    first.send(AskWithoutTransaction);
    QCOMPARE(first.receive(NoTransactionError.size()), NoTransactionError);

    // Closed out of order: slot 1 (the count) is gone, so the asking connection answers.
    HostClient third;
    QVERIFY(harness.connect(third));
    first.close();
    QTRY_COMPARE(harness.window->socketCT, qint16(1));
    QVERIFY(!harness.window->socket.count(1));
    third.send(AskWithoutTransaction);
    QCOMPARE(third.receive(NoTransactionError.size()), NoTransactionError);
}

void TestHostLink::repliesOnlyLoggedInDebugOnlyMode()
{
    Harness harness;
    QVERIFY(harness.listen());
    harness.window->debugModeOnly = true;
    HostClient host;
    QVERIFY(harness.connect(host));

    host.send(AskWithoutTransaction);
    QTRY_VERIFY(harness.log().contains(QString::fromLatin1(NoTransactionError)));
    QCOMPARE(host.receiveFor(150), QByteArray());
    QCOMPARE(harness.log().filter(QStringLiteral("Send xml")), QStringList());
}

void TestHostLink::returnXmlFiltersInPlace()
{
    Harness harness;
    QVERIFY(harness.listen());
    HostClient host;
    QVERIFY(harness.connect(host));

    QString data = QStringLiteral("O\tK\r\n");
    QString tag = QStringLiteral("signature");
    QString additionalXML = QString::fromLatin1("<SIGPATH>/app/\xe9"
                                                "17.PCX\x7f</SIGPATH>");
    harness.window->return_xml(data, tag, additionalXML);

    const QByteArray expected = "<SIGNATURE>OK</SIGNATURE><SIGPATH>/app/17.PCX</SIGPATH>";
    QCOMPARE(host.receive(expected.size()), expected);
    QCOMPARE(data, QStringLiteral("OK"));
    QCOMPARE(tag, QStringLiteral("SIGNATURE"));
    QCOMPARE(additionalXML, QStringLiteral("<SIGPATH>/app/17.PCX</SIGPATH>"));
    const QStringList tail = harness.log().mid(harness.log().size() - 2);
    QCOMPARE(tail, (QStringList{"Send xml" + QString::fromLatin1(expected),
                                QString::fromLatin1(expected)}));

    harness.window->debugMode = false;
    const qsizetype linesBefore = harness.log().size();
    harness.window->return_xml(data, tag, additionalXML);
    QCOMPARE(host.receive(expected.size()), expected);
    QCOMPARE(harness.log().size(), linesBefore);
}

void TestHostLink::replyWithoutConnectionFails()
{
    Harness harness;
    QVERIFY(harness.listen());
    QString data = QStringLiteral("x");
    QString tag = QStringLiteral("ERROR");
    QString additionalXML;
    QVERIFY_THROWS_EXCEPTION(ReplyNotSent, harness.window->return_xml(data, tag, additionalXML));
    QCOMPARE(harness.log().last(), QStringLiteral("Send xml<ERROR>x</ERROR>"));
}

void TestHostLink::protocolErrors_data()
{
    QTest::addColumn<QByteArray>("before"); // sent first, its own replies not looked at
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // empty: nothing at all
    QTest::addColumn<QString>("transID");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("other job while one is open")
        << QByteArray("TRANS=XX;UNIQU=17;") << QByteArray("UNIQU=42;")
        << QByteArray("<ERROR>Transaction in progress for job 17</ERROR>") << "17"
        << "Mismatch unique for strVal: 42 transID: 17";
    QTest::newRow("same job again")
        << QByteArray("UNIQU=17;") << QByteArray("UNIQU=17;") << QByteArray() << "17"
        << "Length: 9";
    QTest::newRow("verified without a job")
        << QByteArray() << QByteArray("TRANS=CC;verif=good;") << NoTransactionError << ""
        << "verified 1: good transID: ";
    QTest::newRow("malformed piece before the verification")
        << QByteArray() << QByteArray("TRANS=CC;oops;VERIF=GOOD;") << QByteArray() << ""
        << "Error in DataArrival";
    QTest::newRow("line end after the last ;")
        << QByteArray() << QByteArray("TRANS=CC;VERIF=GOOD;\r\n") << QByteArray() << ""
        << "Error in DataArrival";
    QTest::newRow("single item without ;")
        << QByteArray("TRANS=CC;") << QByteArray("VERIF=GOOD") << QByteArray() << ""
        << "Length: 10";
}

void TestHostLink::protocolErrors()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, transID);
    QFETCH(QString, logLine);

    Harness harness;
    QVERIFY(harness.listen());
    HostClient host;
    QVERIFY(harness.connect(host));
    if (!before.isEmpty()) {
        host.send(before);
        QTRY_COMPARE(harness.charactersRead(), before.size());
        host.receiveFor(50);
    }
    host.send(request);
    if (reply.isEmpty())
        QCOMPARE(host.receiveFor(200), QByteArray());
    else
        QCOMPARE(host.receive(reply.size()), reply);
    QCOMPARE(harness.window->transID, transID);
    QVERIFY2(harness.log().contains(logLine), qPrintable(harness.log().join('\n')));
}

void TestHostLink::recordFields_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QStringList>("record"); // transID, transType, transTotal, custName, custAcct
    QTest::addColumn<QString>("statusMsg");

    QTest::newRow("lower-case type starts nothing")
        << QByteArray("TRANS=cc;UNIQU=17;TOTAL=25.00;") << QStringList{"17", "cc", "25.00", "", ""}
        << "";
    QTest::newRow("value after the last =, blanks kept, empty total")
        << QByteArray("NAME=A=B;ACCOU=981 ;TOTAL=;") << QStringList{"", "", "", "B", "981 "} << "";
    QTest::newRow("keys that match nothing")
        << QByteArray(" TRANS=CC;TRANSID=9;=5;") << QStringList{"", "", "", "", ""} << "";
    QTest::newRow("CH without a total") << QByteArray("TRANS=CH;UNIQU=18;NAME=J SMITH;ACCOU=981;")
                                        << QStringList{"18", "CH", "", "J SMITH", "981"} << "";
    QTest::newRow("malformed piece keeps what came before")
        << QByteArray("TRANS=XX;BOGUS;NAME=X;") << QStringList{"", "XX", "", "", ""}
        << "Error in DataArrival";
    QTest::newRow("PIN entry only for TRUE")
        << QByteArray("PINPD=no;TRANS=XX;") << QStringList{"", "XX", "", "", ""} << "";
}

void TestHostLink::recordFields()
{
    QFETCH(QByteArray, request);
    QFETCH(QStringList, record);
    QFETCH(QString, statusMsg);

    Harness harness;
    QVERIFY(harness.listen());
    harness.window->statusMsg.clear();
    HostClient host;
    QVERIFY(harness.connect(host));
    host.send(request);
    QTRY_COMPARE(harness.charactersRead(), request.size());

    const frmMain &window = *harness.window;
    QCOMPARE((QStringList{window.transID, window.transType, window.transTotal, window.custName,
                          window.custAcct}),
             record);
    QCOMPARE(window.statusMsg, statusMsg);
    QCOMPARE(harness.pad->callCount(QStringLiteral("getVar")), 0);
    if (record.at(1) == QLatin1String("CH"))
        QVERIFY(harness.log().contains(
            QStringLiteral("CH: totalSet=[False] transID=[18] custAcct=[981] custName=[J SMITH]")));
}

void TestHostLink::abort_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("cleared");
    QTest::addColumn<QString>("custName");

    QTest::newRow("accepted") << QByteArray("ABORT=TRUE;") << true << "";
    QTest::newRow("value compared exactly") << QByteArray("ABORT=true;") << false << "ANN";
    QTest::newRow("single item without ;") << QByteArray("ABORT=TRUE") << false << "ANN";
    QTest::newRow("ends the request") << QByteArray("abort=TRUE;NAME=Z;") << true << "";
    QTest::newRow("after other items") << QByteArray("NAME=Z;ABORT=TRUE;") << true << "";
    QTest::newRow("refused goes on") << QByteArray("ABORT=NO;NAME=Z;") << false << "Z";
}

void TestHostLink::abort()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, cleared);
    QFETCH(QString, custName);

    Harness harness;
    QVERIFY(harness.listen());
    frmMain &window = *harness.window;
    window.transID = QStringLiteral("17");
    window.transType = QStringLiteral("XX");
    window.custName = QStringLiteral("ANN");
    window.custAcct = QStringLiteral("981");
    window.transTotal = QStringLiteral("25.00");
    HostClient host;
    QVERIFY(harness.connect(host));

    host.send(request);
    QTRY_COMPARE(harness.charactersRead(), request.size());
    QCOMPARE(host.receiveFor(100), QByteArray());
    QCOMPARE(window.transID.isEmpty(), cleared);
    QCOMPARE(window.transType.isEmpty(), cleared);
    QCOMPARE(window.custAcct.isEmpty(), cleared);
    QCOMPARE(window.transTotal.isEmpty(), cleared);
    QCOMPARE(window.custName, custName);
    QCOMPARE(harness.pad->currentForm() == QLatin1String("padWelcome"), cleared);
}

void TestHostLink::capturesAnswerTheHost_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("transType");

    const QByteArray swipe =
        "<SWIPE>" +
        removeNonPrintable(VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2())
            .toLatin1() +
        "</SWIPE>";
    QTest::newRow("card swipe") << QByteArray() << QByteArray("TRANS=CC;UNIQU=17;TOTAL=25.00")
                                << swipe << "CC";
    QTest::newRow("error first, then the swipe for the open job")
        << QByteArray("TRANS=CC;UNIQU=17;") << QByteArray("UNIQU=42;TOTAL=1.00;")
        << "<ERROR>Transaction in progress for job 17</ERROR>" + swipe << "CC";
    QTest::newRow("PIN entry ends the request")
        << QByteArray("TRANS=XX;") << QByteArray("PINPD=true;TRANS=CC;")
        << QByteArray("<PINBLOCK>0123456789ABCDEF</PINBLOCK>") << "XX";
}

void TestHostLink::capturesAnswerTheHost()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, transType);

    Harness harness;
    QVERIFY(harness.listen());
    HostClient host;
    QVERIFY(harness.connect(host));
    if (!before.isEmpty()) {
        host.send(before);
        QTRY_COMPARE(harness.charactersRead(), before.size());
    }
    VirtualPadModel &pad = *harness.pad;
    pad.atRead(QStringLiteral("TRACK1"), 3, [&pad] { pad.swipeSampleCard(); });
    pad.atRead(QStringLiteral("PIN"), 3,
               [&pad] { pad.enterPin(QStringLiteral("0123456789ABCDEF")); });
    host.send(request);
    QCOMPARE(host.receive(reply.size()), reply);
    QCOMPARE(harness.window->transType, transType);
}

// A request on the very connection whose capture is waiting is handled inside that wait,
// and both replies find their way back.
void TestHostLink::requestDuringCaptureIsAnsweredAtOnce()
{
    Harness harness(TempAppDir::debugIni(), 10);
    QVERIFY(harness.listen());
    HostClient host;
    QVERIFY(harness.connect(host));
    VirtualPadModel &pad = *harness.pad;
    pad.atRead(QStringLiteral("TRACK1"), 1, [&host] { host.send("UNIQU=99;"); });
    pad.atRead(QStringLiteral("TRACK1"), 40, [&pad] { pad.swipeSampleCard(); });

    host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
    const QByteArray error = "<ERROR>Transaction in progress for job 17</ERROR>";
    const QByteArray replies = host.receive(error.size() + 7);
    QVERIFY2(replies.startsWith(error + "<SWIPE>"), replies.constData());
    QCOMPARE(harness.log().count(QStringLiteral("Mismatch unique for strVal: 99 transID: 17")), 1);
}

void TestHostLink::requestJustBeforeCloseIsHandled()
{
    Harness harness;
    QVERIFY(harness.listen());
    harness.window->transID = QStringLiteral("17");
    HostClient host;
    QVERIFY(harness.connect(host));
    host.send("ABORT=TRUE;");
    host.close();
    QTRY_COMPARE(harness.window->socketCT, qint16(0));
    QCOMPARE(harness.window->transID, QString());
    const QStringList log = harness.log();
    QVERIFY(log.indexOf(QStringLiteral("Length: 11")) <
            log.indexOf(QStringLiteral("Connection closed: 127.0.0.1")));
}

void TestHostLink::badInput_data()
{
    QTest::addColumn<QByteArrayList>("parts"); // sent one after the other, with a pause

    QTest::newRow("every byte value") << QByteArrayList{everyByte(4)};
    QTest::newRow("NUL bytes") << QByteArrayList{QByteArray("NAME=\0\0X;\0;=\0", 13)};
    QTest::newRow("more than one read") << QByteArrayList{QByteArray(70000, 'N') + "=x;"};
    QTest::newRow("split across reads") << QByteArrayList{"TRANS=C", "C;NAME=X;"};
    QTest::newRow("keys with spaces") << QByteArrayList{"  TRANS = CC ; NAME  =  X ;UN IQU=5;"};
    QTest::newRow("thousands of items") << QByteArrayList{QByteArray("NAME=x;").repeated(6000)};
    QTest::newRow("line ends only") << QByteArrayList{"\r\n\r\n;\n;"};
}

// Whatever arrives, every byte is read as request text, nothing crashes, and the
// connection still answers afterwards.
void TestHostLink::badInput()
{
    QFETCH(QByteArrayList, parts);

    Harness harness;
    QVERIFY(harness.listen());
    HostClient host;
    QVERIFY(harness.connect(host));
    qsizetype sent = 0;
    for (const QByteArray &part : parts) {
        host.send(part);
        sent += part.size();
        QTRY_COMPARE(harness.charactersRead(), sent);
    }
    harness.window->transID.clear();
    host.send(AskWithoutTransaction);
    QCOMPARE(host.receive(NoTransactionError.size()), NoTransactionError);
    QCOMPARE(harness.window->socketCT, qint16(1));
}

QTEST_MAIN(TestHostLink)
#include "test_host_link.moc"

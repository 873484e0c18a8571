#include "hostlink/host_listener.h"
#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"
#include "pad_harness.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <sys/socket.h>

namespace {

const QByteArray NoTransactionError = "<ERROR>transID not set when getSignature</ERROR>";
/// A request that always earns NoTransactionError while no transaction is open.
const QByteArray AskWithoutTransaction = "TRANS=CC;VERIF=GOOD;";

/// Connects @p host to the window and waits until the window has given it a slot.
bool join(PadHarness &harness, HostClient &host)
{
    const qint16 before = harness.window->socketCT;
    return host.connectTo(harness.window->listenSocket->serverPort()) &&
           QTest::qWaitFor([&] { return harness.window->socketCT > before; });
}

/// The characters of every request read so far, from the "Length: " lines.
qsizetype charactersRead(const PadHarness &harness)
{
    qsizetype total = 0;
    for (const QString &line : harness.statusLines())
        if (line.startsWith(QLatin1String("Length: ")))
            total += line.mid(8).toLongLong();
    return total;
}

} // namespace

class TestHostLink : public QObject
{
    Q_OBJECT

private slots:
    void requestItems_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("items"); // "KEY=value" or "!piece" (malformed), "|" between

        QTest::newRow("ending with ;") << QString("TRANS=CC;UNIQU=17;") << "TRANS=CC|UNIQU=17";
        QTest::newRow("missing last ;") << QString("TRANS=CC;UNIQU=17") << "TRANS=CC|UNIQU=17";
        QTest::newRow("single item without ;") << QString("ABORT=TRUE") << "";
        QTest::newRow("lower-case key") << QString("verif=good;") << "VERIF=good";
        QTest::newRow("value with =") << QString("NAME=A=B;=X;") << "NAME=B|=X";
        QTest::newRow("empty items") << QString(";;TRANS=CC;;;NAME=;;") << "TRANS=CC|NAME=";
        QTest::newRow("trailing line end") << QString("ABORT=TRUE;\r\n") << "ABORT=TRUE|!\r\n";
        QTest::newRow("spaces kept") << QString(" TRANS=CC ;") << " TRANS=CC ";
        QTest::newRow("malformed piece") << QString("A=1;BOGUS;B=2;") << "A=1|!BOGUS|B=2";
        QTest::newRow("NUL and Latin-1")
            << QString::fromLatin1("n\0\xe9=a\0b;", 8) << QString::fromLatin1("N\0\xc9=a\0b", 7);
    }
    void requestItems()
    {
        QFETCH(QString, request);
        QStringList rendered;
        for (const QString &piece : requestPieces(request)) {
            const std::optional<RequestItem> item = parseRequestItem(piece);
            rendered << (item ? item->key + QLatin1Char('=') + item->value : '!' + piece);
        }
        QTEST(rendered.join('|'), "items");
    }

    void filtering_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printable");

        QTest::newRow("printable ends kept") << QString(" a\tb\r\n~") << " ab~";
        QTest::newRow("control, DEL, NUL") << QString::fromLatin1("\x01x\x1f\x7fy\0z", 7) << "xyz";
        QTest::newRow("above DEL") << QString::fromLatin1("/\xe9t\xa0\xff.PCX") << "/t.PCX";
        QTest::newRow("beyond Latin-1") << QString::fromUtf8("a\u20acb\u0178c") << "abc";
    }
    void filtering()
    {
        QFETCH(QString, text);
        QTEST(removeNonPrintable(text), "printable");
    }

    void listening_data()
    {
        QTest::addColumn<QString>("local");   // [Local] settings; %1: a free port, %2: a taken one
        QTest::addColumn<QString>("failure"); // the operator's message goes on so; empty: listens

        QTest::newRow("leading zeros") << "LocalPort=000%1" << QString();
        QTest::newRow("letters") << "LocalPort=abc" << QString("abc: it is no port number");
        QTest::newRow("too high") << "LocalPort=65536" << QString("65536: it is no port number");
        QTest::newRow("taken") << "LocalPort=%2" << QString("%2: ");
        QTest::newRow("bad address") << "LocalPort=%1\nListenAddress=no.such"
                                     << QString("%1: ListenAddress no.such is no IP address");
    }
    void listening()
    {
        QFETCH(QString, local);
        QFETCH(QString, failure);
        QTcpServer other, probe;
        QVERIFY(other.listen(QHostAddress::LocalHost) && probe.listen(QHostAddress::LocalHost));
        const QString free = QString::number(probe.serverPort());
        const auto ports = [&](QString text) {
            return text.replace("%1", free).replace("%2", QString::number(other.serverPort()));
        };
        probe.close();

        PadHarness harness("[Local]\n" + ports(local) + "\n");
        const QStringList &messages = harness.dialogs.messages;
        QCOMPARE(harness.window->exitStatus(), failure.isEmpty() ? 0 : 1);
        if (failure.isEmpty())
            QCOMPARE(harness.window->statusMsg, "Listening to Port: " + free);
        else
            QVERIFY2(messages.size() == 1 &&
                         messages.first().startsWith("Cannot listen on port " + ports(failure)),
                     qPrintable(messages.join('\n')));
    }

    // Slots count up and an out-of-order close leaves a gap for the next connection. Replies
    // go to the slot named by the count, or else to the connection that asked.
    void slotsAndReplyTarget()
    {
        PadHarness harness;
        frmMain &window = *harness.window;
        HostClient &first = harness.host;
        HostClient second, third, again;
        QVERIFY(join(harness, first) && join(harness, second));
        QVERIFY(harness.statusLines().contains("Connection request id " + window.lastRequestID +
                                               " from 127.0.0.1"));
        first.send(AskWithoutTransaction);
        QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
        QCOMPARE(first.receiveFor(100), QByteArray());

        first.send("NAME=X;"); // read before the close that follows it
        first.close();
        QTRY_COMPARE(window.socketCT, qint16(1));
        second.send(AskWithoutTransaction); // the count is 1, slot 1 is gone
        QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
        QVERIFY(join(harness, third));
        QCOMPARE(window.socket.at(1)->peerPort(), third.socket().localPort());

        second.close();
        third.close();
        QTRY_COMPARE(window.socketCT, qint16(0));
        QVERIFY(join(harness, again));
        QCOMPARE(harness.statusLines().filter(QRegularExpression("^(socketCT|Length: 7|Conn.*d:)")),
                 (QStringList{"socketCT=1 socket.ubound0", "socketCT=2 socket.ubound1", "Length: 7",
                              "Connection closed: 127.0.0.1", "socketCT=2 socket.ubound2",
                              "Connection closed: 127.0.0.1", "Connection closed: 127.0.0.1",
                              "socketCT=1 socket.ubound0"}));
    }

    void replies()
    {
        PadHarness harness;
        frmMain &window = *harness.window;
        QVERIFY(join(harness, harness.host));
        QString data = "O\tK\r\n", tag = "signature", extra = "<P>/\u00e917.PCX\x7f</P>";
        window.return_xml(data, tag, extra);
        const QByteArray expected = "<SIGNATURE>OK</SIGNATURE><P>/17.PCX</P>";
        QCOMPARE(harness.host.receive(expected.size()), expected);
        QCOMPARE(data + ' ' + tag + ' ' + extra,
                 "OK SIGNATURE <P>/17.PCX</P>"); // filtered in place
        QCOMPARE(harness.statusLines().mid(harness.statusLines().size() - 2),
                 (QStringList{"Send xml" + expected, expected}));

        window.debugModeOnly = true;
        harness.host.send(AskWithoutTransaction);
        QTRY_VERIFY(harness.statusLines().contains(QString::fromLatin1(NoTransactionError)));
        QCOMPARE(harness.host.receiveFor(150), QByteArray());
        QCOMPARE(harness.statusLines().filter("Send xml").size(), 1);

        window.debugModeOnly = false;
        harness.host.close();
        QTRY_COMPARE(window.socketCT, qint16(0));
        QVERIFY_THROWS_EXCEPTION(ReplyNotSent, window.return_xml(data, tag, extra));
    }

    // A host may close its sending side right after its request and still wait for the
    // answer; the socket layer reports a close, but the capture's late reply must arrive.
    void replyAfterHostClosedItsSendingSide()
    {
        PadHarness harness;
        QVERIFY(join(harness, harness.host));
        harness.pad->atRead("PIN", 3, [&harness] { harness.pad->enterPin("1234ABCD"); });
        harness.host.send("PINPD=TRUE;");
        ::shutdown(int(harness.host.socket().socketDescriptor()), SHUT_WR);
        QTRY_VERIFY(harness.statusLines().contains("Connection closed: 127.0.0.1"));
        const QByteArray expected = "<PINBLOCK>1234ABCD</PINBLOCK>";
        QCOMPARE(harness.host.receive(expected.size()), expected);
        QCOMPARE(harness.window->socketCT, qint16(0));
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("before"); // sent and read first
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // empty: nothing at all
        QTest::addColumn<QString>("record");   // transID|type|total|name|account|pad form
        QTest::addColumn<QString>("logLine");
        const auto row = [](const char *name, const QByteArray &before, const QByteArray &request,
                            const QByteArray &reply, const char *record, const char *logLine) {
            QTest::newRow(name) << before << request << reply << QString(record)
                                << QString(logLine);
        };

        const QByteArray swipe = // the sample card the pad is swiped with on its third read
            "<SWIPE>" +
            removeNonPrintable(VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2())
                .toLatin1() +
            "</SWIPE>";
        const QByteArray open = "TRANS=XX;UNIQU=17;NAME=ANN;ACCOU=981;TOTAL=25.00;";
        const char *kept = "17|XX|25.00|ANN|981|padStart";
        const char *cleared = "|||||padWelcome";
        row("other job: error at once, then swipe", "TRANS=CC;UNIQU=17;", "UNIQU=42;TOTAL=1.00;",
            "<ERROR>Transaction in progress for job 17</ERROR>" + swipe, "17|CC|1.00|||padStart",
            "Mismatch unique for strVal: 42 transID: 17");
        row("same job again", open, "UNIQU=17;", "", kept, "Length: 9");
        row("verified without job", "", "TRANS=CC;verif=good;", NoTransactionError,
            "|CC||||padStart", "verified 1: good transID: ");
        row("line end: unanswered", "", "TRANS=CC;VERIF=GOOD;\r\n", "", "|CC||||padStart",
            "Error in DataArrival");
        row("fields", "", "TRANS=cc;UNIQU=5;NAME=A=B;ACCOU=9 ;TOTAL=;", "", "5|cc||B|9 |padStart",
            "");
        row("keys that match nothing", "", " TRANS=CC;TRANSID=9;=5;PINPD=no;", "", "|||||padStart",
            "");
        row("CH without total", "", "TRANS=CH;UNIQU=18;NAME=J S;ACCOU=981;", "",
            "18|CH||J S|981|padStart",
            "CH: totalSet=[False] transID=[18] custAcct=[981] custName=[J S]");
        row("PIN entry ends the request", "TRANS=XX;", "PINPD=true;TRANS=CC;",
            "<PINBLOCK>0123456789ABCDEF</PINBLOCK>", "|XX||||padPin", "");
        row("abort", open, "ABORT=TRUE;", "", cleared, "");
        row("abort ends the request", open, "abort=TRUE;NAME=Z;", "", cleared, "");
        row("abort after items", open, "NAME=Z;ABORT=TRUE;", "", cleared, "");
        row("abort value exact", open, "ABORT=true;", "", kept, "");
        row("abort without ;", open, "ABORT=TRUE", "", kept, "");
        // Bad input: read in full, without a crash; "*": whatever record results.
        QByteArray everyByte;
        for (int code = 0; code < 1024; ++code)
            everyByte.append(char(code));
        row("every byte value", "", everyByte, "", "*", "");
        row("NUL bytes", "", QByteArray("NAME=\0\0X;\0;=\0", 13), "", "*", "Error in DataArrival");
        row("64 KiB and more", "", QByteArray(70000, 'N') + "=x;", "", "|||||padStart", "");
        row("split across reads", "TRANS=C", "C;NAME=X;", "", "|||||padStart", "");
        row("keys with spaces", "", "  TRANS = CC ; NAME  =  X ;UN IQU=5;", "", "|||||padStart",
            "");
        row("thousands of items", "", QByteArray("NAME=x;").repeated(6000), "", "|||x||padStart",
            "");
    }
    void requests()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, record);
        QFETCH(QString, logLine);

        PadHarness harness;
        frmMain &window = *harness.window;
        VirtualPadModel &pad = *harness.pad;
        QVERIFY(join(harness, harness.host));
        harness.host.send(before);
        QTRY_COMPARE(charactersRead(harness), before.size());
        window.showPadForm("padStart");
        pad.atRead("TRACK1", 3, [&pad] { pad.swipeSampleCard(); });
        pad.atRead("PIN", 3, [&pad] { pad.enterPin("0123456789ABCDEF"); });

        harness.host.send(request);
        QCOMPARE(harness.host.receive(reply.size(), reply.isEmpty() ? 200 : 5000), reply);
        QTRY_COMPARE(charactersRead(harness), before.size() + request.size());
        if (record != "*")
            QCOMPARE((QStringList{window.transID, window.transType, window.transTotal,
                                  window.custName, window.custAcct, pad.currentForm()})
                         .join('|'),
                     record);
        QVERIFY2(logLine.isEmpty() || harness.statusLines().contains(logLine),
                 qPrintable(harness.statusLines().join('\n')));
        window.transID.clear(); // the connection still answers
        harness.host.send(AskWithoutTransaction);
        QCOMPARE(harness.host.receive(NoTransactionError.size()), NoTransactionError);
    }
};

QTEST_MAIN(TestHostLink)
#include "test_host_link.moc"

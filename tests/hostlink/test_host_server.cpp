#include "hostlink/host_replier.h"
#include "hostlink/host_reply.h"
#include "hostlink/host_server.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service_harness.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <memory>

#include <QScopeGuard>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray NoTransactionError = "<ERROR>transID not set when getSignature</ERROR>";
/// A request that always earns NoTransactionError while no transaction is open.
const QByteArray AskWithoutTransaction = "TRANS=CC;VERIF=GOOD;";

} // namespace

class TestHostServer : public QObject
{
    Q_OBJECT

private slots:
    void listening_data()
    {
        QTest::addColumn<QString>("local");   // [Local] settings; %1: a free port, %2: a taken one
        QTest::addColumn<QString>("failure"); // the operator's message goes on so; empty: listens

        QTest::newRow("leading zeros") << "LocalPort=000%1" << QString();
        QTest::newRow("sign, zero fraction") << "LocalPort=+%1.00" << QString();
        QTest::newRow("fraction") << "LocalPort=5000.5" << QString("5000.5: it is no port number");
        QTest::newRow("negative") << "LocalPort=-5000" << QString("-5000: it is no port number");
        QTest::newRow("letters") << "LocalPort=abc" << QString("abc: it is no port number");
        QTest::newRow("too high") << "LocalPort=65536" << QString("65536: it is no port number");
        QTest::newRow("taken") << "LocalPort=%2" << QString("%2: the port is in use");
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

        ServiceHarness harness("[Local]\n" + ports(local) + "\n");
        const QStringList &messages = harness.dialogs.messages;
        QCOMPARE(harness.started, failure.isEmpty());
        // A port that another program holds opens no pad.
        if (local.contains("%2"))
            QVERIFY(!harness.pad->isPortOpen());
        if (failure.isEmpty())
            QCOMPARE(harness.service->log().statusMsg(), "Listening to Port: " + free);
        else
            QVERIFY2(messages.size() == 1 &&
                         messages.first().startsWith("Cannot listen on port " + ports(failure)),
                     qPrintable(messages.join('\n')));
    }

    // While start-up still connects the pad (here its message box is open), nothing listens:
    // a host is refused and tries again, instead of waiting unanswered for the operator.
    void nothingListensBeforeThePadIsConnected()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        QStringList connectsMeanwhile;
        ServiceHarness harness(QStringLiteral("[Local]\nLocalPort=%1\n").arg(port), 21,
                               [&](ServiceHarness &prepared) {
                                   prepared.pad->refuseOpen(-2);
                                   prepared.dialogs.onMessage = [&](const QString &) {
                                       QTcpSocket early;
                                       early.connectToHost(QHostAddress::LocalHost, port);
                                       early.waitForConnected(1000);
                                       connectsMeanwhile << early.errorString();
                                   };
                               });
        QCOMPARE(connectsMeanwhile.size(), 2); // the failed open, then the welcome form
        for (const QString &error : connectsMeanwhile)
            QCOMPARE(error, QStringLiteral("Connection refused"));
        QVERIFY(harness.connectHost());
    }

    // Shut-down while the pad is being connected ends start-up without a word about the port.
    void shutDownWhileThePadConnects()
    {
        ServiceHarness harness(TempAppDir::debugIni(), 21, [](ServiceHarness &prepared) {
            prepared.pad->refuseOpen(-2);
            prepared.dialogs.onMessage = [&prepared](const QString &) {
                prepared.service->beginShutDown();
                prepared.service->closeHostLink();
            };
        });
        QVERIFY(!harness.started);
        QVERIFY(!harness.service->hostServer().isListening());
        QCOMPARE(harness.dialogs.messages.filter("Cannot listen"), QStringList());
    }

    // A second Scrivora that starts while the first still connects its pad finds the port
    // taken before it opens any pad.
    void secondInstanceWhileTheFirstConnects()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString ini = QStringLiteral("[Local]\nLocalPort=%1\n").arg(probe.serverPort());
        probe.close();
        std::unique_ptr<ServiceHarness> second;
        ServiceHarness first(ini, 21, [&](ServiceHarness &prepared) {
            prepared.pad->refuseOpen(-2);
            prepared.dialogs.onMessage = [&](const QString &) {
                if (!second)
                    second = std::make_unique<ServiceHarness>(ini);
            };
        });
        QVERIFY(first.started);
        QVERIFY(second && !second->started);
        QVERIFY(!second->pad->isPortOpen());
        QCOMPARE(second->dialogs.messages.size(), 1);
        QVERIFY2(second->dialogs.messages.first().contains("the port is in use"),
                 qPrintable(second->dialogs.messages.first()));
    }

    // Slots count up and an out-of-order close leaves a gap for the next connection. Replies
    // go to the slot named by the count, or else to the connection that asked.
    void slotsAndReplyTarget()
    {
        ServiceHarness harness;
        const HostServer &server = harness.service->hostServer();
        HostClient &first = harness.host;
        HostClient second, third, again;
        QVERIFY(harness.join(first) && harness.join(second));
        QVERIFY(harness.statusLines.contains("Connection request id " + server.lastRequestID() +
                                             " from 127.0.0.1"));
        first.send(AskWithoutTransaction);
        QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
        QCOMPARE(first.receiveFor(100), QByteArray());

        first.send("NAME=X;"); // read before the close that follows it
        first.close();
        QTRY_COMPARE(server.socketCT(), qint16(1));
        second.send(AskWithoutTransaction); // the count is 1, slot 1 is gone
        QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
        QVERIFY(harness.join(third)); // into the gap: slot 1, so the count's slot 2 is second's
        third.send(AskWithoutTransaction);
        QCOMPARE(second.receive(NoTransactionError.size()), NoTransactionError);
        HostClient fourth;
        QVERIFY(harness.join(fourth)); // the gap is filled: slot 3, the count's own
        fourth.send(AskWithoutTransaction);
        QCOMPARE(fourth.receive(NoTransactionError.size()), NoTransactionError);
        fourth.close();
        QTRY_COMPARE(server.socketCT(), qint16(2));

        second.close();
        third.close();
        QTRY_COMPARE(server.socketCT(), qint16(0));
        QVERIFY(harness.join(again));
        QCOMPARE(harness.statusLines.filter(QRegularExpression("^(socketCT|Length: 7|Conn.*d:)")),
                 (QStringList{"socketCT=1 socket.ubound0", "socketCT=2 socket.ubound1", "Length: 7",
                              "Connection closed: 127.0.0.1", "socketCT=2 socket.ubound2",
                              "socketCT=3 socket.ubound2", "Connection closed: 127.0.0.1",
                              "Connection closed: 127.0.0.1", "Connection closed: 127.0.0.1",
                              "socketCT=1 socket.ubound0"}));
    }

    // With the count's slot gone, a request handled inside another one's capture wait is
    // answered to its own host, and the capture's answer still reaches the host that asked.
    void nestedRepliesGoToTheirAskers()
    {
        ServiceHarness harness;
        HostClient &swiper = harness.host;
        HostClient gone, other;
        QVERIFY(harness.join(swiper) && harness.join(gone) && harness.join(other));
        gone.close();
        QTRY_COMPARE(harness.service->hostServer().socketCT(), qint16(2)); // slot 2 is gone
        VirtualPadModel &pad = *harness.pad;
        const QByteArray mismatch = "<ERROR>Transaction in progress for job 17</ERROR>";
        QByteArray otherGot;
        pad.atRead(QStringLiteral("TRACK1"), 2, [&] {
            other.send("UNIQU=42;");
            otherGot = other.receive(mismatch.size(), 5000);
        });
        pad.atRead(QStringLiteral("TRACK1"), 3, [&pad] { pad.swipeSampleCard(); });
        swiper.send("TRANS=CC;UNIQU=17;TOTAL=1.00;");
        QVERIFY(swiper.receive(7, 5000).startsWith("<SWIPE>%B4111"));
        QCOMPARE(otherGot, mismatch);
    }

    void replies()
    {
        ServiceHarness harness;
        HostReplier &replier = harness.service->replier();
        QVERIFY(harness.connectHost());
        QString data = "O\tK\r\n", tag = "signature", extra = "<P>/\u00e917.PCX\x7f</P>";
        replier.return_xml(data, tag, extra);
        const QByteArray expected = "<SIGNATURE>OK</SIGNATURE><P>/17.PCX</P>";
        QCOMPARE(harness.host.receive(expected.size()), expected);
        QCOMPARE(data + ' ' + tag + ' ' + extra,
                 "OK SIGNATURE <P>/17.PCX</P>"); // filtered in place
        QCOMPARE(harness.statusLines.mid(harness.statusLines.size() - 2),
                 (QStringList{"Send xml" + expected, expected}));

        // A host that has closed is gone: a reply to it is a send failure.
        harness.host.close();
        QTRY_COMPARE(harness.service->hostServer().socketCT(), qint16(0));
        QVERIFY_THROWS_EXCEPTION(ReplyNotSent, replier.return_xml(data, tag, extra));
    }

    void debugOnlyRepliesAreLoggedNotSent()
    {
        ServiceHarness harness(
            TempAppDir::debugIni().replace("debugModeOnly=0", "debugModeOnly=1"));
        QVERIFY(harness.connectHost());
        harness.host.send(AskWithoutTransaction);
        QTRY_VERIFY(harness.statusLines.contains(QString::fromLatin1(NoTransactionError)));
        QCOMPARE(harness.host.receiveFor(150), QByteArray());
        QCOMPARE(harness.statusLines.filter("Send xml").size(), 0);
    }

    // A host that sends faster than it reads is held back by TCP, and one that never reads
    // its replies is given up at the bound; the other host is answered again right after.
    void neverReadingHostIsGivenUp()
    {
        ServiceHarness harness(TempAppDir::debugIni().replace("debugMode=1", "debugMode=0"));
        HostClient other;
        QVERIFY(harness.join(other) && harness.connectHost()); // the never-reader has slot 2
        other.send("UNIQU=1;");
        QTRY_COMPARE(harness.service->record().transID, QString("1"));
        // Its socket takes nothing from the system any more.
        harness.host.socket().setReadBufferSize(1);
        const QByteArray burst = QByteArray("UNIQU=2;").repeated(8000); // 8,000 replies a read
        const HostServer &server = harness.service->hostServer();
        qsizetype mostUnsent = 0;
        for (int round = 0; round < 400 && server.socketCT() == 2; ++round) {
            harness.host.socket().write(burst);
            QTest::qWait(5);
            if (const HostConnection *neverReader = server.connectionInSlot(2))
                mostUnsent = qMax(mostUnsent, neverReader->unsentBytes());
        }
        QCOMPARE(server.socketCT(), qint16(1));
        QVERIFY2(mostUnsent > 0 && mostUnsent <= 1024 * 1024,
                 qPrintable(QString::number(mostUnsent) + " reply bytes were held"));
        const QByteArray error = "<ERROR>Transaction in progress for job 1</ERROR>";
        other.send("UNIQU=3;");
        QCOMPARE(other.receive(error.size(), 1000), error);
    }

    // Replies the socket did not take at once go out later in order, every byte once.
    void aSlowReaderGetsEveryReplyByte()
    {
        ServiceHarness harness(TempAppDir::debugIni().replace("debugMode=1", "debugMode=0"));
        QVERIFY(harness.connectHost());
        harness.host.send("UNIQU=1;");
        QTRY_COMPARE(harness.service->record().transID, QString("1"));
        harness.host.socket().setReadBufferSize(1);
        const QByteArray burst = QByteArray("UNIQU=2;").repeated(2000);
        const HostServer &server = harness.service->hostServer();
        qsizetype requests = 0;
        const auto heldBack = [&server] {
            const HostConnection *reader = server.connectionInSlot(1);
            return reader && reader->unsentBytes() > 0;
        };
        for (int round = 0; round < 400 && !heldBack(); ++round) {
            harness.host.socket().write(burst);
            requests += 2000;
            QTest::qWait(5);
        }
        QVERIFY(heldBack());

        harness.host.socket().setReadBufferSize(0);
        const QByteArray error = "<ERROR>Transaction in progress for job 1</ERROR>";
        const QByteArray received = harness.host.receive(requests * error.size(), 20000);
        QCOMPARE(received.size(), requests * error.size());
        QVERIFY(received == error.repeated(requests));
        QCOMPARE(server.socketCT(), qint16(1));
    }

    // Thousands of hosts connecting at once all get a slot, and every request is answered;
    // the listener's backlog and the descriptor limit are the system's largest.
    void thousandsOfSimultaneousConnections()
    {
        raiseOpenFileLimit(); // the hosts' ends live in this process as well
        ServiceHarness harness(TempAppDir::debugIni().replace("debugMode=1", "debugMode=0"));
        const int hosts = 2000;
        std::vector<int> sockets;
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(harness.port());
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < hosts; ++i) {
            const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            QVERIFY(descriptor >= 0);
            ::connect(descriptor, reinterpret_cast<const sockaddr *>(&server), sizeof server);
            sockets.push_back(descriptor);
        }
        const auto closeAll = qScopeGuard([&sockets] {
            for (const int descriptor : sockets)
                ::close(descriptor);
        });
        QTRY_COMPARE_WITH_TIMEOUT(int(harness.service->hostServer().socketCT()), hosts, 20000);
        harness.service->forms().scrivora_clear_padvars();
        const QByteArray request = "TRANS=CC;VERIF=GOOD;";
        for (const int descriptor : sockets)
            QCOMPARE(::send(descriptor, request.constData(), size_t(request.size()), 0),
                     ssize_t(request.size()));
        // Every reply goes to the slot the count names; all of them arrive.
        qsizetype received = 0;
        const qsizetype expected = hosts * NoTransactionError.size();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                char buffer[65536];
                for (const int descriptor : sockets)
                    for (ssize_t n; (n = ::recv(descriptor, buffer, sizeof buffer, 0)) > 0;)
                        received += n;
                return received == expected;
            }(),
            20000);
    }
};

QTEST_MAIN(TestHostServer)
#include "test_host_server.moc"

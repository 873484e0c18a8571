#include "delivery/ftp_client.h"
#include "delivery/outbox.h"
#include "delivery/outbox_retrier.h"
#include "service_harness.h"
#include "signature/signature_image.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int WaitMs = 20000;

/// pyftpdlib on @p port, serving a home with the back office's ticket directory.
struct FtpServer
{
    explicit FtpServer(quint16 serverPort) : port(serverPort) {}
    ~FtpServer()
    {
        process.kill();
        process.waitForFinished();
    }
    bool start()
    {
        QDir().mkpath(ticket);
        process.start(QStringLiteral("/usr/bin/python3"),
                      {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", QString::number(port), "-w",
                       "-d", home.path(), "-u", "till", "-P", "Right-Pass"});
        return QTest::qWaitFor(
            [this] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port);
                return probe.waitForReadyRead(500) && probe.readAll().startsWith("220");
            },
            10000);
    }
    QByteArray stored(const QString &name) const { return fileBytes(ticket + name); }

    quint16 port;
    QTemporaryDir home;
    QString ticket = home.filePath(QStringLiteral("vm/miame/dsk37/170170/"));
    QProcess process;
};

QString remote(const QString &password)
{
    return TempAppDir::debugIni(QStringLiteral("[remote]\nftpURL=127.0.0.1\nftpUser=till\n"
                                               "ftpPass=%1\n")
                                    .arg(password));
}

/// Signs job @p jobId on the harness's pad with @p strokes and waits for the whole delivery.
void signJob(ServiceHarness &harness, const QString &jobId, const SignatureStrokes &strokes)
{
    VirtualPadModel &pad = *harness.pad;
    const int reads = pad.readCount(QStringLiteral("SIGCOMP"));
    pad.atRead(QStringLiteral("SIGCOMP"), reads + 2, [&pad, strokes] { pad.sign(strokes); });
    harness.host.send(QStringLiteral("TRANS=CH;UNIQU=%1;TOTAL=9.00;NAME=A;ACCOU=1;DOFTP=Y;")
                          .arg(jobId)
                          .toLatin1());
    QVERIFY(harness.host.receive(20, WaitMs).startsWith("<SIGNATURE>OK</SIGNATURE>"));
    QTRY_COMPARE_WITH_TIMEOUT(pad.currentForm(), QStringLiteral("padWelcome"), WaitMs);
}

const SignatureStrokes First = {{{10, 10}, {100, 40}}};
const SignatureStrokes Second = {{{20, 120}, {300, 20}, {310, 150}}};

} // namespace

// A signature that the host asked to upload is never lost: what does not land waits in the
// outbox, and lands later by a retry, after a restart, or is replaced by a newer signature.
class TestSignatureOutbox : public QObject
{
    Q_OBJECT

private slots:
    void refusedLoginThenFixedPassword()
    {
        FtpServer server(freePort());
        QVERIFY(server.start());
        ServiceHarness harness(remote(QStringLiteral("Wrong-Pass")), server.port);
        harness.service->inet().setTimeouts({4000, 4, 4, 20});
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("18"), First);
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 1, WaitMs);
        QVERIFY2(harness.statusLines.contains(
                     "Outbox: job 18 not uploaded (login refused (530)), kept for retry"),
                 qPrintable(harness.statusLines.join('\n')));
        // The first failure is told after the host's reply and its log lines.
        QVERIFY(harness.statusLines.indexOf(QRegularExpression("Outbox: job 18 not.*")) >
                harness.statusLines.indexOf(QRegularExpression("<SIGNATURE>OK.*")));

        harness.dir.writeIni(remote(QStringLiteral("Right-Pass")));
        harness.service->retrier().retryNow();
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 0, WaitMs);
        QCOMPARE(server.stored(QStringLiteral("18.pcx")), renderSignaturePcx(First));
        QVERIFY(harness.statusLines.contains("Outbox: job 18 uploaded after 2 attempts"));
        QCOMPARE(
            QDir(harness.service->outbox().folder()).entryList(QDir::Files | QDir::NoDotAndDotDot),
            QStringList());
        QVERIFY(!harness.statusLines.join('\n').contains(QStringLiteral("Pass")));
    }

    // The server down, the program restarted, the server up: it lands right after the start.
    void landsAfterRestart()
    {
        const quint16 port = freePort();
        QString outboxOfFirstRun;
        QTemporaryDir kept;
        {
            ServiceHarness harness(remote(QStringLiteral("Right-Pass")), port);
            QVERIFY(harness.connectHost());
            signJob(harness, QStringLiteral("19"), First);
            QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 1, WaitMs);
            // The next run's folder gets this run's outbox.
            QVERIFY(QProcess::execute(
                        "cp", {"-a", harness.service->outbox().folder(), kept.path()}) == 0);
        }
        FtpServer server(port);
        QVERIFY(server.start());
        ServiceHarness restarted(
            remote(QStringLiteral("Right-Pass")), port, [&kept](ServiceHarness &prepared) {
                QProcess::execute("cp", {"-a", kept.filePath("outbox"), prepared.dir.path()});
            });
        QTRY_COMPARE_WITH_TIMEOUT(restarted.service->outbox().count(), 0, WaitMs);
        QCOMPARE(server.stored(QStringLiteral("19.pcx")), renderSignaturePcx(First));
        QVERIFY(restarted.statusLines.contains("Outbox: job 19 uploaded after 2 attempts"));
    }

    // The job id reused while its first signature waits: the second lands by its own upload,
    // the waiting copy is dropped, and the server keeps the second. The operator is alerted
    // when uploads start failing, not at every failure.
    void newerSignatureReplacesTheWaitingOne()
    {
        const quint16 port = freePort();
        ServiceHarness harness(remote(QStringLiteral("Right-Pass")), port);
        QSignalSpy startedFailing(harness.service.get(), &ScrivoraService::uploadsStartedFailing);
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("20"), First);
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 1, WaitMs);
        QCOMPARE(startedFailing.count(), 1);
        auto server = std::make_unique<FtpServer>(port);
        QVERIFY(server->start());
        harness.service->retrier().stop(); // no retry comes first
        signJob(harness, QStringLiteral("20"), Second);
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 0, WaitMs);
        QVERIFY(harness.statusLines.contains("Outbox: job 20 replaced by a newer signature"));
        QCOMPARE(server->stored(QStringLiteral("20.pcx")), renderSignaturePcx(Second));

        server.reset();
        for (const auto &[job, waiting] : {std::pair{"21", 1}, std::pair{"22", 2}}) {
            signJob(harness, QString::fromLatin1(job), First);
            QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), waiting, WaitMs);
        }
        QCOMPARE(startedFailing.count(), 2);
        QCOMPARE(startedFailing.last().value(0).toString(), QStringLiteral("21"));
    }

    // A retry never comes between a host and its answer: it waits while a capture does.
    void retryWaitsForTheCapture()
    {
        ServiceHarness harness(remote(QStringLiteral("Right-Pass")), freePort()); // server down
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("23"), First);
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 1, WaitMs);
        const auto attempts = [&harness] {
            return harness.service->outbox().entries().value(0).attempts;
        };
        QCOMPARE(attempts(), 1);
        VirtualPadModel &pad = *harness.pad;
        int attemptsDuringCapture = 0;
        pad.atRead(QStringLiteral("TRACK1"), 1,
                   [&harness] { harness.service->retrier().retryNow(); });
        pad.atRead(QStringLiteral("TRACK1"), 30, [&] {
            attemptsDuringCapture = attempts();
            pad.swipeSampleCard();
        });
        harness.host.send("TRANS=CC;UNIQU=24;TOTAL=1.00;");
        QVERIFY(harness.host.receive(7, WaitMs).startsWith("<SWIPE>"));
        QCOMPARE(attemptsDuringCapture, 1);
        QTRY_COMPARE_WITH_TIMEOUT(attempts(), 2, WaitMs);
    }

    // Shut-down does not wait for a retry: it lets go of the server at once, and the outbox
    // keeps the signature, its attempts uncounted, for the next start.
    void shutDownLeavesARetry()
    {
        const quint16 port = freePort();
        ServiceHarness harness(remote(QStringLiteral("Right-Pass")), port);
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("25"), First);
        QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), 1, WaitMs);
        QTcpServer mute; // takes the retry's connection and never greets
        QVERIFY(mute.listen(QHostAddress::LocalHost, port));
        harness.service->retrier().retryNow();
        QTRY_VERIFY_WITH_TIMEOUT(mute.hasPendingConnections(), WaitMs);
        QTcpSocket *retry = mute.nextPendingConnection();

        harness.service->beginShutDown();
        // Well before the server's five seconds to greet run out.
        QTRY_COMPARE_WITH_TIMEOUT(retry->state(), QAbstractSocket::UnconnectedState, 2000);
        QCOMPARE(harness.service->outbox().count(), 1);
        QCOMPARE(harness.service->outbox().entries().value(0).attempts, 1);
    }
};

QTEST_MAIN(TestSignatureOutbox)
#include "test_signature_outbox.moc"

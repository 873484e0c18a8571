#include "delivery/ftp_client.h"
#include "delivery/outbox.h"
#include "delivery/outbox_retrier.h"
#include "pyftpd_server.h"
#include "service_harness.h"
#include "signature/signature_image.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <utility>

namespace {

constexpr int WaitMs = 20000;
const QString Till = QStringLiteral("till");
const QString RightPass = QStringLiteral("Right-Pass");

QString remote(const QString &password)
{
    return TempAppDir::debugIni(QStringLiteral("[remote]\nftpURL=127.0.0.1\nftpUser=till\n"
                                               "ftpPass=%1\n")
                                    .arg(password));
}

/// Signs job @p jobId on the harness's pad with @p strokes, waits for the whole delivery, and
/// then, @p withinMs at most, for the outbox to hold @p waitingAfter copies.
void signJob(ServiceHarness &harness, const QString &jobId, const SignatureStrokes &strokes,
             int waitingAfter, int withinMs = WaitMs)
{
    VirtualPadModel &pad = *harness.pad;
    const int reads = pad.readCount(QStringLiteral("SIGCOMP"));
    pad.atRead(QStringLiteral("SIGCOMP"), reads + 2, [&pad, strokes] { pad.sign(strokes); });
    harness.host.send(QStringLiteral("TRANS=CH;UNIQU=%1;TOTAL=9.00;NAME=A;ACCOU=1;DOFTP=Y;")
                          .arg(jobId)
                          .toLatin1());
    QVERIFY(harness.host.receive(20, WaitMs).startsWith("<SIGNATURE>OK</SIGNATURE>"));
    QTRY_COMPARE_WITH_TIMEOUT(pad.currentForm(), QStringLiteral("padWelcome"), WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(harness.service->outbox().count(), waitingAfter, withinMs);
}

const SignatureStrokes First = {{{10, 10}, {100, 40}}};
const SignatureStrokes Second = {{{20, 120}, {300, 20}, {310, 150}}};

/**
 * A host's signature whose upload stalls at a server that never greets, and a second host
 * whose @p nestedRequest arrives once that upload has connected: it is handled inside the
 * upload's wait, and the pad signs for it as well.
 */
struct SignatureNestedInAStalledUpload
{
    explicit SignatureNestedInAStalledUpload(const QByteArray &nestedRequest)
    {
        QObject::connect(&mute, &QTcpServer::newConnection, &mute, [this, nestedRequest] {
            if (std::exchange(nestedSent, true))
                return;
            VirtualPadModel &pad = *harness.pad;
            const int reads = pad.readCount(QStringLiteral("SIGCOMP"));
            pad.atRead(QStringLiteral("SIGCOMP"), reads + 2, [&pad] { pad.signSample(); });
            second.send(nestedRequest);
        });
    }
    /// Connects both hosts and sends the first one's @p request; false when one cannot connect.
    bool start(const QByteArray &request)
    {
        if (!listening || !harness.connectHost() || !harness.join(second))
            return false;
        VirtualPadModel &pad = *harness.pad;
        pad.atRead(QStringLiteral("SIGCOMP"), 2, [&pad] { pad.signSample(); });
        harness.host.send(request);
        return true;
    }

    QTcpServer mute; ///< takes the upload's connection and never greets
    bool listening = mute.listen(QHostAddress::LocalHost);
    ServiceHarness harness{remote(RightPass), mute.serverPort()};
    HostClient second;
    bool nestedSent = false;
};

} // namespace

// A signature that the host asked to upload is never lost: what does not land waits in the
// outbox, and lands later by a retry, after a restart, or is replaced by a newer signature.
class TestSignatureOutbox : public QObject
{
    Q_OBJECT

private slots:
    void refusedLoginThenFixedPassword()
    {
        PyFtpdServer server(freePort(), Till, RightPass);
        QVERIFY(server.serves());
        ServiceHarness harness(remote(QStringLiteral("Wrong-Pass")), server.port());
        harness.service->inet().setTimeouts({4000, 4, 4, 20});
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("18"), First, 1);
        QVERIFY2(harness.statusLines.contains(
                     "Outbox: job 18 not uploaded (login refused (530)), kept for retry"),
                 qPrintable(harness.statusLines.join('\n')));
        // The first failure is told after the host's reply and its log lines.
        QVERIFY(harness.statusLines.indexOf(QRegularExpression("Outbox: job 18 not.*")) >
                harness.statusLines.indexOf(QRegularExpression("<SIGNATURE>OK.*")));

        harness.dir.writeIni(remote(RightPass));
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
            ServiceHarness harness(remote(RightPass), port);
            QVERIFY(harness.connectHost());
            signJob(harness, QStringLiteral("19"), First, 1);
            // The next run's folder gets this run's outbox.
            QVERIFY(QProcess::execute(
                        "cp", {"-a", harness.service->outbox().folder(), kept.path()}) == 0);
        }
        PyFtpdServer server(port, Till, RightPass);
        QVERIFY(server.serves());
        ServiceHarness restarted(remote(RightPass), port, [&kept](ServiceHarness &prepared) {
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
        ServiceHarness harness(remote(RightPass), port);
        QSignalSpy startedFailing(harness.service.get(), &ScrivoraService::uploadsStartedFailing);
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("20"), First, 1);
        QCOMPARE(startedFailing.count(), 1);
        auto server = std::make_unique<PyFtpdServer>(port, Till, RightPass);
        QVERIFY(server->serves());
        harness.service->retrier().stop(); // no retry comes first
        signJob(harness, QStringLiteral("20"), Second, 0);
        QVERIFY(harness.statusLines.contains("Outbox: job 20 replaced by a newer signature"));
        QCOMPARE(server->stored(QStringLiteral("20.pcx")), renderSignaturePcx(Second));

        server.reset();
        for (const auto &[job, waiting] : {std::pair{"21", 1}, std::pair{"22", 2}}) {
            signJob(harness, QString::fromLatin1(job), First, waiting);
        }
        QCOMPARE(startedFailing.count(), 2);
        QCOMPARE(startedFailing.last().value(0).toString(), QStringLiteral("21"));
    }

    // A signature that lands shows the server is back: the waiting copy follows at once,
    // well before its first retry was due.
    void aLandedUploadSendsTheWaitingCopies()
    {
        const quint16 port = freePort();
        ServiceHarness harness(remote(RightPass), port);
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("26"), First, 1);
        PyFtpdServer server(port, Till, RightPass);
        QVERIFY(server.serves());
        signJob(harness, QStringLiteral("27"), Second, 0, 10000);
        QCOMPARE(server.stored(QStringLiteral("26.pcx")), renderSignaturePcx(First));
        QCOMPARE(server.stored(QStringLiteral("27.pcx")), renderSignaturePcx(Second));
    }

    // A retry never comes between a host and its answer: it waits while a capture does.
    void retryWaitsForTheCapture()
    {
        ServiceHarness harness(remote(RightPass), freePort()); // server down
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("23"), First, 1);
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
        ServiceHarness harness(remote(RightPass), port);
        QVERIFY(harness.connectHost());
        signJob(harness, QStringLiteral("25"), First, 1);
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

    // A signature nested in a running upload, asking for an upload of its own, finds the
    // client busy: that is its upload's failure, and the copy waits, saying why.
    void uploadNestedInAnUpload()
    {
        const QByteArray request = "TRANS=CH;UNIQU=33;TOTAL=9.00;NAME=A;ACCOU=1;DOFTP=Y;";
        SignatureNestedInAStalledUpload upload(request);
        QVERIFY(upload.start(request));
        QTRY_VERIFY_WITH_TIMEOUT(
            upload.harness.statusLines.contains(QStringLiteral(
                "Outbox: job 33 not uploaded (another upload was running), kept for retry")),
            WaitMs);
        upload.harness.service->beginShutDown();
    }

    // A capture nested in a running upload, with no upload of its own, is shut down: the
    // upload it sits in is not its to end, and the one that started it ends it and keeps
    // the signature.
    void shutDownInACaptureNestedInAnUpload()
    {
        SignatureNestedInAStalledUpload upload(
            "TRANS=CH;UNIQU=31;TOTAL=9.00;NAME=A;ACCOU=1;DOFTP=N;");
        ScrivoraService &service = *upload.harness.service;
        bool shutDownAsked = false;
        // The nested signature's new transaction: shut-down comes in its pause.
        connect(&service, &ScrivoraService::transactionChanged, this, [&] {
            if (upload.nestedSent && service.record().transID.isEmpty() &&
                !std::exchange(shutDownAsked, true))
                QTimer::singleShot(0, &service, &ScrivoraService::beginShutDown);
        });
        QVERIFY(upload.start("TRANS=CH;UNIQU=31;TOTAL=9.00;NAME=A;ACCOU=1;DOFTP=Y;"));
        QTRY_VERIFY_WITH_TIMEOUT(shutDownAsked, WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(service.outbox().count(), 1, WaitMs);
        QCOMPARE(service.outbox().entries().value(0).lastError,
                 QStringLiteral("interrupted by shut-down"));
    }
};

QTEST_MAIN(TestSignatureOutbox)
#include "test_signature_outbox.moc"

#include "delivery/ftp_client.h"
#include "delivery/signature_delivery.h"
#include "service/captures.h"
#include "service/operator_log.h"
#include "service_harness.h"
#include "signature/signature_image.h"
#include "signature/utf16le.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <optional>

namespace {

const QString User = QStringLiteral("scrivora");
// Not ASCII: the settings file's bytes must reach the server as they are.
const QString Password = QStringLiteral("Pass-w\u00f6rd");
const QString TicketDirectory = QStringLiteral("vm/miame/dsk37/170170/");
const FtpTimeouts ShortTimeouts{2000, 2, 2, 20};

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

/// The test FTP servers (plain, TLS and one that never confirms an upload) in one Python
/// process that ends with the test, serving a temporary root that holds the ticket folder.
struct FtpServers
{
    ~FtpServers()
    {
        // The servers end when their input closes.
        process.closeWriteChannel();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished();
    }
    bool start()
    {
        QDir(root()).mkpath(TicketDirectory);
        process.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(SCRIVORA_FTP_SERVERS), root(), User, Password, dir.path()});
        for (;;) {
            while (!process.canReadLine()) {
                if (!process.waitForReadyRead(10000))
                    return false;
            }
            const QByteArray line = process.readLine().trimmed();
            if (line == "ready")
                return true;
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 2)
                ports[QString::fromLatin1(words[0])] = words[1].toUShort();
        }
    }
    QString root() const { return dir.filePath(QStringLiteral("root")); }
    QString ticket(const QString &name) const { return root() + '/' + TicketDirectory + name; }
    QString certificate() const { return dir.filePath(QStringLiteral("cert.pem")); }

    QTemporaryDir dir;
    QProcess process;
    QHash<QString, quint16> ports;
};

/// Accepts connections and then says nothing, or only its greeting.
struct SilentServer : QTcpServer
{
    explicit SilentServer(bool greet)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, greet] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                ++accepted;
                if (greet)
                    socket->write("220 Service ready\r\n");
            }
        });
    }
    int accepted = 0;
};

QString remoteSettings(const QString &url, const QString &password = Password)
{
    // Saved as a text editor on Linux saves it, in UTF-8.
    return QStringLiteral("[remote]\nftpURL=%1\nftpUser=%2\nftpPass=%3\n")
        .arg(url, User, QString::fromLatin1(password.toUtf8()));
}

QByteArray signatureReply(const ServiceHarness &harness, const QString &transID)
{
    return QStringLiteral("<SIGNATURE>OK</SIGNATURE><SIGPATH>%1/%2.PCX</SIGPATH>")
        .arg(harness.dir.path(), transID)
        .toLatin1();
}

/// One delivery of the sample signature for the job Tx17B, named by the host, as the service
/// runs it after a capture; what came of it is kept.
struct Delivery
{
    explicit Delivery(ServiceHarness &harness) : harness(harness) {}

    bool prepare()
    {
        harness.host.send("TRANS=XX;UNIQU=Tx17B;");
        if (!QTest::qWaitFor([this] { return record().transID == QLatin1String("Tx17B"); }))
            return false;
        QString data = encodeSignature(sampleSignature());
        harness.service->delivery().scrivora_signature_save(data, record().transID);
        return QFile::exists(harness.dir.filePath(QStringLiteral("Tx17B.PCX")));
    }
    void run(bool doFtp)
    {
        QElapsedTimer timer;
        timer.start();
        harness.service->delivery().scrivora_signature_ftp(
            doFtp, record().transID,
            [this] {
                newTransaction = true;
                if (shutDownInNewTransaction)
                    QTimer::singleShot(0, harness.service.get(),
                                       [this] { harness.service->beginShutDown(); });
                harness.service->captures().scrivora_new_transaction();
            },
            [this](const UploadReport &upload) {
                report = upload;
                ++reports;
            });
        elapsedMs = timer.elapsed();
    }
    const TransactionRecord &record() const { return harness.service->record(); }
    QString status() const { return harness.service->log().statusMsg(); }

    ServiceHarness &harness;
    std::optional<UploadReport> report;
    int reports = 0;
    bool newTransaction = false;
    bool shutDownInNewTransaction = false;
    qint64 elapsedMs = 0;
};

} // namespace

class TestSignatureDelivery : public QObject
{
    Q_OBJECT

    FtpServers m_servers;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_servers.start(), "the test FTP servers do not start");
        QCOMPARE(m_servers.ports.size(), 3);
    }

    void save_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("status"); // "overflow": the save throws and leaves it alone

        QTest::newRow("sample") << encodeSignature(sampleSignature()) << "untouched";
        QTest::newRow("no signature") << "scribble"
                                      << "scrivora_signature_save Failed";
        // Two bytes per code unit: 32,766 is the largest count a text can have below the limit.
        // Still strokes: the tag takes 3 units, each stroke's start 5 and each further point 2.
        QTest::newRow("32,766 bytes")
            << encodeSignature({SignatureStroke(8186, {5, 5}), {{9, 9}}}) << "untouched";
        QTest::newRow("32,768 bytes")
            << encodeSignature({SignatureStroke(8189, {5, 5})}) << "overflow";
    }

    void save()
    {
        QFETCH(QString, data);
        QFETCH(QString, status);
        const bool overflow = status == QLatin1String("overflow");
        QVERIFY(data.size() < 1000 || data.size() == (overflow ? 16384 : 16383));
        ServiceHarness harness;
        QVERIFY(harness.started);
        harness.service->log().setStatusMsg(QStringLiteral("untouched"));
        SignatureDelivery &delivery = harness.service->delivery();

        if (overflow)
            QVERIFY_THROWS_EXCEPTION(std::overflow_error,
                                     delivery.scrivora_signature_save(data, QStringLiteral("17")));
        else
            delivery.scrivora_signature_save(data, QStringLiteral("17"));

        const auto strokes = decodeSignature(utf16LeBytes(data));
        QCOMPARE(fileBytes(harness.dir.filePath(QStringLiteral("17.PCX"))),
                 status == QLatin1String("untouched") ? renderSignaturePcx(*strokes)
                                                      : QByteArray());
        QCOMPARE(harness.service->log().statusMsg(),
                 overflow ? QStringLiteral("untouched") : status);
    }

    void uploadAndReply_data()
    {
        QTest::addColumn<QString>("url");
        // A server of the Python process, "down", "mute" or "greets" (servers that stall);
        // "skip": no upload asked; "refuses": a wrong password; "abort": a stall and an
        // abort from the host.
        QTest::addColumn<QString>("server");
        // "upload": on the server; "unconfirmed": on the server, but the upload failed;
        // "reply": the host is answered all the same; "error": nothing is.
        QTest::addColumn<QString>("outcome");

        const QString host = QStringLiteral("127.0.0.1");
        QTest::newRow("no upload") << host << "skip"
                                   << "reply";
        QTest::newRow("upload") << "ftp://127.0.0.1/x"
                                << "plain"
                                << "upload";
        QTest::newRow("TLS upload") << "ftps://127.0.0.1"
                                    << "tls"
                                    << "upload";
        QTest::newRow("login refused") << host << "refuses"
                                       << "reply";
        QTest::newRow("server down") << host << "down"
                                     << "reply";
        QTest::newRow("never answers") << host << "mute"
                                       << "reply";
        QTest::newRow("stalls") << host << "greets"
                                << "reply";
        QTest::newRow("abort") << host << "abort"
                               << "reply";
        QTest::newRow("no confirmation") << host << "unconfirmed"
                                         << "unconfirmed";
        QTest::newRow("no server set") << QString() << "plain"
                                       << "reply";
        QTest::newRow("TLS against plain") << "ftps://127.0.0.1"
                                           << "plain"
                                           << "reply";
        QTest::newRow("TLS untrusted") << "ftps://127.0.0.1"
                                       << "tls"
                                       << "reply";
        QTest::newRow("URL refused") << "http://127.0.0.1"
                                     << "plain"
                                     << "error";
    }

    void uploadAndReply()
    {
        QFETCH(QString, url);
        QFETCH(QString, server);
        QFETCH(QString, outcome);

        std::unique_ptr<SilentServer> silent;
        if (server == QLatin1String("mute") || server == QLatin1String("greets") ||
            server == QLatin1String("abort"))
            silent = std::make_unique<SilentServer>(server != QLatin1String("mute"));
        const quint16 port = silent ? silent->serverPort()
                             : server == QLatin1String("down")
                                 ? freeLoopbackPort()
                                 : m_servers.ports.value(server, m_servers.ports["plain"]);
        ServiceHarness harness(
            TempAppDir::debugIni(remoteSettings(
                url, server == QLatin1String("refuses") ? QStringLiteral("wrong") : Password)),
            port);
        QVERIFY(harness.connectHost());
        harness.service->inet().setTimeouts(ShortTimeouts);
        if (QTest::currentDataTag() != QLatin1String("TLS untrusted"))
            harness.service->inet().setCaCertificates(m_servers.certificate());
        const QString uploaded = m_servers.ticket(QStringLiteral("tx17b.pcx"));
        QFile::remove(uploaded);
        Delivery delivery(harness);
        QVERIFY(delivery.prepare());
        if (server == QLatin1String("abort")) // arrives while the client still waits
            QTimer::singleShot(300, [&harness] { harness.host.send("ABORT=TRUE;"); });

        delivery.run(server != QLatin1String("skip"));

        const bool landed = outcome == QLatin1String("upload");
        QCOMPARE(fileBytes(uploaded), landed || outcome == QLatin1String("unconfirmed")
                                          ? renderSignaturePcx(sampleSignature())
                                          : QByteArray());
        QVERIFY(!silent || silent->accepted == 1);
        // Every failure ends within the client's time-outs, well before a minute.
        QCOMPARE_LT(delivery.elapsedMs, ShortTimeouts.serverResponseSec * 1000 + 3000);
        if (outcome == QLatin1String("error")) {
            QCOMPARE(harness.host.receiveFor(200), QByteArray());
            QCOMPARE(delivery.status(), QStringLiteral("Error in FTP of signature file"));
            QVERIFY(!delivery.newTransaction);
            QVERIFY(!delivery.report);
            return;
        }
        // An abort empties the record before the reply names the file.
        const QByteArray expected = signatureReply(
            harness, server == QLatin1String("abort") ? QString() : QStringLiteral("Tx17B"));
        QCOMPARE(harness.host.receive(expected.size()), expected);
        const QStringList decided =
            harness.statusLines.filter(QRegularExpression("^(doFtp|ticketPath)"));
        QCOMPARE(decided,
                 (QStringList{server == QLatin1String("skip") ? "doFtp: False" : "doFtp: True",
                              "ticketPath: put Tx17B.PCX /vm/miame/dsk37/170170/tx17b.pcx"}));
        QCOMPARE(delivery.status(), QStringLiteral("New Transaction"));
        QVERIFY(delivery.newTransaction);
        QCOMPARE(delivery.report.has_value(), server != QLatin1String("skip"));
        if (delivery.report) {
            QCOMPARE(delivery.report->landed, landed);
            QCOMPARE(delivery.report->error.isEmpty(), landed);
            QCOMPARE(delivery.report->remoteName, "/" + TicketDirectory + "tx17b.pcx");
        }
    }

    // Shut-down does not wait for the server: the upload ends at once and the host, about
    // to be disconnected, is not answered.
    void shutDownEndsStalledUpload_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("waiting for the login") << "greets";
        QTest::newRow("waiting for the confirmation") << "unconfirmed";
    }

    void shutDownEndsStalledUpload()
    {
        QFETCH(QString, server);
        SilentServer silent(true);
        ServiceHarness harness(TempAppDir::debugIni(remoteSettings(QStringLiteral("127.0.0.1"))),
                               server == QLatin1String("greets") ? silent.serverPort()
                                                                 : m_servers.ports[server]);
        QVERIFY(harness.connectHost());
        constexpr FtpTimeouts LongTimeouts{6000, 6, 6, 30};
        harness.service->inet().setTimeouts(LongTimeouts);
        Delivery delivery(harness);
        QVERIFY(delivery.prepare());
        QTimer::singleShot(300, [&harness] { harness.service->beginShutDown(); });

        delivery.run(true);

        QCOMPARE_LT(delivery.elapsedMs, 2500);
        QCOMPARE(harness.host.receiveFor(300), QByteArray());
        QCOMPARE(delivery.status(), QStringLiteral("Error in FTP of signature file"));
        QVERIFY(!delivery.newTransaction);
        QVERIFY(delivery.report);
        QVERIFY(!delivery.report->landed);
        QCOMPARE(delivery.report->error, QStringLiteral("interrupted by shut-down"));
        QVERIFY(!harness.service->inet().stillExecuting());
    }

    // A shut-down during the new transaction's wait ends it, but the upload, reported before
    // that wait, is not reported again.
    void shutDownAfterTheUpload()
    {
        ServiceHarness harness(TempAppDir::debugIni(remoteSettings(QStringLiteral("127.0.0.1"))),
                               m_servers.ports["plain"]);
        QVERIFY(harness.connectHost());
        Delivery delivery(harness);
        QVERIFY(delivery.prepare());
        delivery.shutDownInNewTransaction = true;

        delivery.run(true);

        QVERIFY(delivery.newTransaction);
        QCOMPARE(delivery.status(), QStringLiteral("Error in FTP of signature file"));
        QCOMPARE(delivery.reports, 1);
        QVERIFY(delivery.report->landed);
        QVERIFY(harness.host.receiveFor(300).startsWith("<SIGNATURE>OK</SIGNATURE>"));
    }

    void wholeCardTransaction()
    {
        ServiceHarness harness(TempAppDir::debugIni(remoteSettings(QStringLiteral("127.0.0.1"))),
                               m_servers.ports["plain"]);
        QVERIFY(harness.connectHost());
        harness.pad->atRead(QStringLiteral("TRACK1"), 3,
                            [&harness] { harness.pad->swipeSampleCard(); });
        harness.pad->atRead(QStringLiteral("SIGCOMP"), 3,
                            [&harness] { harness.pad->signSample(); });
        QByteArray received;
        const auto replyEndsWith = [&harness, &received](const QByteArray &end) {
            return QTest::qWaitFor(
                [&] { return (received += harness.host.receive(0, 10)).endsWith(end); }, 20000);
        };
        QFile::remove(m_servers.ticket(QStringLiteral("17.pcx")));

        harness.host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
        QVERIFY(replyEndsWith("</SWIPE>"));
        QCOMPARE(
            received,
            "<SWIPE>" +
                (VirtualPadModel::sampleTrack1() + VirtualPadModel::sampleTrack2()).toLatin1() +
                "</SWIPE>");
        received.clear();
        harness.host.send("VERIF=GOOD;DOFTP=Y;");
        const QByteArray reply = signatureReply(harness, QStringLiteral("17"));
        QVERIFY(replyEndsWith(reply));
        QCOMPARE(received, reply);
        QTRY_COMPARE(harness.pad->currentForm(), QStringLiteral("padWelcome"));
        const QByteArray local = fileBytes(harness.dir.filePath(QStringLiteral("17.PCX")));
        QCOMPARE(local, renderSignaturePcx(sampleSignature()));
        QCOMPARE(fileBytes(m_servers.ticket(QStringLiteral("17.pcx"))), local);
    }
};

QTEST_GUILESS_MAIN(TestSignatureDelivery)
#include "test_signature_delivery.moc"

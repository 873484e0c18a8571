#include "app/frm_main.h"
#include "delivery/ftp_client.h"
#include "delivery/signature_image.h"
#include "ftp_test_servers.h"
#include "pad/virtual_pad_driver.h"

#include "host_client.h"
#include "hostlink/host_listener.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QFile>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

/// The virtual pad's driver, remembering what the save was handed.
class RecordingPadDriver : public VirtualPadDriver
{
public:
    using VirtualPadDriver::VirtualPadDriver;

    void saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                       qint16 &status) override
    {
        ++saves;
        savedBytes = bytes;
        savedCount = count;
        savedPath = path;
        VirtualPadDriver::saveSignature(bytes, count, path, status);
    }

    int saves = 0;
    QByteArray savedBytes;
    qint16 savedCount = 0;
    QString savedPath;
};

QByteArray utf16LeBytes(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    return bytes;
}

QString remoteSection(const QString &url, const QString &password)
{
    return QStringLiteral("[remote]\nftpURL=%1\nftpUser=%2\nftpPass=%3\n")
        .arg(url, PlainFtpServer::User, password);
}

/// A started window on a recording virtual pad, with a host connected to it.
struct DeliveryHarness
{
    explicit DeliveryHarness(const QString &iniText, int ftpPort = 21) : dir(iniText)
    {
        auto driver = std::make_unique<RecordingPadDriver>(pad);
        padDriver = driver.get();
        frmMainSeams seams;
        seams.dialogs = &dialogs;
        seams.padDevice = std::move(driver);
        seams.appDir = dir.path();
        seams.pollIntervalMs = 5;
        seams.ftpPort = ftpPort;
        window = std::make_unique<frmMain>(std::move(seams));
        window->onWindowLoad();
        FtpTimeouts timeouts;
        timeouts.connectMs = 5000;
        timeouts.serverResponseSec = 5;
        timeouts.stallSec = 5;
        window->inet->setTimeouts(timeouts);
    }

    bool connectHost()
    {
        if (!window->listenSocket || !window->listenSocket->isListening() ||
            !host.connectTo(window->listenSocket->serverPort()))
            return false;
        return QTest::qWaitFor([this] { return window->socketCT == 1; }, 5000);
    }

    QStringList statusLines() const
    {
        QStringList lines;
        for (int row = 0; row < window->listStatus->count(); ++row)
            lines << window->listStatus->item(row)->text();
        return lines;
    }

    QString signatureReply(const QString &path) const
    {
        return QStringLiteral("<SIGNATURE>OK</SIGNATURE><SIGPATH>") + path +
               QStringLiteral("</SIGPATH>");
    }

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    RecordingPadDriver *padDriver = nullptr;
    std::unique_ptr<frmMain> window;
    HostClient host;
};

} // namespace

class TestSignatureDelivery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void saveHandsTheBytesOn_data();
    void saveHandsTheBytesOn();
    void saveWholeCallFailurePropagates();
    void uploadAndReply_data();
    void uploadAndReply();
    void abortDuringTheUploadWait();
    void wholeCardTransaction();

private:
    PlainFtpServer m_server;
};

void TestSignatureDelivery::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_server.makeDirectory(QStringLiteral("vm/miame/dsk37/170170"));
}

void TestSignatureDelivery::saveHandsTheBytesOn_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("reachesDriver");
    QTest::addColumn<QString>("statusAfter");

    const QString untouched = QStringLiteral("untouched");
    QTest::newRow("a signature") << encodeSignature(sampleSignature()) << true << untouched;
    QTest::newRow("no signature: the driver refuses")
        << QStringLiteral("scribble") << true << QStringLiteral("scrivora_signature_save Failed");
    QTest::newRow("non-ASCII units go low byte first")
        << QStringLiteral("SC1") + QChar(0x1234) << true
        << QStringLiteral("scrivora_signature_save Failed");
    // Two bytes per code unit: 32,766 is the largest count a text can have below the limit.
    QTest::newRow("32,766 bytes") << QString(16383, QLatin1Char('A')) << true
                                  << QStringLiteral("scrivora_signature_save Failed");
    QTest::newRow("32,768 bytes") << QString(16384, QLatin1Char('A')) << false << untouched;
}

void TestSignatureDelivery::saveHandsTheBytesOn()
{
    QFETCH(QString, data);
    QFETCH(bool, reachesDriver);
    QFETCH(QString, statusAfter);

    DeliveryHarness harness(TempAppDir::debugIni());
    harness.window->transID = QStringLiteral("17");
    harness.window->statusMsg = QStringLiteral("untouched");
    const QString path = harness.dir.path() + QStringLiteral("/17.PCX");
    QCOMPARE(harness.window->signatureFilePath(), path);

    if (reachesDriver) {
        harness.window->scrivora_signature_save(data);
        QCOMPARE(harness.padDriver->saves, 1);
        QCOMPARE(harness.padDriver->savedBytes, utf16LeBytes(data));
        QCOMPARE(int(harness.padDriver->savedCount), int(data.size() * 2));
        QCOMPARE(harness.padDriver->savedPath, path);
        QCOMPARE(QFile::exists(path), statusAfter == QLatin1String("untouched"));
    } else {
        QVERIFY_THROWS_EXCEPTION(std::overflow_error,
                                 harness.window->scrivora_signature_save(data));
        QCOMPARE(harness.padDriver->saves, 0);
    }
    QCOMPARE(harness.window->statusMsg, statusAfter);
}

void TestSignatureDelivery::saveWholeCallFailurePropagates()
{
    DeliveryHarness harness(TempAppDir::debugIni());
    harness.window->transID = QStringLiteral("17");
    harness.pad->failCalls(QStringLiteral("saveSignature"));
    QString data = encodeSignature(sampleSignature());
    QVERIFY_THROWS_EXCEPTION(PadError, harness.window->scrivora_signature_save(data));
}

void TestSignatureDelivery::uploadAndReply_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<bool>("doFtp");
    QTest::addColumn<QString>("transID");
    QTest::addColumn<bool>("uploaded");
    QTest::addColumn<bool>("replied");

    const QString good = remoteSection(QStringLiteral("127.0.0.1"), PlainFtpServer::Password);
    QTest::newRow("no upload asked")
        << good << false << false << QStringLiteral("17") << false << true;
    QTest::newRow("upload, capitals lower-cased remotely")
        << good << false << true << QStringLiteral("Tx17B") << true << true;
    QTest::newRow("ftp URL") << remoteSection(QStringLiteral("ftp://127.0.0.1"),
                                              PlainFtpServer::Password)
                             << false << true << QStringLiteral("31") << true << true;
    QTest::newRow("login refused still replies OK")
        << remoteSection(QStringLiteral("127.0.0.1"), QStringLiteral("wrong")) << false << true
        << QStringLiteral("18") << false << true;
    QTest::newRow("server down still replies OK")
        << good << true << true << QStringLiteral("19") << false << true;
    QTest::newRow("no remote section: the put fails, OK follows")
        << QString() << false << true << QStringLiteral("20") << false << true;
    QTest::newRow("server text refused: no reply")
        << remoteSection(QStringLiteral("http://127.0.0.1"), PlainFtpServer::Password) << false
        << false << QStringLiteral("21") << false << false;
}

void TestSignatureDelivery::uploadAndReply()
{
    QFETCH(QString, remote);
    QFETCH(bool, serverDown);
    QFETCH(bool, doFtp);
    QFETCH(QString, transID);
    QFETCH(bool, uploaded);
    QFETCH(bool, replied);

    DeliveryHarness harness(TempAppDir::debugIni(remote),
                            serverDown ? freeLoopbackPort() : m_server.port());
    QVERIFY(harness.connectHost());
    harness.window->transID = transID;
    harness.window->transTotal = QStringLiteral("25.00");
    QString sigcomp = encodeSignature(sampleSignature());
    harness.window->scrivora_signature_save(sigcomp);
    const QString localPath = harness.dir.filePath(transID + QStringLiteral(".PCX"));
    QVERIFY(QFile::exists(localPath));
    const QString remotePath =
        QStringLiteral("vm/miame/dsk37/170170/") + transID.toLower() + QStringLiteral(".pcx");

    harness.window->scrivora_signature_ftp(doFtp);

    const QString command = QStringLiteral("put ") + transID +
                            QStringLiteral(".PCX /vm/miame/dsk37/170170/") + transID.toLower() +
                            QStringLiteral(".pcx");
    QFile local(localPath);
    QVERIFY(local.open(QIODevice::ReadOnly));
    QCOMPARE(m_server.fileAt(remotePath), uploaded ? local.readAll() : QByteArray());
    if (replied) {
        const QByteArray expected = harness.signatureReply(localPath).toLatin1();
        QCOMPARE(harness.host.receive(expected.size()), expected);
        const QStringList lines = harness.statusLines();
        const qsizetype doFtpLine =
            lines.indexOf(QStringLiteral("doFtp: ") + (doFtp ? "True" : "False"));
        QVERIFY(doFtpLine >= 0);
        QCOMPARE(lines.value(doFtpLine + 1), QStringLiteral("ticketPath: ") + command);
        QVERIFY(harness.window->transID.isEmpty());
        QCOMPARE(harness.pad->currentForm(), QStringLiteral("padWelcome"));
        QCOMPARE(harness.window->statusMsg, QStringLiteral("New Transaction"));
        QVERIFY(!harness.window->inet->stillExecuting());
    } else {
        QCOMPARE(harness.host.receiveFor(200), QByteArray());
        QCOMPARE(harness.window->statusMsg, QStringLiteral("Error in FTP of signature file"));
        QCOMPARE(harness.window->transID, transID);
    }
}

void TestSignatureDelivery::abortDuringTheUploadWait()
{
    SilentFtpServer stalling(true);
    DeliveryHarness harness(
        TempAppDir::debugIni(remoteSection(QStringLiteral("127.0.0.1"), QStringLiteral("x"))),
        stalling.port());
    FtpTimeouts timeouts;
    timeouts.serverResponseSec = 2;
    timeouts.stallSec = 2;
    harness.window->inet->setTimeouts(timeouts);
    QVERIFY(harness.connectHost());
    harness.window->transID = QStringLiteral("17");
    QString sigcomp = encodeSignature(sampleSignature());
    harness.window->scrivora_signature_save(sigcomp);

    // The abort arrives while the client still waits for the silent server.
    QTimer::singleShot(300, [&harness] { harness.host.send("ABORT=TRUE;"); });
    bool doFtp = true;
    harness.window->scrivora_signature_ftp(doFtp);

    QCOMPARE(stalling.acceptedCount(), 1);
    const QByteArray expected =
        harness.signatureReply(harness.dir.path() + QStringLiteral("/.PCX")).toLatin1();
    QCOMPARE(harness.host.receive(expected.size()), expected);
    QVERIFY(harness.window->statusMsg == QLatin1String("New Transaction"));
}

void TestSignatureDelivery::wholeCardTransaction()
{
    DeliveryHarness harness(
        TempAppDir::debugIni(remoteSection(QStringLiteral("127.0.0.1"), PlainFtpServer::Password)),
        m_server.port());
    QVERIFY(harness.connectHost());
    QFile::remove(m_server.root() + QStringLiteral("/vm/miame/dsk37/170170/17.pcx"));
    harness.pad->atRead(QStringLiteral("TRACK1"), 3,
                        [&harness] { harness.pad->swipeSampleCard(); });
    harness.pad->atRead(QStringLiteral("SIGCOMP"), 3, [&harness] { harness.pad->signSample(); });

    QByteArray received;
    const auto replyEndsWith = [&harness, &received](const QByteArray &end) {
        return QTest::qWaitFor(
            [&] {
                received += harness.host.receive(0, 10);
                return received.endsWith(end);
            },
            20000);
    };

    harness.host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
    QVERIFY(replyEndsWith("</SWIPE>"));
    QVERIFY(received.startsWith("<SWIPE>"));
    QVERIFY(received.contains("4111111111111111"));

    received.clear();
    harness.host.send("VERIF=GOOD;DOFTP=Y;");
    const QString localPath = harness.dir.filePath(QStringLiteral("17.PCX"));
    QVERIFY(replyEndsWith(harness.signatureReply(localPath).toLatin1()));
    QCOMPARE(received, harness.signatureReply(localPath).toLatin1());
    QVERIFY(QTest::qWaitFor(
        [&harness] { return harness.pad->currentForm() == QLatin1String("padWelcome"); }, 10000));
    QCOMPARE(harness.pad->variable(QStringLiteral("ACCOUNT")), QStringLiteral("XXXXXXXXXXXXXXXX"));

    QFile local(localPath);
    QVERIFY(local.open(QIODevice::ReadOnly));
    const QByteArray image = local.readAll();
    QCOMPARE(image, renderSignaturePcx(sampleSignature()));
    QCOMPARE(m_server.fileAt(QStringLiteral("vm/miame/dsk37/170170/17.pcx")), image);
    QVERIFY(harness.window->transID.isEmpty());
}

QTEST_MAIN(TestSignatureDelivery)
#include "tst_signature_delivery.moc"

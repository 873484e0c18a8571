#include "delivery/signature_image.h"
#include "host_client.h"
#include "pad/virtual_pad_model.h"
#include "padsim_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

/// Port 21 can be served here only as root and only when nothing else holds it.
bool ftpPortAvailable()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 21);
}

QByteArray swipeReply(const QString &track1, const QString &track2)
{
    return "<SWIPE>" + (track1 + track2).toLatin1() + "</SWIPE>";
}

} // namespace

/**
 * The real scrivora, copied alone into a temporary folder with its vantrel.ini, run
 * offscreen against a real scrivora-padsim; the test is the host and the customer.
 */
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cardTransaction_data();
    void cardTransaction();
    void pinEntry();
    void abortInTheMiddleOfASwipe();
    void unpluggedPadEndsTheCaptureAndRecovers();
    void missingPadAtStartUp();

private:
    bool startScrivora(const QString &device, const QString &remote = {});
    bool connectHost();
    QString appFile(const QString &name) const { return m_appDir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<PadSimProcess> m_pad;
    QProcess m_scrivora;
    quint16 m_port = 0;
    std::unique_ptr<HostClient> m_host;
};

void TestEndToEnd::init()
{
    m_appDir = std::make_unique<QTemporaryDir>();
    m_pad = std::make_unique<PadSimProcess>();
    QVERIFY(m_pad->start());
}

void TestEndToEnd::cleanup()
{
    m_host.reset();
    if (m_scrivora.state() != QProcess::NotRunning) {
        m_scrivora.terminate();
        if (!m_scrivora.waitForFinished(8000))
            m_scrivora.kill();
        m_scrivora.waitForFinished(3000);
    }
    m_pad.reset();
    m_appDir.reset();
}

bool TestEndToEnd::startScrivora(const QString &device, const QString &remote)
{
    const QString program = appFile(QStringLiteral("scrivora"));
    if (!QFile::copy(QStringLiteral(SCRIVORA_PATH), program))
        return false;
    m_port = freeLoopbackPort();
    QFile ini(appFile(QStringLiteral("vantrel.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write(QStringLiteral("[Local]\nLocalPort=%1\n[settings]\ndebugMode=0\ndebugModeOnly=0\n"
                             "[remote]\n%2\n[pad]\nDriver=serial\nDevice=%3\n")
                  .arg(m_port)
                  .arg(remote, device)
                  .toLatin1());
    ini.close();
    m_scrivora.setProgram(program);
    m_scrivora.setWorkingDirectory(m_appDir->path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_scrivora.setProcessEnvironment(environment);
    m_scrivora.start();
    return m_scrivora.waitForStarted(5000) && connectHost();
}

bool TestEndToEnd::connectHost()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        m_host = std::make_unique<HostClient>();
        if (m_host->connectTo(m_port, 200))
            return true;
        if (m_scrivora.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(100);
    }
    return false;
}

void TestEndToEnd::cardTransaction_data()
{
    QTest::addColumn<bool>("upload");

    QTest::newRow("signature kept locally") << false;
    QTest::newRow("signature uploaded by FTP") << true;
}

void TestEndToEnd::cardTransaction()
{
    QFETCH(bool, upload);
    QTemporaryDir ftpRoot;
    QProcess ftpServer;
    QString remote;
    if (upload) {
        if (!ftpPortAvailable())
            QSKIP("The upload needs an FTP server on port 21: run as root with the port free.");
        QVERIFY(QDir(ftpRoot.path()).mkpath(QStringLiteral("vm/miame/dsk37/170170")));
        ftpServer.start(QStringLiteral("/usr/bin/python3"),
                        {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "21", "-w", "-d",
                         ftpRoot.path(), "-u", "pos", "-P", "secret"});
        QVERIFY(ftpServer.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!ftpPortAvailable(), 5000);
        remote = QStringLiteral("ftpURL=127.0.0.1\nftpUser=pos\nftpPass=secret");
    }
    QVERIFY(startScrivora(m_pad->devicePath(), remote));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padWelcome")));

    m_host->send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("setvar TRACK1 ")));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padStart")));
    m_pad->command(QStringLiteral("swipe"));
    const QByteArray swipe =
        swipeReply(VirtualPadModel::sampleTrack1(), VirtualPadModel::sampleTrack2());
    QCOMPARE(m_host->receive(swipe.size()), swipe);

    m_host->send(upload ? "VERIF=GOOD;DOFTP=Y;" : "VERIF=GOOD;DOFTP=N;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("setvar ACCOUNT XXXXXXXXXXXXXXXX")));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("setvar TOTAL 25.00")));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padSig")));
    m_pad->command(QStringLiteral("sign"));
    const QString path = appFile(QStringLiteral("17.PCX"));
    const QByteArray signature =
        "<SIGNATURE>OK</SIGNATURE><SIGPATH>" + path.toLatin1() + "</SIGPATH>";
    QCOMPARE(m_host->receive(signature.size(), 15000), signature);

    QFile image(path);
    QVERIFY(image.open(QIODevice::ReadOnly));
    const QByteArray expected = renderSignaturePcx(sampleSignature());
    QCOMPARE(image.readAll(), expected);
    if (upload) {
        QFile uploaded(ftpRoot.filePath(QStringLiteral("vm/miame/dsk37/170170/17.pcx")));
        QVERIFY(uploaded.open(QIODevice::ReadOnly));
        QCOMPARE(uploaded.readAll(), expected);
        ftpServer.kill();
        ftpServer.waitForFinished(3000);
    }
    // The delivery closed the transaction: after its pause the pad greets again.
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padWelcome"), 10000));
}

void TestEndToEnd::pinEntry()
{
    QVERIFY(startScrivora(m_pad->devicePath()));
    m_host->send("PINPD=TRUE;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padPin")));
    m_pad->command(QStringLiteral("pin 12AB34CD56EF7890"));
    const QByteArray reply = "<PINBLOCK>12AB34CD56EF7890</PINBLOCK>";
    QCOMPARE(m_host->receive(reply.size()), reply);
}

void TestEndToEnd::abortInTheMiddleOfASwipe()
{
    QVERIFY(startScrivora(m_pad->devicePath()));
    m_host->send("TRANS=CC;UNIQU=30;TOTAL=5.00;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padStart")));
    QVERIFY(m_pad->waitForEvent(QStringLiteral("getvar TRACK1")));

    m_host->send("ABORT=TRUE;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padWelcome")));
    // The abort emptied the record while the swipe still waits: a verified card
    // request finds no transaction id.
    m_host->send("TRANS=CC;VERIF=GOOD;");
    const QByteArray error = "<ERROR>transID not set when getSignature</ERROR>";
    QCOMPARE(m_host->receive(error.size()), error);
}

void TestEndToEnd::unpluggedPadEndsTheCaptureAndRecovers()
{
    QVERIFY(startScrivora(m_pad->devicePath()));
    m_host->send("TRANS=CC;UNIQU=40;TOTAL=1.00;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("getvar TRACK1")));
    m_pad->command(QStringLiteral("unplug"));
    m_pad->command(QStringLiteral("swipe"));
    // The next poll fails within its two seconds; the capture ends without a reply.
    QCOMPARE(m_host->receiveFor(4000), QByteArray());
    QCOMPARE(m_scrivora.state(), QProcess::Running);

    m_pad->command(QStringLiteral("replug"));
    m_host->send("ABORT=TRUE;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padWelcome")));
    m_host->send("TRANS=CC;UNIQU=41;TOTAL=2.00;");
    QVERIFY(m_pad->waitForEvent(QStringLiteral("form padStart")));
    m_pad->command(QStringLiteral("swipe %B5500^NEXT/CUSTOMER^29? ;5500=29?"));
    const QByteArray swipe = swipeReply("%B5500^NEXT/CUSTOMER^29?", ";5500=29?");
    QCOMPARE(m_host->receive(swipe.size()), swipe);
}

void TestEndToEnd::missingPadAtStartUp()
{
    // Connected as host: the service listens although the pad is missing.
    QVERIFY(startScrivora(appFile(QStringLiteral("no-pad-here"))));
    QByteArray errors;
    const QByteArray message = "Error Opening Signature Pad Comm Port.  Error (-2)\n";
    QTRY_VERIFY_WITH_TIMEOUT((errors += m_scrivora.readAllStandardError()).contains(message), 5000);
    QCOMPARE(m_scrivora.state(), QProcess::Running);
    QVERIFY(m_pad->pendingEvents().isEmpty());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"

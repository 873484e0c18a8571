#include "delivery/ftp_client.h"
#include "ftp_test_servers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

/// Every byte value, line ends included: a text-mode transfer would change them.
QByteArray binaryImage()
{
    QByteArray bytes;
    for (int round = 0; round < 40; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value));
    return bytes + "\r\n\n\r";
}

FtpTimeouts shortTimeouts(int serverResponseSec = 2)
{
    FtpTimeouts timeouts;
    timeouts.connectMs = serverResponseSec * 1000;
    timeouts.serverResponseSec = serverResponseSec;
    timeouts.stallSec = serverResponseSec;
    timeouts.totalSec = 20;
    return timeouts;
}

/// Longest a failing operation may take with shortTimeouts(), with room for a busy machine.
constexpr int EndLimitMs = 15000;

} // namespace

class TestFtpClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadArrivesUnchanged_data();
    void uploadArrivesUnchanged();
    void failedTransfersEnd_data();
    void failedTransfersEnd();
    void silentServersAreAbandoned_data();
    void silentServersAreAbandoned();
    void refusedOperations_data();
    void refusedOperations();
    void serverTexts_data();
    void serverTexts();
    void explicitTlsUpload();

private:
    void writeLocal(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_local;
    PlainFtpServer m_server;
};

void TestFtpClient::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_server.makeDirectory(QStringLiteral("vm/miame/dsk37/170170"));
}

void TestFtpClient::writeLocal(const QString &name, const QByteArray &bytes)
{
    QFile file(m_local.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void TestFtpClient::uploadArrivesUnchanged_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("arrivesAt");

    QTest::newRow("host name") << QStringLiteral("127.0.0.1")
                               << QStringLiteral("put 17.PCX /vm/miame/dsk37/170170/17.pcx")
                               << QStringLiteral("vm/miame/dsk37/170170/17.pcx");
    QTest::newRow("ftp URL with a directory is ignored for absolute names")
        << QStringLiteral("ftp://127.0.0.1/elsewhere")
        << QStringLiteral("put AbC9.PCX /vm/miame/dsk37/170170/abc9.pcx")
        << QStringLiteral("vm/miame/dsk37/170170/abc9.pcx");
    QTest::newRow("relative name below the URL's directory")
        << QStringLiteral("ftp://127.0.0.1/vm/miame")
        << QStringLiteral("PUT 18.PCX dsk37/170170/18.pcx")
        << QStringLiteral("vm/miame/dsk37/170170/18.pcx");
    QTest::newRow("blanks between the words")
        << QStringLiteral(" 127.0.0.1 ")
        << QStringLiteral("  put   19.PCX    /vm/miame/dsk37/170170/19.pcx ")
        << QStringLiteral("vm/miame/dsk37/170170/19.pcx");
}

void TestFtpClient::uploadArrivesUnchanged()
{
    QFETCH(QString, url);
    QFETCH(QString, operation);
    QFETCH(QString, arrivesAt);

    const QString localName = operation.simplified().section(QLatin1Char(' '), 1, 1);
    writeLocal(localName, binaryImage());
    FtpClient client;
    client.setUrl(url);
    client.setUserName(PlainFtpServer::User);
    client.setPassword(PlainFtpServer::Password);
    client.setRemotePort(m_server.port());
    client.setLocalDirectory(m_local.path());
    client.setTimeouts(shortTimeouts());
    QSignalSpy finished(&client, &FtpClient::finished);

    client.execute(operation);
    QVERIFY(client.stillExecuting());
    QVERIFY(waitForFtpClient(client, EndLimitMs));
    QVERIFY2(client.succeeded(), qPrintable(client.lastError()));
    QCOMPARE(client.responseCode(), 226);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(m_server.fileAt(arrivesAt), binaryImage());

    client.execute(QStringLiteral("QUIT"));
    QVERIFY(waitForFtpClient(client, EndLimitMs));
}

void TestFtpClient::failedTransfersEnd_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("responseCode");
    QTest::addColumn<int>("responseSec");

    const QString put = QStringLiteral("put 20.PCX /vm/miame/dsk37/170170/20.pcx");
    QTest::newRow("login refused")
        << QStringLiteral("127.0.0.1") << QStringLiteral("wrong") << false << put << 530
        << 5; // pyftpdlib answers a bad password after 3 s
    QTest::newRow("remote directory missing")
        << QStringLiteral("127.0.0.1") << PlainFtpServer::Password << false
        << QStringLiteral("put 20.PCX /vm/miame/nothere/20.pcx") << 550 << 2;
    QTest::newRow("server down") << QStringLiteral("127.0.0.1") << PlainFtpServer::Password << true
                                 << put << 0 << 2;
    QTest::newRow("no server set")
        << QString() << PlainFtpServer::Password << false << put << 0 << 2;
    QTest::newRow("local file missing")
        << QStringLiteral("127.0.0.1") << PlainFtpServer::Password << false
        << QStringLiteral("put 404.PCX /vm/miame/dsk37/170170/404.pcx") << 0 << 2;
    QTest::newRow("plain server asked for TLS: no password in clear")
        << QStringLiteral("ftps://127.0.0.1") << PlainFtpServer::Password << false << put << 500
        << 2;
}

void TestFtpClient::failedTransfersEnd()
{
    QFETCH(QString, url);
    QFETCH(QString, password);
    QFETCH(bool, serverDown);
    QFETCH(QString, operation);
    QFETCH(int, responseCode);
    QFETCH(int, responseSec);

    writeLocal(QStringLiteral("20.PCX"), binaryImage());
    QFile::remove(m_server.root() + QStringLiteral("/vm/miame/dsk37/170170/20.pcx"));
    FtpClient client;
    client.setUrl(url);
    client.setUserName(PlainFtpServer::User);
    client.setPassword(password);
    client.setRemotePort(serverDown ? freeLoopbackPort() : m_server.port());
    client.setLocalDirectory(m_local.path());
    client.setTimeouts(shortTimeouts(responseSec));
    QSignalSpy finished(&client, &FtpClient::finished);

    client.execute(operation);
    QVERIFY(waitForFtpClient(client, EndLimitMs));
    QVERIFY(!client.succeeded());
    QVERIFY(!client.lastError().isEmpty());
    QCOMPARE(client.responseCode(), responseCode);
    QVERIFY(finished.wait(2000) || finished.size() == 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(m_server.fileAt(QStringLiteral("vm/miame/dsk37/170170/20.pcx")).isEmpty());

    // A failed operation leaves the client ready for the next one.
    client.execute(QStringLiteral("quit"));
    QVERIFY(waitForFtpClient(client, EndLimitMs));
}

void TestFtpClient::silentServersAreAbandoned_data()
{
    QTest::addColumn<bool>("greet");
    QTest::newRow("accepts and never answers") << false;
    QTest::newRow("greets and then stalls") << true;
}

void TestFtpClient::silentServersAreAbandoned()
{
    QFETCH(bool, greet);
    writeLocal(QStringLiteral("21.PCX"), binaryImage());
    SilentFtpServer silent(greet);
    FtpClient client;
    client.setUrl(QStringLiteral("127.0.0.1"));
    client.setUserName(PlainFtpServer::User);
    client.setPassword(PlainFtpServer::Password);
    client.setRemotePort(silent.port());
    client.setLocalDirectory(m_local.path());
    client.setTimeouts(shortTimeouts());

    client.execute(QStringLiteral("put 21.PCX /x/21.pcx"));
    QVERIFY(client.stillExecuting());
    QVERIFY(waitForFtpClient(client, EndLimitMs));
    QVERIFY(!client.succeeded());
    QCOMPARE(silent.acceptedCount(), 1);
}

void TestFtpClient::refusedOperations_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("   ");
    QTest::newRow("get") << QStringLiteral("get a b");
    QTest::newRow("put without remote name") << QStringLiteral("put 17.PCX");
    QTest::newRow("put with three names") << QStringLiteral("put a b c");
    QTest::newRow("quit with an argument") << QStringLiteral("QUIT now");
    QTest::newRow("delete") << QStringLiteral("DELETE /x");
}

void TestFtpClient::refusedOperations()
{
    QFETCH(QString, operation);
    FtpClient client;
    client.setUrl(QStringLiteral("127.0.0.1"));
    QVERIFY_THROWS_EXCEPTION(FtpError, client.execute(operation));
    QVERIFY(!client.stillExecuting());

    // An operation while another one runs is refused as well.
    SilentFtpServer silent(false);
    writeLocal(QStringLiteral("22.PCX"), binaryImage());
    client.setRemotePort(silent.port());
    client.setLocalDirectory(m_local.path());
    client.setTimeouts(shortTimeouts());
    client.execute(QStringLiteral("put 22.PCX /22.pcx"));
    QVERIFY_THROWS_EXCEPTION(FtpError, client.execute(QStringLiteral("put 22.PCX /22.pcx")));
    QVERIFY_THROWS_EXCEPTION(FtpError, client.execute(QStringLiteral("QUIT")));
    QVERIFY(waitForFtpClient(client, EndLimitMs));
}

void TestFtpClient::serverTexts_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("port");

    QTest::newRow("host name") << QStringLiteral("ftp.example.com") << true << 21;
    QTest::newRow("ftp URL with port")
        << QStringLiteral("ftp://ftp.example.com:2121/in") << true << 2121;
    QTest::newRow("ftps URL") << QStringLiteral("FTPS://ftp.example.com") << true << 21;
    QTest::newRow("empty") << QString() << true << 21;
    QTest::newRow("http URL") << QStringLiteral("http://www.example.com") << false << 21;
    QTest::newRow("scheme without host") << QStringLiteral("ftp://") << false << 21;
    QTest::newRow("blank inside the host") << QStringLiteral("ftp.exa mple.com") << false << 21;
}

void TestFtpClient::serverTexts()
{
    QFETCH(QString, url);
    QFETCH(bool, accepted);
    QFETCH(int, port);

    FtpClient client;
    if (accepted) {
        client.setUrl(url);
        QCOMPARE(client.url(), url);
    } else {
        QVERIFY_THROWS_EXCEPTION(FtpError, client.setUrl(url));
    }
    QCOMPARE(client.remotePort(), port);
    client.setRemotePort(21);
    QCOMPARE(client.remotePort(), 21);
    QVERIFY_THROWS_EXCEPTION(FtpError, client.setRemotePort(0));
    QVERIFY_THROWS_EXCEPTION(FtpError, client.setRemotePort(65536));
}

void TestFtpClient::explicitTlsUpload()
{
    if (geteuid() != 0)
        QSKIP("The TLS upload needs root: it creates a throw-away account for vsftpd.");
    TlsFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    server.makeDirectory(QStringLiteral("vm/miame/dsk37/170170"));
    writeLocal(QStringLiteral("23.PCX"), binaryImage());

    for (const bool tls : {false, true}) {
        FtpClient client;
        client.setUrl(tls ? QStringLiteral("ftps://127.0.0.1") : QStringLiteral("ftp://127.0.0.1"));
        client.setUserName(server.user());
        client.setPassword(server.password());
        client.setRemotePort(server.port());
        client.setLocalDirectory(m_local.path());
        client.setCaCertificates(server.certificate());
        client.setTimeouts(shortTimeouts());
        client.execute(QStringLiteral("put 23.PCX /vm/miame/dsk37/170170/23.pcx"));
        QVERIFY(waitForFtpClient(client, EndLimitMs));
        // The server takes no login in clear; over TLS the file arrives unchanged.
        QCOMPARE(client.succeeded(), tls);
        QCOMPARE(server.fileAt(QStringLiteral("vm/miame/dsk37/170170/23.pcx")).isEmpty(), !tls);
    }
    QCOMPARE(server.fileAt(QStringLiteral("vm/miame/dsk37/170170/23.pcx")), binaryImage());
}

QTEST_GUILESS_MAIN(TestFtpClient)
#include "tst_ftp_client.moc"

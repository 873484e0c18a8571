#include "app/frm_main.h"
#include "delivery/ftp_client.h"
#include "delivery/signature_image.h"
#include "hostlink/host_listener.h"
#include "pad/virtual_pad_driver.h"

#include "host_client.h"
#include "recording_dialogs.h"
#include "temp_app_dir.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString User = u"scrivora"_s;
const QString Password = u"Pass-w0rd"_s;

/// Debian's vsftpd requiring explicit TLS, with a self-signed certificate and a throw-away
/// system account.
const QString VsftpdScript = uR"(chmod o+x .; userdel $FTPUSER 2>/dev/null || true  # a leftover
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout key.pem \
  -addext subjectAltName=IP:127.0.0.1 -out cert.pem 2>/dev/null; : >vsftpd.conf
useradd -M -d "$PWD/home" -s /bin/sh $FTPUSER; echo $FTPUSER:$FTPPASS | chpasswd
chown -R $FTPUSER home; exec /usr/sbin/vsftpd vsftpd.conf -olisten=YES -olisten_port=$PORT \
  -olocal_enable=YES -owrite_enable=YES -ochroot_local_user=YES -oallow_writeable_chroot=YES \
  -ossl_enable=YES -orsa_cert_file=$PWD/cert.pem -orsa_private_key_file=$PWD/key.pem \
  -opam_service_name=vsftpd -orequire_ssl_reuse=NO -oseccomp_sandbox=NO)"_s;

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray utf16LeBytes(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    return bytes;
}

/// An independent PCX reader: the pixel bytes after the 128-byte header, run-length decoded.
QByteArray decodePcxPixels(const QByteArray &pcx)
{
    QByteArray pixels;
    for (qsizetype i = 128; i < pcx.size(); ++i) {
        const auto byte = quint8(pcx.at(i));
        if ((byte & 0xc0) != 0xc0)
            pixels.append(char(byte));
        else if (++i < pcx.size())
            pixels.append(QByteArray(byte & 0x3f, pcx.at(i)));
    }
    return pixels;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// An FTP server process on a free loopback port, serving dir()/home with the ticket directory.
struct FtpServer
{
    explicit FtpServer(const QString &account = User) : user(account) {}
    ~FtpServer()
    {
        process.kill();
        process.waitForFinished();
        if (user != User)
            QProcess::execute(u"userdel"_s, {user});
    }
    /// Runs @p script in dir() with $PORT, $FTPUSER and $FTPPASS set; true once the port greets.
    bool start(const QString &script)
    {
        QDir().mkpath(ticket);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(
            u"sh"_s, {u"-ec"_s,
                      u"PORT=%1 FTPUSER=%2 FTPPASS=%3; "_s.arg(port).arg(user, Password) + script});
        return QTest::qWaitFor(
            [this] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port);
                return probe.waitForReadyRead(1000) && probe.readAll().startsWith("220");
            },
            10000);
    }
    /// The [remote] settings for an upload to @p url with this account.
    QString remote(const QString &url, const QString &password = Password) const
    {
        return u"[remote]\nftpURL=%1\nftpUser=%2\nftpPass=%3\n"_s.arg(url, user, password);
    }

    QString user;
    QTemporaryDir dir;
    QString ticket = dir.filePath(u"home/vm/miame/dsk37/170170/"_s);
    QProcess process;
    quint16 port = freeLoopbackPort();
};

/// Accepts connections and then says nothing, or only its greeting.
struct SilentServer : QTcpServer
{
    explicit SilentServer(bool greet)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, greet] {
            while (QTcpSocket *socket = nextPendingConnection())
                if (++accepted, greet)
                    socket->write("220 Service ready\r\n");
        });
    }
    int accepted = 0;
};

/// A started window on a virtual pad with a host connected, uploading to @p ftpPort.
struct Window
{
    Window(const QString &remote, quint16 ftpPort) : dir(TempAppDir::debugIni(remote))
    {
        frmMainSeams seams;
        seams.dialogs = &dialogs;
        seams.padDevice = std::make_unique<VirtualPadDriver>(pad);
        seams.appDir = dir.path();
        seams.pollIntervalMs = 5;
        seams.ftpPort = ftpPort;
        window = std::make_unique<frmMain>(std::move(seams));
        window->onWindowLoad();
        window->inet->setTimeouts({2000, 4, 4, 20}); // pyftpdlib refuses a login after 3 s
        connected = host.connectTo(window->listenSocket->serverPort()) &&
                    QTest::qWaitFor([this] { return window->socketCT == 1; });
    }
    QByteArray reply(const QString &transID) const
    {
        return u"<SIGNATURE>OK</SIGNATURE><SIGPATH>%1/%2.PCX</SIGPATH>"_s.arg(dir.path(), transID)
            .toLatin1();
    }

    TempAppDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<VirtualPadModel> pad = std::make_shared<VirtualPadModel>();
    std::unique_ptr<frmMain> window;
    HostClient host;
    bool connected = false;
};

} // namespace

class TestSignatureDelivery : public QObject
{
    Q_OBJECT

    FtpServer m_server;

private slots:
    void pcxFile()
    {
        // A line across a byte boundary, one beyond the area's right edge, and a dot.
        const QByteArray pcx =
            renderSignaturePcx({{{6, 10}, {17, 10}}, {{315, 159}, {330, 159}}, {{0, 0}}});
        const auto word = [&pcx](int at) {
            return qFromLittleEndian<quint16>(pcx.constData() + at);
        };
        // Manufacturer, version 5, run-length encoded, one bit per pixel; one plane.
        QCOMPARE(pcx.left(4), QByteArray("\x0a\x05\x01\x01"));
        QCOMPARE(int(pcx.at(65)), 1);
        QCOMPARE(word(8) - word(4) + 1, SignatureWidth);
        QCOMPARE(word(10) - word(6) + 1, SignatureHeight);
        QCOMPARE(word(66), SignatureWidth / 8);
        // Ink is a clear bit, the leftmost pixel the highest one.
        QByteArray expected(SignatureWidth / 8 * SignatureHeight, char(0xff));
        expected[0] = char(0x7f);
        expected.replace(10 * 40, 3, QByteArray("\xfc\x00\x3f", 3));
        expected[159 * 40 + 39] = char(0xe0);
        QCOMPARE(decodePcxPixels(pcx), expected);
    }

    void garbageIsRejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QString good = encodeSignature({{{10, 10}, {12, 14}}});
        QTest::newRow("eight-bit") << good.toLatin1();
        QTest::newRow("half a step") << utf16LeBytes(good.chopped(1));
        QTest::newRow("off the area") << utf16LeBytes(u"SC1.FAAA"_s);
        QTest::newRow("non-ASCII") << utf16LeBytes(good + QChar(0x00e9));
    }

    void garbageIsRejected()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!decodeSignature(bytes));
        QTemporaryDir dir;
        QVERIFY(!writeSignatureImage(bytes, dir.filePath(u"17.PCX"_s)));
        QVERIFY(!QFile::exists(dir.filePath(u"17.PCX"_s)));
    }

    void initTestCase()
    {
        QVERIFY2(
            m_server.start(u"exec /usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p $PORT -w -d home "
                           "-u $FTPUSER -P $FTPPASS"_s),
            "pyftpdlib does not greet");
    }

    void save_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("status"); // "overflow": the save throws and leaves it alone

        QTest::newRow("sample") << encodeSignature(sampleSignature()) << u"untouched"_s;
        QTest::newRow("no signature") << u"scribble"_s << u"scrivora_signature_save Failed"_s;
        // Two bytes per code unit: 32,766 is the largest count a text can have below the limit.
        // Still strokes: the tag takes 3 units, each stroke's start 5 and each further point 2.
        QTest::newRow("32,766 bytes")
            << encodeSignature({SignatureStroke(8186, {5, 5}), {{9, 9}}}) << u"untouched"_s;
        QTest::newRow("32,768 bytes")
            << encodeSignature({SignatureStroke(8189, {5, 5})}) << u"overflow"_s;
    }

    void save()
    {
        QFETCH(QString, data);
        QFETCH(QString, status);
        Window harness({}, 21);
        harness.window->transID = u"17"_s;
        harness.window->statusMsg = u"untouched"_s;
        QVERIFY(data.size() < 1000 || data.size() == (status == "overflow"_L1 ? 16384 : 16383));

        if (status == "overflow"_L1)
            QVERIFY_THROWS_EXCEPTION(std::overflow_error,
                                     harness.window->scrivora_signature_save(data));
        else
            harness.window->scrivora_signature_save(data);
        const auto strokes = decodeSignature(utf16LeBytes(data));
        QCOMPARE(fileBytes(harness.dir.filePath(u"17.PCX"_s)),
                 status == "untouched"_L1 ? renderSignaturePcx(*strokes) : QByteArray());
        QCOMPARE(harness.window->statusMsg, status == "overflow"_L1 ? u"untouched"_s : status);
    }

    void uploadAndReply_data()
    {
        QTest::addColumn<QString>("url");
        // pyftpdlib or vsftpd; "skip": no upload asked; "refuses": a wrong password; "down";
        // "mute", "greets": servers that stall; "abort": a stall and an abort from the host.
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("outcome");

        const QString host = u"127.0.0.1"_s, ftpd = u"pyftpdlib"_s, ok = u"reply"_s;
        QTest::newRow("no upload") << host << u"skip"_s << ok;
        QTest::newRow("upload") << u"ftp://127.0.0.1/x"_s << ftpd << u"upload"_s;
        QTest::newRow("TLS upload") << u"ftps://127.0.0.1"_s << u"vsftpd"_s << u"upload"_s;
        QTest::newRow("login refused") << host << u"refuses"_s << ok;
        QTest::newRow("server down") << host << u"down"_s << ok;
        QTest::newRow("never answers") << host << u"mute"_s << ok;
        QTest::newRow("stalls") << host << u"greets"_s << ok;
        QTest::newRow("abort") << host << u"abort"_s << ok;
        QTest::newRow("no server set") << QString() << ftpd << ok;
        QTest::newRow("TLS of plain") << u"ftps://127.0.0.1"_s << ftpd << ok;
        QTest::newRow("URL refused") << u"http://127.0.0.1"_s << ftpd << u"error"_s;
    }

    void uploadAndReply()
    {
        QFETCH(QString, url);
        QFETCH(QString, server);
        QFETCH(QString, outcome);

        FtpServer *ftp = &m_server;
        std::unique_ptr<FtpServer> vsftpd;
        std::unique_ptr<SilentServer> silent;
        if (server == "vsftpd"_L1) {
            if (geteuid() != 0)
                QSKIP("The TLS upload needs root: it creates a throw-away account for vsftpd.");
            vsftpd = std::make_unique<FtpServer>(u"scrvtls%1"_s.arg(getpid() % 100000));
            QVERIFY2(vsftpd->start(VsftpdScript), "vsftpd does not greet");
            ftp = vsftpd.get();
        } else if (server == "mute"_L1 || server == "greets"_L1 || server == "abort"_L1) {
            silent = std::make_unique<SilentServer>(server != "mute"_L1);
        }
        Window harness(ftp->remote(url, server == "refuses"_L1 ? u"wrong"_s : Password),
                       silent ? silent->serverPort()
                              : (server == "down"_L1 ? freeLoopbackPort() : ftp->port));
        QVERIFY(harness.connected);
        harness.window->inet->setCaCertificates(ftp->dir.filePath(u"cert.pem"_s)); // vsftpd's
        QFile::remove(ftp->ticket + "tx17b.pcx"_L1);
        harness.window->transID = u"Tx17B"_s;
        QString sigcomp = encodeSignature(sampleSignature());
        harness.window->scrivora_signature_save(sigcomp);
        if (server == "abort"_L1) // arrives while the client still waits for the server
            QTimer::singleShot(300, [&harness] { harness.host.send("ABORT=TRUE;"); });

        bool doFtp = server != "skip"_L1;
        harness.window->scrivora_signature_ftp(doFtp);

        QCOMPARE(fileBytes(ftp->ticket + "tx17b.pcx"_L1),
                 outcome == "upload"_L1 ? renderSignaturePcx(sampleSignature()) : QByteArray());
        QVERIFY(!silent || silent->accepted == 1);
        if (outcome == "error"_L1) {
            QCOMPARE(harness.host.receiveFor(200), QByteArray());
            QCOMPARE(harness.window->statusMsg, u"Error in FTP of signature file"_s);
        } else { // an abort ends the transaction before the reply names the file
            const QByteArray expected =
                harness.reply(server == "abort"_L1 ? QString() : u"Tx17B"_s);
            QCOMPARE(harness.host.receive(expected.size()), expected);
            QCOMPARE(harness.window->statusMsg, u"New Transaction"_s);
        }
    }

    void wholeCardTransaction()
    {
        Window harness(m_server.remote(u"127.0.0.1"_s), m_server.port);
        QVERIFY(harness.connected);
        harness.pad->atRead(u"TRACK1"_s, 3, [&harness] { harness.pad->swipeSampleCard(); });
        harness.pad->atRead(u"SIGCOMP"_s, 3, [&harness] { harness.pad->signSample(); });
        QByteArray received;
        const auto replyEndsWith = [&harness, &received](const QByteArray &end) {
            return QTest::qWaitFor(
                [&] { return (received += harness.host.receive(0, 10)).endsWith(end); }, 20000);
        };

        harness.host.send("TRANS=CC;UNIQU=17;TOTAL=25.00;");
        QVERIFY(replyEndsWith("</SWIPE>"));
        QVERIFY(received.startsWith("<SWIPE>") && received.contains("4111111111111111"));
        received.clear();
        harness.host.send("VERIF=GOOD;DOFTP=Y;");
        QVERIFY(replyEndsWith(harness.reply(u"17"_s)));
        QCOMPARE(received, harness.reply(u"17"_s));
        QVERIFY(
            QTest::qWaitFor([&harness] { return harness.pad->currentForm() == "padWelcome"_L1; }));
        QCOMPARE(fileBytes(m_server.ticket + "17.pcx"_L1), renderSignaturePcx(sampleSignature()));
    }
};

QTEST_MAIN(TestSignatureDelivery)
#include "tst_signature_delivery.moc"

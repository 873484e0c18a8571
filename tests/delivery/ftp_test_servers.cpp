#include "ftp_test_servers.h"

#include "delivery/ftp_client.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QString DebianPython = QStringLiteral("/usr/bin/python3");

/// True once something on @p port answers with an FTP greeting.
bool greetsWithin(quint16 port, int limitMs)
{
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (probe.waitForConnected(500) && probe.waitForReadyRead(2000) &&
            probe.readAll().startsWith("220"))
            return true;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool waitForFtpClient(FtpClient &client, int limitMs)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&client, &FtpClient::progressed, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(limitMs);
    while (client.stillExecuting() && limit.isActive())
        loop.exec();
    return !client.stillExecuting();
}

PlainFtpServer::PlainFtpServer() = default;

PlainFtpServer::~PlainFtpServer()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

bool PlainFtpServer::start()
{
    m_port = freeLoopbackPort();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(DebianPython,
                    {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                     QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
                     QStringLiteral("-d"), root(), QStringLiteral("-w"), QStringLiteral("-u"), User,
                     QStringLiteral("-P"), Password});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("pyftpdlib did not start: ") + m_process.errorString();
        return false;
    }
    if (!greetsWithin(m_port, 10000)) {
        m_error = QStringLiteral("pyftpdlib does not answer on port %1").arg(m_port);
        return false;
    }
    return true;
}

void PlainFtpServer::makeDirectory(const QString &relative) const
{
    QDir(root()).mkpath(relative);
}

QByteArray PlainFtpServer::fileAt(const QString &relative) const
{
    return readFile(QDir(root()).filePath(relative));
}

SilentFtpServer::SilentFtpServer(bool greet) : m_greet(greet)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            if (m_greet)
                socket->write("220 Service ready\r\n");
            m_connections.emplace_back(socket);
        }
    });
}

TlsFtpServer::TlsFtpServer()
    : m_user(QStringLiteral("scrvtls%1").arg(QCoreApplication::applicationPid() % 100000))
{
}

TlsFtpServer::~TlsFtpServer()
{
    m_process.kill();
    m_process.waitForFinished(3000);
    if (m_userCreated)
        run(QStringLiteral("userdel"), {m_user});
}

bool TlsFtpServer::run(const QString &program, const QStringList &arguments,
                       const QByteArray &input)
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                  QStringLiteral(" failed: ") +
                  QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

bool TlsFtpServer::start()
{
    QFile::setPermissions(m_dir.path(),
                          QFile::permissions(m_dir.path()) | QFile::ReadOther | QFile::ExeOther);
    QDir().mkpath(home());
    const QString key = m_dir.filePath(QStringLiteral("key.pem"));
    if (!run(QStringLiteral("openssl"),
             {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
              QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
              QStringLiteral("-out"), certificate(), QStringLiteral("-days"), QStringLiteral("1"),
              QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
              QStringLiteral("subjectAltName=IP:127.0.0.1")}))
        return false;
    run(QStringLiteral("userdel"), {m_user}); // a leftover of an interrupted run
    if (!run(QStringLiteral("useradd"), {QStringLiteral("-M"), QStringLiteral("-d"), home(),
                                         QStringLiteral("-s"), QStringLiteral("/bin/sh"), m_user}))
        return false;
    m_userCreated = true;
    if (!run(QStringLiteral("chpasswd"), {},
             (m_user + QLatin1Char(':') + password() + QLatin1Char('\n')).toUtf8()) ||
        !run(QStringLiteral("chown"), {m_user, home()}))
        return false;

    m_port = freeLoopbackPort();
    const QString config = m_dir.filePath(QStringLiteral("vsftpd.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return m_error = QStringLiteral("cannot write ") + config, false;
    file.write(
        QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                       "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                       "chroot_local_user=YES\nallow_writeable_chroot=YES\n"
                       "ssl_enable=YES\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                       "require_ssl_reuse=NO\nrsa_cert_file=%2\nrsa_private_key_file=%3\n"
                       "pasv_enable=YES\npasv_address=127.0.0.1\nseccomp_sandbox=NO\n"
                       "pam_service_name=vsftpd\nxferlog_enable=NO\n")
            .arg(m_port)
            .arg(certificate(), key)
            .toUtf8());
    file.close();
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(QStringLiteral("/usr/sbin/vsftpd"), {config});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("vsftpd did not start: ") + m_process.errorString();
        return false;
    }
    if (!greetsWithin(m_port, 10000)) {
        m_error = QStringLiteral("vsftpd does not answer on port %1").arg(m_port);
        return false;
    }
    return true;
}

void TlsFtpServer::makeDirectory(const QString &relative) const
{
    QDir(home()).mkpath(relative);
    QString path = home();
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        QProcess::execute(QStringLiteral("chown"), {m_user, path});
    }
}

QByteArray TlsFtpServer::fileAt(const QString &relative) const
{
    return readFile(QDir(home()).filePath(relative));
}

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class FtpClient;

/// A loopback port nobody listens on right now.
quint16 freeLoopbackPort();

/// Waits in the event loop until @p client no longer executes or @p limitMs have passed.
/// True when it ended in time.
bool waitForFtpClient(FtpClient &client, int limitMs);

/// Debian's pyftpdlib serving a temporary directory on a loopback port, with one account.
class PlainFtpServer
{
public:
    static inline const QString User = QStringLiteral("scrivora");
    static inline const QString Password = QStringLiteral("s3cret");

    PlainFtpServer();
    ~PlainFtpServer();
    /// False (with the reason in error()) when the server did not come up.
    bool start();
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    QString root() const { return m_root.path(); }
    /// Creates a directory below the served root.
    void makeDirectory(const QString &relative) const;
    /// The bytes of a file below the served root; empty when it does not exist.
    QByteArray fileAt(const QString &relative) const;

private:
    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

/// A server that accepts connections and then says nothing, or only its greeting.
class SilentFtpServer : public QObject
{
public:
    explicit SilentFtpServer(bool greet);
    quint16 port() const { return m_server.serverPort(); }
    int acceptedCount() const { return int(m_connections.size()); }

private:
    QTcpServer m_server;
    bool m_greet;
    std::vector<std::unique_ptr<QTcpSocket>> m_connections;
};

/// Debian's vsftpd with explicit TLS required, a self-signed certificate and a throw-away
/// system account; needs root to create the account.
class TlsFtpServer
{
public:
    TlsFtpServer();
    ~TlsFtpServer();
    bool start();
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    QString user() const { return m_user; }
    QString password() const { return QStringLiteral("Tls-pass-1"); }
    QString certificate() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    void makeDirectory(const QString &relative) const;
    QByteArray fileAt(const QString &relative) const;

private:
    bool run(const QString &program, const QStringList &arguments, const QByteArray &input = {});
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_user;
    bool m_userCreated = false;
    quint16 m_port = 0;
    QString m_error;
};

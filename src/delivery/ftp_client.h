#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <stdexcept>

struct FtpTransfer;

/// An FTP client call that cannot be done at all: a server text or an operation text it
/// refuses, or an operation started while another one still runs.
class FtpError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// How the last put ended, in terms the operator can act on.
struct FtpOutcome
{
    /// Landed: the server confirmed the complete transfer; otherwise where it went wrong.
    enum class Kind
    {
        Landed,
        Connect,
        Login,
        Directory,
        Transfer,
        TimedOut
    };

    Kind kind = Kind::Transfer;
    /// A short operator text such as "login refused (530)"; empty when landed. It names the
    /// host and the remote directory at most, never the user or the password.
    QString text = QStringLiteral("no upload yet");

    bool landed() const { return kind == Kind::Landed; }
};

/// How long the client waits before it gives an operation up.
struct FtpTimeouts
{
    int connectMs = 5000;      ///< until the control connection is up
    int serverResponseSec = 5; ///< for each answer of the server, QUIT included
    int stallSec = 5;          ///< for a transfer that moves no byte at all
    int totalSec = 120;        ///< for a whole operation, as a last resort
};

/**
 * The FTP client that uploads signature files. An operation is started with execute() and
 * runs on in a worker thread of its own while the caller handles events; stillExecuting()
 * tells when it has ended, and progressed() is emitted whenever it moved, so that a waiter
 * can sleep in the event loop instead of spinning. The client itself, its signals included,
 * belongs to the thread that created it; nothing it offers ever blocks that thread.
 *
 * Every operation ends by itself within the time-outs: a server that is down, refuses the
 * login, lacks the remote directory or stops answering ends it as a failed transfer, which
 * shows only in succeeded(), responseCode() and lastError().
 *
 * A server given as "ftps://host" is spoken to with explicit TLS (AUTH TLS) that must
 * succeed before the user name and password are sent.
 */
class FtpClient : public QObject
{
    Q_OBJECT

public:
    explicit FtpClient(QObject *parent = nullptr);
    ~FtpClient() override;

    /**
     * The server that later operations address: a host name or address, or an URL
     * "ftp://host[:port][/dir]" or "ftps://host[:port][/dir]". A port in it becomes the
     * remote port. An empty text is accepted; a put then fails as a transfer.
     * @throws FtpError for another scheme or a text that names no host.
     */
    void setUrl(const QString &url);
    QString url() const { return m_urlText; }
    /// The login; each character (Latin-1, as read from the settings file) is sent as one byte.
    void setUserName(const QString &userName) { m_userName = userName; }
    void setPassword(const QString &password) { m_password = password; }
    void setRemotePort(int port);
    /// Where the local name of a put is looked up when it is not an absolute path.
    void setLocalDirectory(const QString &directory) { m_localDirectory = directory; }
    void setTimeouts(const FtpTimeouts &timeouts) { m_timeouts = timeouts; }
    /// A file of CA certificates trusted for ftps servers besides the system's.
    void setCaCertificates(const QString &path) { m_caFile = path; }

    /**
     * Starts @p operation and returns at once: "put LOCAL REMOTE" copies the local file to
     * the remote path (the remote directory must exist); "QUIT" ends what is left of the
     * connection. Verbs are matched regardless of letter case. Names with blanks need an
     * absolute REMOTE: LOCAL, which holds no "/", is then all up to the first " /".
     * @throws FtpError for any other text, or while an operation still runs.
     */
    void execute(const QString &operation);
    /// Ends the running operation at once, without a word to the server; a failed transfer.
    /// Neither finished() nor progressed() follow for it.
    void abort();
    /// True while the last started operation runs.
    bool stillExecuting() const { return m_transfer != nullptr; }
    /// The code of the server's last answer in the running or last operation, leaving out
    /// the answer to the closing QUIT (0 before any answer).
    int responseCode() const;
    /// Whether the last finished operation did what it was asked.
    bool succeeded() const { return m_succeeded; }
    /// Why the last finished operation failed; empty after a success.
    QString lastError() const { return m_lastError; }
    /// Whether the last finished put landed, or why not; a QUIT leaves it as it is.
    FtpOutcome outcome() const { return m_outcome; }

signals:
    /// The running operation moved: bytes went or came, a timer ran, or it ended.
    void progressed();
    /// The running operation ended; @p ok tells whether it succeeded.
    void finished(bool ok);

private:
    void startPut(const QString &localName, const QString &remoteName);
    void finishAt(bool ok, const QString &error);
    void failPut(FtpOutcome::Kind kind, const QString &text, const QString &error);
    FtpOutcome outcomeOf(const FtpTransfer &transfer) const;
    QString remoteUrl(const QString &remoteName) const;
    void letGo();
    void transferMoved(const std::shared_ptr<FtpTransfer> &transfer);
    void transferEnded(const std::shared_ptr<FtpTransfer> &transfer);

    friend struct FtpTransfer;

    /// The running transfer, shared with its worker; null while idle.
    std::shared_ptr<FtpTransfer> m_transfer;

    QString m_urlText;
    QString m_scheme;
    QString m_host;
    QString m_basePath;
    QString m_userName;
    QString m_password;
    QString m_localDirectory;
    QString m_caFile;
    int m_port = 21;
    FtpTimeouts m_timeouts;

    int m_responseCode = 0; ///< of the last ended operation
    bool m_succeeded = false;
    QString m_lastError;
    QString m_remoteDirectory; ///< of the running or last put, for the operator's text
    FtpOutcome m_outcome;
};

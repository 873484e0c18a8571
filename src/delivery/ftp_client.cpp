#include "delivery/ftp_client.h"

#include "delivery/curl_library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

/// The transfers still inside libcurl, so that the program's exit waits for them to leave it
/// before the TLS library is torn down under them.
class RunningWorkers
{
public:
    ~RunningWorkers()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait_for(lock, std::chrono::seconds(3), [this] { return m_count == 0; });
    }
    void add()
    {
        const std::lock_guard lock(m_mutex);
        ++m_count;
    }
    void remove()
    {
        // Notified under the lock: the exit cannot end the wait before this returns.
        const std::lock_guard lock(m_mutex);
        --m_count;
        m_idle.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_count = 0;
};

RunningWorkers &runningWorkers()
{
    static RunningWorkers workers;
    return workers;
}

/// libcurl, loaded at the first transfer; null when it cannot be had.
const CurlLibrary *initCurlOnce(QString *error)
{
    const CurlLibrary *curl = curlLibrary(error);
    // Made after libcurl's TLS set-up, so that at exit it is torn down before it.
    if (curl)
        runningWorkers();
    return curl;
}

/**
 * The local and the remote name of a put, from what follows "put ": two words, whatever
 * blanks stand around them. More words are names with blanks, as the signature of a job id
 * with a blank has: a local name never holds a "/", so the remote name, which must then be
 * absolute, starts right after the first blank before a "/".
 */
std::optional<std::pair<QString, QString>> putNames(const QString &arguments)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = arguments.split(blanks, Qt::SkipEmptyParts);
    if (words.size() == 2)
        return std::pair{words.at(0), words.at(1)};
    const qsizetype remoteStart = arguments.indexOf(QLatin1String(" /"));
    if (words.size() < 2 || remoteStart < 0)
        return std::nullopt;
    const QString local = arguments.left(remoteStart);
    if (local.trimmed().isEmpty() || local.contains(QLatin1Char('/')))
        return std::nullopt;
    return std::pair{local, arguments.mid(remoteStart + 1)};
}

/// The directory a put of @p remoteName goes to, as the operator would name it.
QString remoteDirectoryOf(const QString &basePath, const QString &remoteName)
{
    const QString path = remoteName.startsWith(QLatin1Char('/'))
                             ? remoteName
                             : basePath + QLatin1Char('/') + remoteName;
    QString directory = path.section(QLatin1Char('/'), 0, -2);
    directory.replace(QRegularExpression(QStringLiteral("/+")), QStringLiteral("/"));
    return directory.isEmpty() ? QStringLiteral("/") : directory;
}

} // namespace

/// One put, shared by the client that started it and the worker thread that runs it. The
/// settings are written before the worker starts and only read afterwards; the result is
/// written by the worker before it tells the client, which reads it only then.
struct FtpTransfer : std::enable_shared_from_this<FtpTransfer>
{
    ~FtpTransfer()
    {
        if (upload >= 0)
            ::close(upload);
    }

    std::string url;
    std::string userName;
    std::string password;
    std::string caFile;
    bool tls = false;
    FtpTimeouts timeouts;
    int upload = -1; ///< the local file, read by the worker alone
    curl_off_t uploadSize = 0;
    QString host; ///< for the operator's text, read by the client alone

    std::atomic<bool> aborted{false};
    std::atomic<int> responseCode{0};
    std::atomic<bool> movePending{false};
    bool quitSent = false;     ///< the worker's own
    curl_off_t lastMoved = -1; ///< the worker's own: bytes up and down when last told
    CURLcode result = CURLE_FAILED_INIT;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    /// Runs the put to its end; the worker thread's body.
    void run();
    /// Makes the worker end as soon as it can: its connections are shut, and libcurl's own
    /// waits give up at their next progress call, within about a second.
    void abort();
    /// Stops all further news to the client, which is going away or has given up.
    void forgetClient();
    void tellClient(void (FtpClient::*slot)(const std::shared_ptr<FtpTransfer> &));
    void noteMove();
    curl_socket_t openSocket(const curl_sockaddr &address);
    void closeSocket(curl_socket_t socket);

private:
    std::mutex m_clientMutex;
    FtpClient *m_client = nullptr; ///< guarded by m_clientMutex

    std::mutex m_socketsMutex;
    std::set<curl_socket_t> m_sockets; ///< open and not yet closed; guarded by m_socketsMutex

    friend class FtpClient;
};

/// libcurl's callbacks, called in the worker and handed to its transfer.
struct FtpCallbacks
{
    static FtpTransfer &transferOf(void *data) { return *static_cast<FtpTransfer *>(data); }

    /// Follows the control connection to keep the code of the last answer; the answer to
    /// the closing QUIT is left out, so that the code tells how the transfer went.
    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *transfer)
    {
        FtpTransfer &self = transferOf(transfer);
        const QByteArrayView line(data, qsizetype(size));
        if (type == CURLINFO_HEADER_OUT && line.startsWith("QUIT"))
            self.quitSent = true;
        if (type == CURLINFO_HEADER_IN && !self.quitSent && line.size() >= 4 && line.at(3) == ' ') {
            bool isNumber = false;
            const int code = line.first(3).toByteArray().toInt(&isNumber);
            if (isNumber) {
                self.responseCode = code;
                self.noteMove();
            }
        }
        return 0;
    }

    static size_t read(char *buffer, size_t size, size_t count, void *transfer)
    {
        FtpTransfer &self = transferOf(transfer);
        if (self.aborted)
            return CURL_READFUNC_ABORT;
        const ssize_t got = ::read(self.upload, buffer, size * count);
        return got < 0 ? CURL_READFUNC_ABORT : size_t(got);
    }

    /// Called about once a second even while libcurl blocks for an answer: the only way to
    /// end such a wait early.
    static int progress(void *transfer, curl_off_t, curl_off_t downloaded, curl_off_t,
                        curl_off_t uploaded)
    {
        FtpTransfer &self = transferOf(transfer);
        if (self.aborted)
            return 1;
        if (downloaded + uploaded != self.lastMoved) {
            self.lastMoved = downloaded + uploaded;
            self.noteMove();
        }
        return 0;
    }

    static curl_socket_t openSocket(void *transfer, curlsocktype, curl_sockaddr *address)
    {
        return transferOf(transfer).openSocket(*address);
    }

    static int closeSocket(void *transfer, curl_socket_t socket)
    {
        transferOf(transfer).closeSocket(socket);
        return 0;
    }
};

void FtpTransfer::run()
{
    const CurlLibrary &curl = *curlLibrary();
    CURL *easy = curl.easy_init();
    if (!easy)
        return tellClient(&FtpClient::transferEnded);
    curl.easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl.easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    if (!userName.empty()) {
        curl.easy_setopt(easy, CURLOPT_USERNAME, userName.c_str());
        curl.easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
    }
    if (tls) {
        curl.easy_setopt(easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        if (!caFile.empty())
            curl.easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    }
    curl.easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl.easy_setopt(easy, CURLOPT_READFUNCTION, &FtpCallbacks::read);
    curl.easy_setopt(easy, CURLOPT_READDATA, this);
    curl.easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, uploadSize);
    curl.easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    curl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts.connectMs));
    curl.easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(timeouts.serverResponseSec));
    curl.easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(timeouts.stallSec));
    curl.easy_setopt(easy, CURLOPT_TIMEOUT, long(timeouts.totalSec));
    // The connection is not kept: libcurl sends QUIT right after the transfer, and its wait
    // for the answer is bounded by the server-response time-out of this handle.
    curl.easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl.easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::progress);
    curl.easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl.easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &FtpCallbacks::openSocket);
    curl.easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl.easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &FtpCallbacks::closeSocket);
    curl.easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
    curl.easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &FtpCallbacks::debug);
    curl.easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl.easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    result = curl.easy_perform(easy);
    curl.easy_cleanup(easy);
    tellClient(&FtpClient::transferEnded);
}

void FtpTransfer::abort()
{
    aborted = true;
    const std::lock_guard lock(m_socketsMutex);
    // A shut socket wakes libcurl from any wait on it; closing stays libcurl's business.
    for (const curl_socket_t socket : m_sockets)
        ::shutdown(socket, SHUT_RDWR);
}

void FtpTransfer::forgetClient()
{
    const std::lock_guard lock(m_clientMutex);
    m_client = nullptr;
}

void FtpTransfer::tellClient(void (FtpClient::*slot)(const std::shared_ptr<FtpTransfer> &))
{
    // Under the lock the client cannot finish its destructor; a call still queued when it
    // does is dropped with it.
    const std::lock_guard lock(m_clientMutex);
    if (!m_client)
        return;
    QMetaObject::invokeMethod(
        m_client, [client = m_client, self = shared_from_this(), slot] { (client->*slot)(self); },
        Qt::QueuedConnection);
}

void FtpTransfer::noteMove()
{
    // One notice at a time: a waiter needs to wake, not to count.
    if (!movePending.exchange(true))
        tellClient(&FtpClient::transferMoved);
}

curl_socket_t FtpTransfer::openSocket(const curl_sockaddr &address)
{
    const std::lock_guard lock(m_socketsMutex);
    // Checked under the lock: an abort either sees this socket or is seen here.
    if (aborted)
        return CURL_SOCKET_BAD;
    const curl_socket_t socket =
        ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
    if (socket != CURL_SOCKET_BAD)
        m_sockets.insert(socket);
    return socket;
}

void FtpTransfer::closeSocket(curl_socket_t socket)
{
    // Closed under the lock, so that an abort never shuts a number already reused.
    const std::lock_guard lock(m_socketsMutex);
    m_sockets.erase(socket);
    ::close(socket);
}

FtpClient::FtpClient(QObject *parent) : QObject(parent) {}

FtpClient::~FtpClient()
{
    // The worker ends by itself within about a second; it is never waited for here.
    letGo();
}

void FtpClient::letGo()
{
    if (!m_transfer)
        return;
    m_transfer->forgetClient();
    m_transfer->abort();
    m_responseCode = m_transfer->responseCode;
    m_transfer.reset();
}

int FtpClient::responseCode() const
{
    return m_transfer ? m_transfer->responseCode.load() : m_responseCode;
}

void FtpClient::setUrl(const QString &url)
{
    const QString text = url.trimmed();
    if (text.isEmpty()) {
        m_urlText.clear();
        m_host.clear();
        m_basePath.clear();
        return;
    }
    const QUrl parsed =
        QUrl(text.contains(QLatin1String("://")) ? text : QStringLiteral("ftp://") + text,
             QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty())
        throw FtpError("no FTP server named in \"" + text.toStdString() + "\"");
    if (scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps"))
        throw FtpError("not an FTP server: \"" + text.toStdString() + "\"");
    m_urlText = text;
    m_scheme = scheme;
    m_host = parsed.host();
    m_basePath = parsed.path(QUrl::FullyDecoded);
    if (parsed.port() > 0)
        m_port = parsed.port();
}

void FtpClient::setRemotePort(int port)
{
    if (port <= 0 || port > 65535)
        throw FtpError("no port number: " + std::to_string(port));
    m_port = port;
}

void FtpClient::execute(const QString &operation)
{
    if (stillExecuting())
        throw FtpError("still executing the last operation");
    static const QRegularExpression putVerb(QStringLiteral("^\\s*put\\s(.*)$"),
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch putMatch = putVerb.match(operation);
    const std::optional<std::pair<QString, QString>> put =
        putMatch.hasMatch() ? putNames(putMatch.captured(1)) : std::nullopt;
    if (put)
        startPut(put->first, put->second);
    else if (operation.trimmed().compare(QLatin1String("quit"), Qt::CaseInsensitive) == 0)
        finishAt(true, {}); // a put's connection is closed with QUIT as soon as it ends
    else
        throw FtpError("operation not supported: \"" + operation.toStdString() + "\"");
}

void FtpClient::startPut(const QString &localName, const QString &remoteName)
{
    m_responseCode = 0;
    m_remoteDirectory = remoteDirectoryOf(m_basePath, remoteName);
    if (m_host.isEmpty())
        return failPut(FtpOutcome::Kind::Connect, QStringLiteral("no FTP server set"),
                       QStringLiteral("no FTP server set"));
    QFile upload(QDir(m_localDirectory).absoluteFilePath(localName));
    if (!upload.open(QIODevice::ReadOnly))
        return failPut(
            FtpOutcome::Kind::Transfer,
            QStringLiteral("cannot read %1").arg(QFileInfo(upload.fileName()).fileName()),
            QStringLiteral("cannot read %1: %2").arg(upload.fileName(), upload.errorString()));

    // Set up at the first transfer: a program that starts never waits for libcurl and TLS.
    QString missing;
    if (!initCurlOnce(&missing))
        return failPut(FtpOutcome::Kind::Transfer, QStringLiteral("no FTP library"),
                       QStringLiteral("libcurl cannot be loaded: %1").arg(missing));
    auto transfer = std::make_shared<FtpTransfer>();
    transfer->url = remoteUrl(remoteName).toStdString();
    // The settings file is 8-bit text read as Latin-1: its bytes go out as the file holds them.
    transfer->userName = m_userName.toLatin1().toStdString();
    transfer->password = m_password.toLatin1().toStdString();
    transfer->tls = m_scheme == QLatin1String("ftps");
    transfer->caFile = QFile::encodeName(m_caFile).toStdString();
    transfer->timeouts = m_timeouts;
    transfer->host = m_host;
    transfer->uploadSize = curl_off_t(upload.size());
    // The worker reads a descriptor of its own: the QFile stays in this thread.
    transfer->upload = ::fcntl(upload.handle(), F_DUPFD_CLOEXEC, 0);
    transfer->m_client = this;
    runningWorkers().add();
    try {
        std::thread([transfer]() mutable {
            transfer->run();
            // Let go before the count says the worker has left.
            transfer.reset();
            runningWorkers().remove();
        }).detach();
    } catch (const std::system_error &) {
        runningWorkers().remove();
        return failPut(FtpOutcome::Kind::Transfer, QStringLiteral("transfer failed"),
                       QStringLiteral("the transfer could not be started"));
    }
    m_transfer = std::move(transfer);
}

void FtpClient::failPut(FtpOutcome::Kind kind, const QString &text, const QString &error)
{
    m_outcome = {kind, text};
    finishAt(false, error);
}

FtpOutcome FtpClient::outcomeOf(const FtpTransfer &transfer) const
{
    using Kind = FtpOutcome::Kind;
    const int responseCode = transfer.responseCode;
    const QString &host = transfer.host;
    const QString code = responseCode > 0 ? QStringLiteral(" (%1)").arg(responseCode) : QString();
    switch (transfer.result) {
    case CURLE_OK:
        // libcurl already insists on a positive final answer; 226 or 250 is the server's
        // word that the whole file is stored.
        if (responseCode == 226 || responseCode == 250)
            return {Kind::Landed, {}};
        return {Kind::Transfer, QStringLiteral("transfer not confirmed") + code};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return {Kind::Connect, QStringLiteral("cannot connect to %1").arg(host)};
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return {Kind::Connect, QStringLiteral("no secure connection to %1").arg(host)};
    case CURLE_LOGIN_DENIED:
    case CURLE_FTP_WEIRD_PASS_REPLY:
        return {Kind::Login, QStringLiteral("login refused") + code};
    case CURLE_REMOTE_ACCESS_DENIED: // libcurl's answer to a refused CWD
        return {Kind::Directory, QStringLiteral("no directory %1").arg(m_remoteDirectory)};
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return {Kind::TimedOut, responseCode == 0
                                    ? QStringLiteral("timed out waiting for %1").arg(host)
                                    : QStringLiteral("timed out")};
    default:
        return {Kind::Transfer,
                QStringLiteral("transfer failed") + (responseCode >= 400 ? code : QString())};
    }
}

void FtpClient::finishAt(bool ok, const QString &error)
{
    m_succeeded = ok;
    m_lastError = error;
    // Callers learn the end from stillExecuting(); the signals follow from the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, ok] {
            emit progressed();
            emit finished(ok);
        },
        Qt::QueuedConnection);
}

QString FtpClient::remoteUrl(const QString &remoteName) const
{
    // An absolute remote name starts at the server's root ("%2F"), not at the login
    // directory; a relative one is taken from the directory of the server's URL.
    const bool absolute = remoteName.startsWith(QLatin1Char('/'));
    QStringList segments =
        absolute ? QStringList() : m_basePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    segments += remoteName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList encoded;
    for (const QString &segment : segments)
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(segment));
    const QString path =
        (absolute ? QStringLiteral("/%2F") : QStringLiteral("/")) + encoded.join(QLatin1Char('/'));
    const QString host =
        m_host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_host + QLatin1Char(']') : m_host;
    return QStringLiteral("ftp://%1:%2%3").arg(host).arg(m_port).arg(path);
}

void FtpClient::abort()
{
    if (!m_transfer)
        return;
    letGo();
    m_succeeded = false;
    m_lastError = QStringLiteral("aborted");
}

void FtpClient::transferMoved(const std::shared_ptr<FtpTransfer> &transfer)
{
    transfer->movePending = false;
    if (transfer == m_transfer)
        emit progressed();
}

void FtpClient::transferEnded(const std::shared_ptr<FtpTransfer> &transfer)
{
    if (transfer != m_transfer)
        return;
    m_transfer.reset();
    m_responseCode = transfer->responseCode;
    const bool ok = transfer->result == CURLE_OK;
    m_succeeded = ok;
    m_outcome = outcomeOf(*transfer);
    m_lastError = ok ? QString()
                     : QString::fromUtf8(transfer->errorBuffer[0]
                                             ? transfer->errorBuffer
                                             : curlLibrary()->easy_strerror(transfer->result));
    emit progressed();
    emit finished(ok);
}

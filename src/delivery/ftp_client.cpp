#include "delivery/ftp_client.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <mutex>

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLM *multiOf(void *handle)
{
    return static_cast<CURLM *>(handle);
}

CURL *easyOf(void *handle)
{
    return static_cast<CURL *>(handle);
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

/// libcurl's callbacks, handed back to the client they belong to.
struct FtpCallbacks
{
    static int socket(CURL *, curl_socket_t socket, int what, void *client, void *)
    {
        static_cast<FtpClient *>(client)->watchSocket(socket, what);
        return 0;
    }

    static int timer(CURLM *, long timeoutMs, void *client)
    {
        auto *self = static_cast<FtpClient *>(client);
        // libcurl may only be called back into from the event loop, so the timer never
        // runs the action here, not even for a zero time-out.
        if (timeoutMs < 0)
            self->m_timer->stop();
        else
            self->m_timer->start(int(std::min(timeoutMs, long(INT_MAX))));
        return 0;
    }

    /// Follows the control connection to keep the code of the last answer; the answer to
    /// the closing QUIT is left out, so that the code tells how the transfer went.
    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *client)
    {
        auto *self = static_cast<FtpClient *>(client);
        const QByteArrayView line(data, qsizetype(size));
        if (type == CURLINFO_HEADER_OUT && line.startsWith("QUIT"))
            self->m_quitSent = true;
        if (type == CURLINFO_HEADER_IN && !self->m_quitSent && line.size() >= 4 &&
            line.at(3) == ' ') {
            bool isNumber = false;
            const int code = line.first(3).toByteArray().toInt(&isNumber);
            if (isNumber)
                self->m_responseCode = code;
        }
        return 0;
    }

    static size_t read(char *buffer, size_t size, size_t count, void *client)
    {
        const qint64 got =
            static_cast<FtpClient *>(client)->m_upload.read(buffer, qint64(size * count));
        return got < 0 ? CURL_READFUNC_ABORT : size_t(got);
    }
};

/// The notifiers of one socket libcurl asked us to watch.
struct FtpClient::SocketWatch
{
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;

    ~SocketWatch()
    {
        // The watch may end inside its own notifier's signal: delete later, never now.
        for (QSocketNotifier *notifier : {read, write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
    }
};

FtpClient::FtpClient(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &FtpClient::timerFired);
}

void FtpClient::prepareLibrary()
{
    // Set up at the first transfer: a program that starts never waits for libcurl and TLS.
    if (m_multi)
        return;
    initCurlOnce();
    CURLM *multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &FtpCallbacks::socket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &FtpCallbacks::timer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    m_multi = multi;
}

FtpClient::~FtpClient()
{
    if (m_easy) {
        curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
        curl_easy_cleanup(easyOf(m_easy));
    }
    if (m_multi)
        curl_multi_cleanup(multiOf(m_multi));
    m_sockets.clear();
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
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = operation.split(blanks, Qt::SkipEmptyParts);
    const QString verb = words.value(0).toLower();
    if (verb == QLatin1String("put") && words.size() == 3)
        startPut(words.at(1), words.at(2));
    else if (verb == QLatin1String("quit") && words.size() == 1)
        finishAt(true, {}); // a put's connection is closed with QUIT as soon as it ends
    else
        throw FtpError("operation not supported: \"" + operation.toStdString() + "\"");
}

void FtpClient::startPut(const QString &localName, const QString &remoteName)
{
    m_responseCode = 0;
    m_quitSent = false;
    m_remoteDirectory = remoteDirectoryOf(m_basePath, remoteName);
    if (m_host.isEmpty())
        return failPut(FtpOutcome::Kind::Connect, QStringLiteral("no FTP server set"),
                       QStringLiteral("no FTP server set"));
    m_upload.setFileName(QDir(m_localDirectory).absoluteFilePath(localName));
    if (!m_upload.open(QIODevice::ReadOnly))
        return failPut(
            FtpOutcome::Kind::Transfer,
            QStringLiteral("cannot read %1").arg(QFileInfo(m_upload.fileName()).fileName()),
            QStringLiteral("cannot read %1: %2").arg(m_upload.fileName(), m_upload.errorString()));

    prepareLibrary();
    CURL *easy = curl_easy_init();
    m_errorBuffer[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(easy, CURLOPT_URL, remoteUrl(remoteName).toUtf8().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    if (!m_userName.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, m_userName.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, m_password.toUtf8().constData());
    }
    if (m_scheme == QLatin1String("ftps")) {
        curl_easy_setopt(easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        if (!m_caFile.isEmpty())
            curl_easy_setopt(easy, CURLOPT_CAINFO, QFile::encodeName(m_caFile).constData());
    }
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &FtpCallbacks::read);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_upload.size()));
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeouts.connectMs));
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_timeouts.serverResponseSec));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(m_timeouts.stallSec));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, long(m_timeouts.totalSec));
    // The connection is not kept: libcurl sends QUIT right after the transfer, and its wait
    // for the answer is bounded by the server-response time-out of this handle.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &FtpCallbacks::debug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    m_easy = easy;
    if (curl_multi_add_handle(multiOf(m_multi), easy) != CURLM_OK) {
        m_easy = nullptr;
        curl_easy_cleanup(easy);
        m_upload.close();
        failPut(FtpOutcome::Kind::Transfer, QStringLiteral("transfer failed"),
                QStringLiteral("the transfer could not be started"));
    }
}

void FtpClient::failPut(FtpOutcome::Kind kind, const QString &text, const QString &error)
{
    m_outcome = {kind, text};
    finishAt(false, error);
}

FtpOutcome FtpClient::outcomeOf(int curlResult) const
{
    using Kind = FtpOutcome::Kind;
    const QString code =
        m_responseCode > 0 ? QStringLiteral(" (%1)").arg(m_responseCode) : QString();
    switch (CURLcode(curlResult)) {
    case CURLE_OK:
        // libcurl already insists on a positive final answer; 226 or 250 is the server's
        // word that the whole file is stored.
        if (m_responseCode == 226 || m_responseCode == 250)
            return {Kind::Landed, {}};
        return {Kind::Transfer, QStringLiteral("transfer not confirmed") + code};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return {Kind::Connect, QStringLiteral("cannot connect to %1").arg(m_host)};
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return {Kind::Connect, QStringLiteral("no secure connection to %1").arg(m_host)};
    case CURLE_LOGIN_DENIED:
    case CURLE_FTP_WEIRD_PASS_REPLY:
        return {Kind::Login, QStringLiteral("login refused") + code};
    case CURLE_REMOTE_ACCESS_DENIED: // libcurl's answer to a refused CWD
        return {Kind::Directory, QStringLiteral("no directory %1").arg(m_remoteDirectory)};
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return {Kind::TimedOut, m_responseCode == 0
                                    ? QStringLiteral("timed out waiting for %1").arg(m_host)
                                    : QStringLiteral("timed out")};
    default:
        return {Kind::Transfer,
                QStringLiteral("transfer failed") + (m_responseCode >= 400 ? code : QString())};
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

void FtpClient::watchSocket(int socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        m_sockets.erase(socket);
        return;
    }
    std::unique_ptr<SocketWatch> &watch = m_sockets[socket];
    if (!watch) {
        watch = std::make_unique<SocketWatch>();
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, this);
        connect(watch->read, &QSocketNotifier::activated, this,
                [this, socket] { socketActivity(socket, CURL_CSELECT_IN); });
        connect(watch->write, &QSocketNotifier::activated, this,
                [this, socket] { socketActivity(socket, CURL_CSELECT_OUT); });
    }
    watch->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
}

void FtpClient::socketActivity(int socket, int action)
{
    int running = 0;
    curl_multi_socket_action(multiOf(m_multi), socket, action, &running);
    collectFinished();
}

void FtpClient::timerFired()
{
    int running = 0;
    curl_multi_socket_action(multiOf(m_multi), CURL_SOCKET_TIMEOUT, 0, &running);
    collectFinished();
}

void FtpClient::abort()
{
    if (!m_easy)
        return;
    curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
    curl_easy_cleanup(easyOf(m_easy));
    m_easy = nullptr;
    m_upload.close();
    m_timer->stop();
    m_succeeded = false;
    m_lastError = QStringLiteral("aborted");
}

void FtpClient::collectFinished()
{
    int queued = 0;
    bool ended = false;
    bool ok = false;
    while (CURLMsg *message = curl_multi_info_read(multiOf(m_multi), &queued)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != m_easy)
            continue;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
        curl_easy_cleanup(easyOf(m_easy));
        m_easy = nullptr;
        m_upload.close();
        ok = result == CURLE_OK;
        m_succeeded = ok;
        m_outcome = outcomeOf(result);
        m_lastError =
            ok ? QString()
               : QString::fromUtf8(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(result));
        ended = true;
    }
    emit progressed();
    if (ended)
        emit finished(ok);
}

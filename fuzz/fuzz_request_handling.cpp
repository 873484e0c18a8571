// Whole requests through the running service: one service per process, on the virtual pad,
// in debug mode, reached by a host over loopback exactly as a till reaches it.
//
// An input is one or more requests separated by LF. The first is sent at once; each further
// one is sent during the next pause of the service, so requests that start captures nest
// inside each other's waits the way a busy host makes them nest. Every input runs twice:
// once while the customer does nothing (every capture times out) and once with a customer
// who swipes, signs and enters a PIN at every poll (captures, signature files, replies).

#include "fuzz_support.h"

#include "hostlink/host_server.h"
#include "pad/virtual_pad_driver.h"
#include "service/operator_dialogs.h"
#include "service/pad_forms.h"
#include "service/poll_pause.h"
#include "service/scrivora_service.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>
#include <memory>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// Longest the service may take for one input; a pause never sleeps, so this is a hang.
constexpr int InputBudgetMs = 10000;

/// Dialogs that never block and are never looked at.
class SilentDialogs : public OperatorDialogs
{
public:
    void messageBox(const QString &) override {}
    std::optional<QString> openFile(const QString &, const QString &) override
    {
        return std::nullopt;
    }
};

/// The host's end of the loopback connection; replies are read and thrown away.
class HostEnd
{
public:
    ~HostEnd() { disconnect(); }

    bool isConnected() const { return m_descriptor >= 0; }

    bool connectTo(quint16 port)
    {
        disconnect();
        m_descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_descriptor < 0 ||
            ::connect(m_descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) !=
                0) {
            disconnect();
            return false;
        }
        // Nagle would hold a short request back until the one before is acknowledged.
        const int on = 1;
        ::setsockopt(m_descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return true;
    }

    /// Bytes sent that have not left the host's side yet.
    int unsent() const
    {
        int waiting = 0;
        if (!isConnected() || ::ioctl(m_descriptor, SIOCOUTQNSD, &waiting) != 0)
            return 0;
        return waiting;
    }

    void send(const QByteArray &bytes)
    {
        qsizetype sent = 0;
        while (isConnected() && sent < bytes.size()) {
            const ssize_t now = ::send(m_descriptor, bytes.constData() + sent,
                                       size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (now <= 0) {
                disconnect();
                return;
            }
            sent += now;
        }
    }

    /// Reads whatever replies are waiting; notices when the service has closed the connection.
    void drain()
    {
        char buffer[16384];
        while (isConnected()) {
            const ssize_t got = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0)
                continue;
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                disconnect();
            return;
        }
    }

private:
    void disconnect()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }

    int m_descriptor = -1;
};

/// The service's pause: no sleeping; the host sends its next request and the customer acts.
class FeedingPause : public PollPause
{
public:
    explicit FeedingPause(HostEnd &host) : m_host(host) {}

    void pause(int ms, bool) override
    {
        if (ms >= 1000 && m_customer)
            m_customer();
        if (!m_queued.isEmpty())
            m_host.send(m_queued.takeFirst());
        m_host.drain();
        QCoreApplication::processEvents();
    }
    void wake() override {}
    void wakeAll() override {}

    void queue(QList<QByteArray> requests) { m_queued = std::move(requests); }
    bool allSent() const { return m_queued.isEmpty(); }
    void setCustomer(std::function<void()> customer) { m_customer = std::move(customer); }

private:
    HostEnd &m_host;
    QList<QByteArray> m_queued;
    std::function<void()> m_customer;
};

class Harness
{
public:
    Harness() : m_pause(m_host)
    {
        fuzzCheck(m_root.isValid(), "a temporary folder");
        // Nested folders, so that a file written beside or above the application folder
        // still lands inside the sandbox where it is found.
        m_appDir = m_root.filePath(QStringLiteral("outer/inner/app"));
        fuzzCheck(QDir().mkpath(m_appDir), "the application folder");
        m_settingsPath = QDir(m_appDir).filePath(QString::fromLatin1(SettingsFileName));
        QFile file(m_settingsPath);
        fuzzCheck(file.open(QIODevice::WriteOnly), "the settings file");
        file.write("[Local]\nLocalPort=0\n[settings]\ndebugMode=1\ndebugModeOnly=0\n"
                   "[remote]\nftpURL=\n");
        file.close();

        ServiceSeams seams;
        seams.dialogs = &m_dialogs;
        seams.pad = &m_driver;
        seams.appDir = m_appDir;
        seams.pause = &m_pause;
        m_service = std::make_unique<ScrivoraService>(readSettings(m_settingsPath), seams);
        fuzzCheck(m_service->start(), "the service listens");
    }

    void run(const QByteArray &input)
    {
        QList<QByteArray> requests = input.split('\n');
        requests.removeAll(QByteArray());
        if (requests.isEmpty())
            return;
        runWith(requests, {});
        runWith(requests, [this] { actAsCustomer(); });
    }

private:
    void runWith(QList<QByteArray> requests, std::function<void()> customer)
    {
        connectHost();
        // Each run starts without a transaction, so that an input replays alike.
        m_service->forms().scrivora_clear_padvars();
        m_pause.setCustomer(std::move(customer));
        const QByteArray first = requests.takeFirst();
        m_pause.queue(std::move(requests));
        m_host.send(first);

        // A request is handled inside the event processing that reads it, nested requests
        // included: back here with nothing left to send or read, the input is done.
        const QDeadlineTimer deadline(InputBudgetMs);
        do {
            QCoreApplication::processEvents();
            m_pause.pause(0, false);
            fuzzCheck(!deadline.hasExpired(), "the service handles an input in time");
        } while (!m_pause.allSent() || m_host.unsent() > 0 || unreadByService() > 0);
        m_host.drain();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        checkSandbox();
    }

    void connectHost()
    {
        if (m_host.isConnected())
            return;
        const qint16 before = m_service->hostServer().socketCT();
        fuzzCheck(m_host.connectTo(m_service->hostServer().serverPort()),
                  "the host connects to the service");
        const QDeadlineTimer deadline(InputBudgetMs);
        while (m_service->hostServer().socketCT() <= before) {
            QCoreApplication::processEvents();
            fuzzCheck(!deadline.hasExpired(), "the service accepts the host");
        }
    }

    /// Bytes the host sent that the service has not read yet.
    int unreadByService() const
    {
        int waiting = 0;
        const int descriptor = m_service->hostServer().lastRequestID().toInt();
        if (!m_host.isConnected() || descriptor <= 0 ||
            ::ioctl(descriptor, FIONREAD, &waiting) != 0)
            return 0;
        return waiting;
    }

    void actAsCustomer()
    {
        m_pad->swipeSampleCard();
        m_pad->enterPin(QStringLiteral("8F2A31C0D9E4B7A6"));
        m_pad->sign(m_signature);
    }

    /// Nothing may be written outside the application folder; the files written inside it
    /// (signatures, the upload outbox) are removed so that every run starts alike.
    void checkSandbox()
    {
        QDirIterator entries(m_root.path(),
                             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = entries.next();
            const QFileInfo info = entries.fileInfo();
            if (path == m_appDir || m_appDir.startsWith(path + QLatin1Char('/')))
                continue;
            if (!path.startsWith(m_appDir + QLatin1Char('/')))
                fuzzFailure(QStringLiteral("written outside the application folder: ") + path);
            if (info.isFile() && path != m_settingsPath)
                QFile::remove(path);
        }
    }

    QTemporaryDir m_root;
    QString m_appDir;
    QString m_settingsPath;
    SilentDialogs m_dialogs;
    std::shared_ptr<VirtualPadModel> m_pad = std::make_shared<VirtualPadModel>();
    VirtualPadDriver m_driver{m_pad};
    const SignatureStrokes m_signature = sampleSignature();
    HostEnd m_host;
    FeedingPause m_pause;
    std::unique_ptr<ScrivoraService> m_service;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_request_handling";
    static char *argv[] = {name, nullptr};
    // Kept for the whole process, like the service it runs.
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    harness.run(fuzzInput(data, size));
    return 0;
}

#include "hostlink/host_server.h"

#include "hostlink/operator_sink.h"
#include "hostlink/slot_rules.h"

#include <QEvent>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

/// Accepts per turn of the event loop: enough to keep up, few enough that the user interface
/// and timers get their turn.
constexpr int AcceptsPerTurn = 64;
/// How long accepting rests when the process has no descriptor left.
constexpr int AcceptPauseMs = 100;

int listenBacklog()
{
    // listen() takes the system's own cap when asked for more; read it so we ask for exactly it.
    QFile limit(QStringLiteral("/proc/sys/net/core/somaxconn"));
    if (limit.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int value = limit.readAll().trimmed().toInt(&ok);
        if (ok && value > 0)
            return value;
    }
    return SOMAXCONN;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString bindError(int error)
{
    return error == EADDRINUSE ? QStringLiteral("the port is in use, probably by a Scrivora that "
                                                "is already running, or else by another program")
                               : systemError(error);
}

/// The socket address for @p address:@p port; its length in @p length.
sockaddr_storage socketAddress(const QHostAddress &address, quint16 port, socklen_t &length)
{
    sockaddr_storage storage{};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    return storage;
}

/**
 * A notifier that calls its owner straight from the activation event: no signal, no slot
 * object, nothing on the way from a readable socket to its reader but the event itself.
 */
class DirectSocketNotifier final : public QSocketNotifier
{
public:
    using OnReady = void (HostServer::*)(quint64 serial);

    DirectSocketNotifier(int descriptor, Type type, HostServer *owner, OnReady onReady,
                         quint64 serial)
        : QSocketNotifier(descriptor, type, owner), m_owner(owner), m_onReady(onReady),
          m_serial(serial)
    {
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        (m_owner->*m_onReady)(m_serial);
        return true;
    }

private:
    HostServer *m_owner;
    OnReady m_onReady;
    quint64 m_serial;
};

/// Keeps a connection on the answering stack while its request is handled.
template <typename Connection> class AnsweringScope
{
public:
    AnsweringScope(std::vector<Connection> &stack, const Connection &connection) : m_stack(stack)
    {
        m_stack.push_back(connection);
    }
    ~AnsweringScope() { m_stack.pop_back(); }
    AnsweringScope(const AnsweringScope &) = delete;
    AnsweringScope &operator=(const AnsweringScope &) = delete;

private:
    std::vector<Connection> &m_stack;
};

} // namespace

QString hostAddressText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4).toString();
    return address.toString();
}

QString hostAndPortText(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

HostConnection::HostConnection(int descriptor, quint64 serial, const sockaddr_storage &peer)
    : m_descriptor(descriptor), m_serial(serial), m_peer(peer)
{
}

HostConnection::~HostConnection()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QString HostConnection::peerAddressText() const
{
    return hostAddressText(QHostAddress(reinterpret_cast<const sockaddr *>(&m_peer)));
}

HostServer::HostServer(OperatorSink &log, CpuHandover handover, QObject *parent)
    : QObject(parent), m_log(log), m_handover(std::move(handover))
{
    m_readBuffer.resize(MaxRequestBytes);
    m_acceptPause = new QTimer(this);
    m_acceptPause->setSingleShot(true);
    connect(m_acceptPause, &QTimer::timeout, this, &HostServer::startAccepting);
}

HostServer::~HostServer()
{
    closeAll();
}

bool HostServer::lockAddress(const QHostAddress &address, quint16 port)
{
    // Two programs that bind with SO_REUSEADDR do not see each other until one of them
    // listens. A name in the abstract socket namespace, held while this server lives and
    // gone with the process, tells a second Scrivora at once. An ephemeral port needs none.
    if (port == 0)
        return true;
    const QByteArray name =
        "scrivora-listen-" + address.toString().toLatin1() + '-' + QByteArray::number(port);
    sockaddr_un lock{};
    lock.sun_family = AF_UNIX;
    const size_t length = qMin(size_t(name.size()), sizeof lock.sun_path - 1);
    std::memcpy(lock.sun_path + 1, name.constData(), length);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return true; // no lock to be had: the listen itself still finds a running instance
    if (::bind(descriptor, reinterpret_cast<const sockaddr *>(&lock),
               socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length)) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(descriptor);
        return !taken;
    }
    m_lockDescriptor = descriptor;
    return true;
}

bool HostServer::reserve(const QHostAddress &address, quint16 port)
{
    if (!lockAddress(address, port)) {
        m_error = bindError(EADDRINUSE);
        return false;
    }
    const int family = address.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;
    const int descriptor = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        m_error = systemError(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = 0;
    const sockaddr_storage bound = socketAddress(address, port, length);
    if (::bind(descriptor, reinterpret_cast<const sockaddr *>(&bound), length) != 0) {
        m_error = bindError(errno);
        ::close(descriptor);
        return false;
    }
    sockaddr_storage actual{};
    socklen_t actualLength = sizeof actual;
    ::getsockname(descriptor, reinterpret_cast<sockaddr *>(&actual), &actualLength);
    m_address = address;
    m_port = actual.ss_family == AF_INET6
                 ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&actual)->sin6_port)
                 : ntohs(reinterpret_cast<const sockaddr_in *>(&actual)->sin_port);
    m_listenDescriptor = descriptor;
    m_error.clear();
    return true;
}

bool HostServer::listen()
{
    if (m_listenDescriptor < 0) {
        m_error.clear();
        return false;
    }
    if (::listen(m_listenDescriptor, listenBacklog()) != 0) {
        m_error = bindError(errno);
        return false;
    }
    m_listening = true;
    startAccepting();
    return true;
}

void HostServer::startAccepting()
{
    if (m_listenDescriptor < 0)
        return;
    if (!m_listenNotifier) {
        m_listenNotifier = new QSocketNotifier(m_listenDescriptor, QSocketNotifier::Read, this);
        connect(m_listenNotifier, &QSocketNotifier::activated, this, &HostServer::acceptWaiting);
    }
    m_listenNotifier->setEnabled(true);
}

void HostServer::pauseAccepting()
{
    // Out of descriptors: the waiting connections stay in the backlog until some close.
    m_listenNotifier->setEnabled(false);
    m_acceptPause->start(AcceptPauseMs);
}

void HostServer::onReadable(quint64 serial)
{
    // Held here: a handler may close the connection and drop the server's own reference.
    if (const ConnectionPtr connection = connectionBySerial(serial))
        readFrom(connection);
}

void HostServer::onWritable(quint64 serial)
{
    if (const ConnectionPtr connection = connectionBySerial(serial))
        writePending(connection);
}

HostServer::ConnectionPtr HostServer::connectionBySerial(quint64 serial) const
{
    // A handler further up may have closed it meanwhile, or an inner turn read it dry.
    const auto found = m_bySerial.find(serial);
    return found == m_bySerial.end() ? nullptr : found->second;
}

const HostConnection *HostServer::connectionInSlot(qint16 slot) const
{
    const auto found = m_slots.find(slot);
    return found == m_slots.end() ? nullptr : found->second.get();
}

QSocketNotifier *HostServer::watch(const HostConnection &connection, QSocketNotifier::Type type,
                                   void (HostServer::*onReady)(quint64 serial))
{
    return new DirectSocketNotifier(connection.m_descriptor, type, this, onReady,
                                    connection.m_serial);
}

void HostServer::acceptWaiting()
{
    for (int accepted = 0; accepted < AcceptsPerTurn && m_listenDescriptor >= 0; ++accepted) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int descriptor = ::accept4(m_listenDescriptor, reinterpret_cast<sockaddr *>(&peer),
                                         &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            onConnectionRequest(0, descriptor, peer);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO)
            continue;
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
            pauseAccepting();
        return;
    }
}

void HostServer::onConnectionRequest(qint16 slot, int descriptor, const sockaddr_storage &peer)
{
    if (slot != 0)
        return;
    auto connection = std::make_shared<HostConnection>(descriptor, m_nextSerial++, peer);
    // The count is a 16-bit number: a connection beyond it could never be answered.
    if (m_socketCT == std::numeric_limits<qint16>::max())
        return;
    const bool debug = m_log.isDebugMode();
    if (debug)
        m_log.output_debug(QStringLiteral("Connection request id ") + QString::number(descriptor) +
                           QStringLiteral(" from ") + connection->peerAddressText());
    m_lastRequestId = descriptor;
    ++m_socketCT;
    if (debug) {
        const qint16 highest = m_slots.empty() ? 0 : m_slots.rbegin()->first;
        m_log.output_debug(QStringLiteral("socketCT=") + QString::number(m_socketCT) +
                           QStringLiteral(" socket.ubound") + QString::number(highest));
    }
    const qint16 target = slotForNewConnection(
        m_socketCT, [this](qint16 candidate) { return m_slots.count(candidate) > 0; });
    connection->m_slot = target;
    // The socket itself in the event loop's poll set: the kernel wakes us as the host's peer.
    connection->m_reader = watch(*connection, QSocketNotifier::Read, &HostServer::onReadable);
    m_slots[target] = connection;
    m_bySerial[connection->m_serial] = connection;
    emit connectionCountChanged(int(m_slots.size()));
}

void HostServer::onConnectionClosed(qint16 slot)
{
    const auto found = m_slots.find(slot);
    if (slot < 1 || found == m_slots.end())
        return;
    const ConnectionPtr connection = found->second;
    if (m_log.isDebugMode())
        m_log.output_debug(QStringLiteral("Connection closed: ") + connection->peerAddressText());
    dropConnection(*connection);
    m_slots.erase(found);
    m_bySerial.erase(connection->m_serial);
    --m_socketCT;
    emit connectionCountChanged(int(m_slots.size()));
}

void HostServer::readFrom(const ConnectionPtr &connection)
{
    qsizetype budget = MaxRequestBytes;
    for (int handled = 0; handled < MaxRequestsPerTurn && budget > 0; ++handled) {
        // A look right after an answer finds the next request when the host is quick (it
        // shares our CPU, or it sends ahead): it is served without a turn of the event loop.
        if (handled > 0 && !connection->isOpen())
            return;
        ssize_t received = 0;
        do {
            received = ::recv(connection->m_descriptor, m_readBuffer.data(), size_t(budget), 0);
        } while (received < 0 && errno == EINTR);
        if (received > 0) {
            budget -= received;
            const quint64 repliesBefore = m_repliesSent;
            handOver(connection, received);
            // A lone host may share our CPU and wait for its answer: it goes before our own
            // bookkeeping. With several hosts none may run ahead: each waits for its turn.
            if (m_repliesSent != repliesBefore && m_slots.size() == 1)
                m_handover.afterAnswer();
            continue;
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of stream or a broken connection: either way the host has gone.
        if (connection->isOpen())
            onConnectionClosed(connection->m_slot);
        return;
    }
}

void HostServer::handOver(const ConnectionPtr &connection, qsizetype size)
{
    const QString request = QString::fromLatin1(m_readBuffer.constData(), size);
    {
        AnsweringScope answering(m_answering, connection);
        if (m_handler)
            m_handler(request, *connection);
    }
    if (m_answering.empty())
        releaseRetired();
}

bool HostServer::send(QByteArrayView reply)
{
    const ConnectionPtr target = replyTarget();
    return target && sendTo(target, reply);
}

HostServer::ConnectionPtr HostServer::replyTarget() const
{
    const auto slot = m_slots.find(m_socketCT);
    if (slot != m_slots.end())
        return slot->second;
    // The counted slot is gone: the host that asked still gets its answer if it is there.
    if (!m_answering.empty() && m_answering.back()->isOpen())
        return m_answering.back();
    return nullptr;
}

bool HostServer::sendTo(const ConnectionPtr &connection, QByteArrayView bytes)
{
    if (!connection->isOpen())
        return false;
    if (!connection->m_pending.isEmpty()) {
        connection->m_pending.append(bytes);
    } else {
        ssize_t sent = 0;
        do {
            sent = ::send(connection->m_descriptor, bytes.constData(), size_t(bytes.size()),
                          MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (sent < 0 && errno == EINTR);
        if (sent == bytes.size()) {
            ++m_repliesSent;
            return true;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false; // broken; its close arrives through the read side
        connection->m_pending.append(bytes.constData() + qMax<ssize_t>(sent, 0),
                                     bytes.size() - qMax<ssize_t>(sent, 0));
        watchWrites(*connection, true);
    }
    if (connection->m_pending.size() > MaxPendingReplyBytes) {
        // A host that never reads would grow us without bound: give it up as if it had closed.
        onConnectionClosed(connection->m_slot);
        return false;
    }
    return true;
}

void HostServer::writePending(const ConnectionPtr &connection)
{
    QByteArray &pending = connection->m_pending;
    while (connection->isOpen() && !pending.isEmpty()) {
        const ssize_t sent = ::send(connection->m_descriptor, pending.constData(),
                                    size_t(pending.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (sent < 0) {
            pending.clear(); // broken; its close arrives through the read side
            break;
        }
        pending.remove(0, sent);
    }
    if (connection->isOpen())
        watchWrites(*connection, false);
}

void HostServer::watchWrites(HostConnection &connection, bool on)
{
    if (!connection.m_writer) {
        if (!on)
            return;
        connection.m_writer = watch(connection, QSocketNotifier::Write, &HostServer::onWritable);
    }
    connection.m_writer->setEnabled(on);
}

void HostServer::dropConnection(HostConnection &connection)
{
    // The notifiers let go of the descriptor before it closes.
    for (QSocketNotifier *notifier : {connection.m_reader, connection.m_writer})
        retire(notifier);
    connection.m_reader = nullptr;
    connection.m_writer = nullptr;
    if (connection.m_descriptor >= 0)
        ::close(connection.m_descriptor);
    connection.m_descriptor = -1;
    connection.m_pending.clear();
    if (m_answering.empty())
        releaseRetired();
}

void HostServer::retire(QSocketNotifier *notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    m_retired.push_back(notifier);
}

void HostServer::releaseRetired()
{
    // Deferred, since the caller may be the very notifier's activation.
    for (QSocketNotifier *notifier : std::exchange(m_retired, {}))
        notifier->deleteLater();
}

void HostServer::closeAll()
{
    m_acceptPause->stop();
    if (m_listenNotifier)
        m_listenNotifier->setEnabled(false);
    if (m_listenDescriptor >= 0)
        ::close(m_listenDescriptor);
    m_listenDescriptor = -1;
    m_listening = false;
    if (m_lockDescriptor >= 0)
        ::close(m_lockDescriptor);
    m_lockDescriptor = -1;
    for (auto &[slot, connection] : m_slots)
        dropConnection(*connection);
    m_slots.clear();
    m_bySerial.clear();
    m_socketCT = 0;
}

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

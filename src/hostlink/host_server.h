#pragma once

#include "hostlink/cpu_handover.h"

#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <sys/socket.h>

class OperatorSink;
class QTimer;

/// The most bytes one read takes from a connection; what waits beyond is the next request.
inline constexpr qsizetype MaxRequestBytes = 64 * 1024;
/// Requests one connection may have handled in one turn of the event loop.
inline constexpr int MaxRequestsPerTurn = 16;
/// Unsent replies the program holds for one connection before it gives the connection up.
inline constexpr qsizetype MaxPendingReplyBytes = 1024 * 1024;

/// An address as the log shows it: IPv4 peers in dotted form, even when mapped into IPv6.
QString hostAddressText(const QHostAddress &address);
/// A listening address and port as people write them: an IPv6 address in brackets.
QString hostAndPortText(const QHostAddress &address, quint16 port);

/**
 * One accepted host connection: its descriptor, its peer and the reply bytes the socket has
 * not taken yet. Handed to the request handler so that it can name the peer.
 */
class HostConnection
{
public:
    HostConnection(int descriptor, quint64 serial, const sockaddr_storage &peer);
    ~HostConnection();
    HostConnection(const HostConnection &) = delete;
    HostConnection &operator=(const HostConnection &) = delete;

    /// The peer's address, as it was when the connection was accepted.
    QString peerAddressText() const;
    bool isOpen() const { return m_descriptor >= 0; }
    /// Reply bytes queued here because the socket has not taken them yet.
    qsizetype unsentBytes() const { return m_pending.size(); }

private:
    friend class HostServer;

    int m_descriptor;
    quint64 m_serial;
    sockaddr_storage m_peer;
    qint16 m_slot = 0;
    QByteArray m_pending;
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr; ///< made when the socket first takes less than a reply
};

/**
 * The host link: slot 0 listens, slots 1 and up carry accepted host connections.
 *
 * It counts the open connections in socketCT, remembers the request id of the latest
 * accepted connection, hands every read of a connection (at most MaxRequestBytes) to the
 * request handler at once, and sends replies by the reply-slot rule: to slot socketCT,
 * or, when that slot is gone, to the connection whose request is being answered.
 *
 * All sockets are non-blocking, each watched by its own socket notifier on the Qt event
 * loop, so a request that arrives while another request's handler waits inside the event
 * loop is handled right there, innermost first. After a request whose handling sent a
 * reply, while that host is the only one connected, the server offers the CPU once
 * (CpuHandover), so that a host on the same CPU takes its answer before the server's own
 * bookkeeping. A host whose next request is already waiting when its answer has gone is
 * served in a row, without a turn of the event loop in between: at most MaxRequestsPerTurn
 * requests and MaxRequestBytes in all per turn.
 * A connection whose close has been handled is gone: a reply to it is a send failure.
 */
class HostServer : public QObject
{
    Q_OBJECT

public:
    using RequestHandler =
        std::function<void(const QString &request, const HostConnection &connection)>;

    /// @p handover offers the CPU to a lone host after its answer (CpuHandover).
    explicit HostServer(OperatorSink &log, CpuHandover handover = CpuHandover(),
                        QObject *parent = nullptr);
    ~HostServer() override;

    /// Who handles each request; it must not throw.
    void setRequestHandler(RequestHandler handler) { m_handler = std::move(handler); }

    /**
     * Binds @p address:@p port, so that no other program can take it, but does not listen
     * yet: a host that connects now is refused. False, with errorString() set, when the
     * address cannot be bound, most often because another program listens on it.
     */
    bool reserve(const QHostAddress &address, quint16 port);
    /**
     * Listens on the reserved address with the system's largest backlog and accepts from now
     * on. False, with errorString() set, when that fails; with it empty when nothing is
     * reserved (any more).
     */
    bool listen();
    bool isListening() const { return m_listening; }
    QString errorString() const { return m_error; }
    QHostAddress serverAddress() const { return m_address; }
    quint16 serverPort() const { return m_port; }

    /// Open host connections; also the slot of the next accept and of every reply.
    qint16 socketCT() const { return m_socketCT; }
    /// The open connection in @p slot, or null.
    const HostConnection *connectionInSlot(qint16 slot) const;
    /// The request id of the latest accepted connection, in decimal.
    QString lastRequestID() const
    {
        return m_lastRequestId < 0 ? QString() : QString::number(m_lastRequestId);
    }

    /**
     * Sends @p reply by the reply-slot rule, without waiting: what the socket does not take
     * at once is queued for that connection. False when no open connection can take it.
     */
    bool send(QByteArrayView reply);

    /// Stops listening and drops every connection without a word to the hosts.
    void closeAll();

signals:
    /// The number of open host connections changed.
    void connectionCountChanged(int count);

private:
    using ConnectionPtr = std::shared_ptr<HostConnection>;

    void acceptWaiting();
    void onReadable(quint64 serial);
    void onWritable(quint64 serial);
    /// The open connection of @p serial; null once its close has been handled.
    ConnectionPtr connectionBySerial(quint64 serial) const;
    /// A notifier on @p connection's socket that calls @p onReady with its serial.
    QSocketNotifier *watch(const HostConnection &connection, QSocketNotifier::Type type,
                           void (HostServer::*onReady)(quint64 serial));
    void onConnectionRequest(qint16 slot, int descriptor, const sockaddr_storage &peer);
    void onConnectionClosed(qint16 slot);
    void readFrom(const ConnectionPtr &connection);
    /// Hands @p size bytes of the read buffer, read from @p connection, to the request handler.
    void handOver(const ConnectionPtr &connection, qsizetype size);
    void writePending(const ConnectionPtr &connection);
    bool sendTo(const ConnectionPtr &connection, QByteArrayView bytes);
    void watchWrites(HostConnection &connection, bool on);
    void dropConnection(HostConnection &connection);
    ConnectionPtr replyTarget() const;
    /// False when another Scrivora holds @p address:@p port, even one that does not listen yet.
    bool lockAddress(const QHostAddress &address, quint16 port);
    void startAccepting();
    void pauseAccepting();
    /// Lets go of the notifiers of closed connections once no handler runs any more: one of
    /// them may be the notifier whose activation an outer handler still runs in.
    void retire(QSocketNotifier *notifier);
    void releaseRetired();

    OperatorSink &m_log;
    RequestHandler m_handler;
    int m_listenDescriptor = -1;
    int m_lockDescriptor = -1; ///< holds the address against a second Scrivora
    bool m_listening = false;
    QSocketNotifier *m_listenNotifier = nullptr;
    QTimer *m_acceptPause = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;

    qint16 m_socketCT = 0;
    int m_lastRequestId = -1;
    quint64 m_nextSerial = 1;
    std::map<qint16, ConnectionPtr> m_slots;
    std::map<quint64, ConnectionPtr> m_bySerial;
    /// The connections whose requests are being handled, innermost last.
    std::vector<ConnectionPtr> m_answering;
    std::vector<QSocketNotifier *> m_retired;
    QByteArray m_readBuffer;
    CpuHandover m_handover;
    quint64 m_repliesSent = 0; ///< replies the sockets took whole at once
};

/// Raises the soft limit of open descriptors to the hard limit, so many hosts fit.
void raiseOpenFileLimit();

#pragma once

#include <QByteArray>
#include <QTcpSocket>

/// A loopback port that nothing listens on at the moment of the call.
quint16 freePort();

/// The host's side of a connection, for tests: connects over loopback and collects replies.
class HostClient
{
public:
    /// Connects to 127.0.0.1:@p port; false when the connection does not come up in time.
    bool connectTo(quint16 port, int timeoutMs = 3000);
    void send(const QByteArray &request)
    {
        m_socket.write(request);
        m_socket.flush();
    }
    /// Everything received so far plus what arrives within @p timeoutMs, until at least
    /// @p atLeast bytes are there. Spins the event loop meanwhile.
    QByteArray receive(qsizetype atLeast, int timeoutMs = 5000);
    /// Whatever arrives within @p quietMs; used to show that nothing was sent.
    QByteArray receiveFor(int quietMs) { return receive(-1, quietMs); }
    void close() { m_socket.disconnectFromHost(); }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

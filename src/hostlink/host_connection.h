#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpSocket>

#include <memory>

class ReplyLine;

/// The most bytes one read takes from a connection; what waits beyond is the next request.
inline constexpr qint64 MaxRequestBytes = 64 * 1024;

/// An address as the log shows it: IPv4 peers in dotted form, even when mapped into IPv6.
QString hostAddressText(const QHostAddress &address);

/// The peer of @p connection as the log shows it, also after the peer has closed.
QString peerAddressText(const QTcpSocket *connection);

/**
 * One accepted host connection. It remembers its peer's address, because the socket
 * forgets it as soon as the peer has closed and the close is logged only afterwards.
 */
class HostConnection : public QTcpSocket
{
    Q_OBJECT

public:
    using QTcpSocket::QTcpSocket;

    /// Takes over the waiting connection @p requestId. False when it is no open connection.
    bool accept(qintptr requestId);
    /// The peer's address as it was when the connection was accepted.
    QString peerAddressText() const { return m_peerAddress; }
    /// The handle that still reaches a host which has closed only its sending side.
    std::shared_ptr<ReplyLine> replyLine() const { return m_replyLine; }

private:
    QString m_peerAddress;
    std::shared_ptr<ReplyLine> m_replyLine;
};

#include "hostlink/host_connection.h"

#include "hostlink/reply_line.h"

QString hostAddressText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4).toString();
    return address.toString();
}

bool HostConnection::accept(qintptr requestId)
{
    if (!setSocketDescriptor(requestId))
        return false;
    m_peerAddress = hostAddressText(peerAddress());
    m_replyLine = std::make_shared<ReplyLine>(requestId);
    return true;
}

QString peerAddressText(const QTcpSocket *connection)
{
    if (auto *host = qobject_cast<const HostConnection *>(connection))
        return host->peerAddressText();
    return connection ? hostAddressText(connection->peerAddress()) : QString();
}

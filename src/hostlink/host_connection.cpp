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

QString HostConnection::readRequest()
{
    return QString::fromLatin1(read(MaxRequestBytes));
}

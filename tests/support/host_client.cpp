#include "host_client.h"

#include <QDeadlineTimer>
#include <QTest>

bool HostClient::connectTo(quint16 port, int timeoutMs)
{
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QDeadlineTimer deadline(timeoutMs);
    while (m_socket.state() != QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QTest::qWait(5);
    // Give the server a moment to accept, so the slot exists before the first request.
    QTest::qWait(20);
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void HostClient::send(const QByteArray &request)
{
    m_socket.write(request);
    m_socket.flush();
}

QByteArray HostClient::receive(qsizetype atLeast, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_received += m_socket.readAll();
        if (m_received.size() >= atLeast)
            break;
        QTest::qWait(5);
    }
    m_received += m_socket.readAll();
    return std::exchange(m_received, {});
}

QByteArray HostClient::receiveFor(int quietMs)
{
    QTest::qWait(quietMs);
    m_received += m_socket.readAll();
    return std::exchange(m_received, {});
}

void HostClient::close()
{
    m_socket.disconnectFromHost();
}

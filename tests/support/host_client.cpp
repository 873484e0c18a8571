#include "host_client.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTest>

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

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

QByteArray HostClient::receive(qsizetype atLeast, int timeoutMs)
{
    // A negative atLeast never suffices: it waits the whole time.
    // A connection the test has aborted reads as nothing.
    const auto readWaiting = [this] {
        return m_socket.isOpen() ? m_socket.readAll() : QByteArray();
    };
    for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QTest::qWait(5)) {
        m_received += readWaiting();
        if (atLeast >= 0 && m_received.size() >= atLeast)
            break;
    }
    m_received += readWaiting();
    return std::exchange(m_received, {});
}

#include "app/frm_main.h"

#include "hostlink/host_connection.h"
#include "hostlink/host_listener.h"
#include "hostlink/slot_rules.h"
#include "settings/ini_reader.h"

#include <QHostAddress>

namespace {

/// Where the listener binds: loopback unless the settings name another address.
QHostAddress listenAddress(const QString &iniFile, QString &configured)
{
    iniReadValue(iniFile, QStringLiteral("Local"), QStringLiteral("ListenAddress"),
                 QStringLiteral("S"), QString(), configured);
    if (configured.isEmpty())
        return QHostAddress(QHostAddress::LocalHost);
    return QHostAddress(configured);
}

std::set<qint16> occupiedSlots(const std::map<qint16, QPointer<QTcpSocket>> &connections)
{
    std::set<qint16> occupied;
    for (const auto &slot : connections)
        occupied.insert(slot.first);
    return occupied;
}

qint16 highestSlot(const std::map<qint16, QPointer<QTcpSocket>> &connections)
{
    return connections.empty() ? 0 : connections.rbegin()->first;
}

} // namespace

bool frmMain::startListening()
{
    const std::optional<quint16> port = parseListenPort(localPort);
    if (!port) {
        showMessage(QStringLiteral("Cannot listen on port %1: it is no port number (0 to 65535)")
                        .arg(localPort));
        return false;
    }
    QString configuredAddress;
    const QHostAddress address = listenAddress(iniFile, configuredAddress);
    if (address.isNull()) {
        showMessage(QStringLiteral("Cannot listen on port %1: ListenAddress %2 is no IP address")
                        .arg(localPort, configuredAddress));
        return false;
    }
    if (!listenSocket) {
        listenSocket = new HostListener(this);
        connect(listenSocket, &HostListener::connectionRequest, this,
                [this](qintptr requestId) { onConnectionRequest(0, requestId); });
    }
    if (!listenSocket->listen(address, *port)) {
        showMessage(QStringLiteral("Cannot listen on port %1: %2")
                        .arg(localPort, listenSocket->errorString()));
        return false;
    }
    statusMsg = QStringLiteral("Listening to Port: ") + QString::number(listenSocket->serverPort());
    return true;
}

void frmMain::onConnectionRequest(qint16 slot, qintptr requestId)
{
    if (slot != 0)
        return;
    // The connection is parked in its socket object first, so its peer can be named
    // before it gets a slot.
    QPointer<HostConnection> connection = new HostConnection(this);
    if (!connection->accept(requestId)) {
        output_debug(QStringLiteral("Connection request id ") + QString::number(requestId) +
                     QStringLiteral(" not accepted: ") + connection->errorString());
        delete connection;
        return;
    }
    output_debug(QStringLiteral("Connection request id ") + QString::number(requestId) +
                 QStringLiteral(" from ") + connection->peerAddressText());
    lastRequestID = QString::number(requestId);
    ++socketCT;
    output_debug(QStringLiteral("socketCT=") + QString::number(socketCT) +
                 QStringLiteral(" socket.ubound") + QString::number(highestSlot(socket)));
    const qint16 target = slotForNewConnection(socketCT, occupiedSlots(socket));
    socket[target] = connection.data();

    // Queued, so a request that arrives while an earlier one on this very connection is
    // still waiting for the pad is handled inside that wait; the close comes after the
    // data that came before it.
    connect(
        connection, &QTcpSocket::readyRead, this, [this, target] { onRequestData(target); },
        Qt::QueuedConnection);
    connect(
        connection, &QTcpSocket::disconnected, this,
        [this, target, connection] {
            const auto slot = socket.find(target);
            if (connection && slot != socket.end() && slot->second.data() == connection.data())
                onConnectionClosed(target);
        },
        Qt::QueuedConnection);
}

void frmMain::onConnectionClosed(qint16 slot)
{
    const auto found = socket.find(slot);
    if (slot < 1 || found == socket.end())
        return;
    QPointer<QTcpSocket> connection = found->second;
    const auto stillInSlot = [this, slot, &connection] {
        const auto current = socket.find(slot);
        return current != socket.end() && current->second.data() == connection.data();
    };
    // Requests that came in before the close are still handled; one of them may wait
    // for the pad long enough to see this close handled from inside.
    while (connection && connection->bytesAvailable() > 0 && stillInSlot())
        onRequestData(slot);
    if (!stillInSlot())
        return;
    output_debug(QStringLiteral("Connection closed: ") + peerAddressText(connection));
    if (connection) {
        connection->disconnect(this);
        connection->close();
        // A handler further out may still hold the socket; it goes when control returns.
        connection->deleteLater();
    }
    socket.erase(slot);
    --socketCT;
}

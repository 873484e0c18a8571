#pragma once

#include <QTcpServer>

/// Slot 0: the listening socket. Announces every waiting connection with its native
/// descriptor, which serves as the request id until the connection is accepted.
class HostListener : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

signals:
    void connectionRequest(qintptr requestId);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

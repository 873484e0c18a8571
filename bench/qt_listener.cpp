// The start-up floor: a QApplication with nothing but a QTcpServer, answering each read with
// the same fixed reply as the reference server.

#include "bench_reply.h"

#include <QApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    bool isNumber = false;
    const uint port = argc == 2 ? QString::fromLocal8Bit(argv[1]).toUInt(&isNumber) : 0;
    if (!isNumber || port > 65535) {
        std::fprintf(stderr, "usage: scrivora-bench-qt PORT\n");
        return 2;
    }
    QTcpServer server;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *connection = server.nextPendingConnection()) {
            QObject::connect(connection, &QTcpSocket::readyRead, connection, [connection] {
                connection->readAll();
                connection->write(bench::FixedReply, qint64(bench::FixedReplySize));
            });
            QObject::connect(connection, &QTcpSocket::disconnected, connection,
                             &QObject::deleteLater);
        }
    });
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "scrivora-bench-qt: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    return app.exec();
}

#include "app/frm_main.h"

#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"

#include <QTcpSocket>

QString frmMain::strRemoveNonPrintableChars(QString str)
{
    return removeNonPrintable(str);
}

QString frmMain::format_xml(const QString &data, QString &tag)
{
    tag = latin1Upper(tag);
    return replyElement(tag, data);
}

void frmMain::return_xml(QString &data, QString &tag, QString &additionalXML)
{
    data = strRemoveNonPrintableChars(data);
    additionalXML = strRemoveNonPrintableChars(additionalXML);
    const QString reply = format_xml(data, tag) + additionalXML;
    if (!debugModeOnly) {
        output_debug(QStringLiteral("Send xml") + reply);
        QTcpSocket *target = replySocket();
        if (!target || target->write(reply.toLatin1()) < 0)
            throw ReplyNotSent("no open host connection for the reply");
        // Hand the bytes to the system now; the caller may wait a long time before the
        // event loop would otherwise get to them.
        target->flush();
    }
    output_debug(reply);
}

QTcpSocket *frmMain::replySocket() const
{
    const auto isOpen = [](QTcpSocket *connection) {
        return connection && connection->state() == QAbstractSocket::ConnectedState;
    };
    const auto slot = socket.find(socketCT);
    if (slot != socket.end() && isOpen(slot->second))
        return slot->second;
    // The counted slot is gone or closed: a host that connects per request still gets
    // the answer on the connection that asked.
    if (isOpen(m_answeringSocket))
        return m_answeringSocket;
    return nullptr;
}

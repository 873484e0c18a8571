#include "app/frm_main.h"

#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"
#include "hostlink/reply_line.h"

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
        const QByteArray bytes = reply.toLatin1();
        if (QTcpSocket *target = replySocket()) {
            if (target->write(bytes) < 0)
                throw ReplyNotSent("the host connection refused the reply");
            // Hand the bytes to the system now; the caller may wait a long time before the
            // event loop would otherwise get to them.
            target->flush();
        } else if (!m_answering.line || !m_answering.line->send(bytes)) {
            throw ReplyNotSent("no open host connection for the reply");
        }
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
    if (isOpen(m_answering.socket))
        return m_answering.socket;
    return nullptr;
}

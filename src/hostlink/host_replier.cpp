#include "hostlink/host_replier.h"

#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"
#include "hostlink/host_server.h"
#include "hostlink/operator_sink.h"

QString HostReplier::strRemoveNonPrintableChars(QString str) const
{
    return removeNonPrintable(str);
}

QString HostReplier::format_xml(const QString &data, QString &tag) const
{
    tag = latin1Upper(tag);
    return replyElement(tag, data);
}

void HostReplier::return_xml(QString &data, QString &tag, QString &additionalXML)
{
    data = strRemoveNonPrintableChars(data);
    additionalXML = strRemoveNonPrintableChars(additionalXML);
    QString reply = format_xml(data, tag);
    reply.append(additionalXML);
    const bool debug = m_log.isDebugMode();
    if (!m_log.isDebugModeOnly()) {
        if (debug)
            m_log.output_debug(QStringLiteral("Send xml") + reply);
        if (!m_server.send(reply.toLatin1()))
            throw ReplyNotSent("no open host connection for the reply");
    }
    if (debug)
        m_log.output_debug(reply);
}

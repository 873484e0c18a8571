#include "hostlink/host_replier.h"

#include "hostlink/host_reply.h"
#include "hostlink/host_request.h"
#include "hostlink/host_server.h"
#include "hostlink/operator_sink.h"

QString HostReplier::strRemoveNonPrintableChars(QString str) const
{
    return removeNonPrintable(str);
}

void HostReplier::format_xml(ReplyBytes &out, const QString &data, QString &tag) const
{
    tag = latin1Upper(tag);
    appendReplyElement(out, tag, data);
}

void HostReplier::return_xml(QString &data, QString &tag, QString &additionalXML)
{
    data = strRemoveNonPrintableChars(data);
    additionalXML = strRemoveNonPrintableChars(additionalXML);
    // Straight to bytes: the reply gets a string of its own only for the log.
    ReplyBytes reply;
    format_xml(reply, data, tag);
    appendLatin1(reply, additionalXML);
    const bool debug = m_log.isDebugMode();
    const QString replyText =
        debug ? QString::fromLatin1(reply.constData(), reply.size()) : QString();
    if (!m_log.isDebugModeOnly()) {
        if (debug)
            m_log.output_debug(QStringLiteral("Send xml") + replyText);
        if (!m_server.send(QByteArrayView(reply.constData(), reply.size())))
            throw ReplyNotSent("no open host connection for the reply");
    }
    if (debug)
        m_log.output_debug(replyText);
}

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
    ReplyBytes element;
    appendReplyElement(element, tag, data);
    return QString::fromLatin1(element.constData(), element.size());
}

void HostReplier::return_xml(QString &data, QString &tag, QString &additionalXML)
{
    data = strRemoveNonPrintableChars(data);
    additionalXML = strRemoveNonPrintableChars(additionalXML);
    tag = latin1Upper(tag);
    // Straight to bytes: the reply is built without a string of its own when nobody logs it.
    ReplyBytes reply;
    appendReplyElement(reply, tag, data);
    appendLatin1(reply, additionalXML);
    const bool debug = m_log.isDebugMode();
    const auto replyText = [&reply] {
        return QString::fromLatin1(reply.constData(), reply.size());
    };
    if (!m_log.isDebugModeOnly()) {
        if (debug)
            m_log.output_debug(QStringLiteral("Send xml") + replyText());
        if (!m_server.send(QByteArrayView(reply.constData(), reply.size())))
            throw ReplyNotSent("no open host connection for the reply");
    }
    if (debug)
        m_log.output_debug(replyText());
}

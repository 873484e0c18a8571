#pragma once

#include "hostlink/host_reply.h"

#include <QString>

class HostServer;
class OperatorSink;

/**
 * Builds, logs and sends every answer to the host: one reply element, optionally followed
 * by ready-made XML, both reduced to printable ASCII, sent without any terminator. In
 * debug-only mode replies are logged instead of sent.
 */
class HostReplier
{
public:
    HostReplier(HostServer &server, OperatorSink &log) : m_server(server), m_log(log) {}

    /// @p str without the characters whose 8-bit code lies outside 32 to 126.
    QString strRemoveNonPrintableChars(QString str) const;
    /// Appends the element "<TAG>data</TAG>" to @p out; @p tag is upper-cased in place.
    void format_xml(ReplyBytes &out, const QString &data, QString &tag) const;
    /**
     * Filters @p data and @p additionalXML in place, upper-cases @p tag in place, and sends
     * the reply on the reply slot of the host server.
     * @throws ReplyNotSent when no open host connection takes it.
     */
    void return_xml(QString &data, QString &tag, QString &additionalXML);

private:
    HostServer &m_server;
    OperatorSink &m_log;
};

#include "hostlink/reply_line.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

ReplyLine::ReplyLine(qintptr descriptor) : m_descriptor(::dup(int(descriptor))) {}

ReplyLine::~ReplyLine()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool ReplyLine::send(const QByteArray &bytes)
{
    if (m_descriptor < 0)
        return false;
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        // No SIGPIPE when the host has gone entirely; a reply is small enough for the
        // socket buffer, so a full buffer means the host has stopped reading.
        const ssize_t n = ::send(m_descriptor, bytes.constData() + sent,
                                 size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

#include "service/standard_error_mirror.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// How long the last lines may hold up the end of the program.
constexpr int FinalFlushMs = 500;

} // namespace

StandardErrorMirror::StandardErrorMirror(int descriptor, QObject *parent)
    : QObject(parent), m_descriptor(descriptor)
{
    struct stat target
    {
    };
    if (::fstat(descriptor, &target) != 0) {
        m_gone = true;
        return;
    }
    m_isSocket = S_ISSOCK(target.st_mode);
    if (m_isSocket) {
        int type = 0;
        socklen_t length = sizeof type;
        m_isDatagram = ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
                       type != SOCK_STREAM;
        return;
    }
    if (!S_ISFIFO(target.st_mode) && !S_ISCHR(target.st_mode))
        return;
    // A handle of our own, opened anew, can be non-blocking without changing the one the
    // program shares with its parent (a terminal, a shell's pipe).
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(descriptor);
    const int own = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        m_descriptor = own;
        m_ownDescriptor = true;
    } else {
        // Not ours to reopen (another user's pipe or terminal): the shared handle blocks, so
        // each write waits for room first and stays small enough to go in whole.
        m_askBeforeWriting = true;
    }
}

StandardErrorMirror::~StandardErrorMirror()
{
    const QDeadlineTimer deadline(FinalFlushMs);
    while (!m_gone && m_backlogSent < m_backlog.size() && !deadline.hasExpired()) {
        pollfd writable{m_descriptor, POLLOUT, 0};
        ::poll(&writable, 1, int(deadline.remainingTime()));
        writeBacklog();
    }
    if (m_ownDescriptor)
        ::close(m_descriptor);
}

void StandardErrorMirror::writeLine(const QByteArray &line)
{
    if (m_gone)
        return;
    if (m_backlog.size() - m_backlogSent + line.size() + 1 > MaxBacklogBytes) {
        ++m_droppedLines;
        return;
    }
    // The note stands where the lines went missing.
    queueDroppedNote();
    m_backlog += line;
    m_backlog += '\n';
    // The usual case: the reader keeps up and the line goes out at once, whole.
    if (writeBacklog() && m_backlogSent < m_backlog.size())
        watchWritable(true);
}

void StandardErrorMirror::queueDroppedNote()
{
    if (m_droppedLines == 0)
        return;
    m_backlog += "(" + QByteArray::number(m_droppedLines) +
                 " lines not written here: standard error was not read in time)\n";
    m_droppedLines = 0;
}

bool StandardErrorMirror::writeBacklog()
{
    for (;;) {
        while (m_backlogSent < m_backlog.size()) {
            const qint64 sent =
                writeSome(m_backlog.constData() + m_backlogSent, m_backlog.size() - m_backlogSent);
            if (sent < 0)
                return false;
            if (sent == 0) {
                // What went out is let go of, so a reader that stays a little behind all day
                // costs no more than the backlog's bound.
                if (m_backlogSent > m_backlog.size() / 2) {
                    m_backlog.remove(0, m_backlogSent);
                    m_backlogSent = 0;
                }
                return true;
            }
            m_backlogSent += sent;
        }
        m_backlog.clear();
        m_backlogSent = 0;
        if (m_droppedLines == 0)
            return true;
        queueDroppedNote();
    }
}

qint64 StandardErrorMirror::writeSome(const char *data, qint64 size)
{
    if (m_isDatagram) {
        // One line per datagram: a whole backlog would not fit one.
        const char *lineEnd = static_cast<const char *>(std::memchr(data, '\n', size_t(size)));
        if (lineEnd)
            size = lineEnd - data + 1;
    }
    if (m_askBeforeWriting) {
        pollfd room{m_descriptor, POLLOUT, 0};
        if (::poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT))
            return (room.revents & (POLLERR | POLLHUP)) ? writeFailed() : 0;
        size = qMin<qint64>(size, PIPE_BUF);
    }
    for (;;) {
        const ssize_t sent =
            m_isSocket ? ::send(m_descriptor, data, size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL)
                       : ::write(m_descriptor, data, size_t(size));
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EPIPE && errno != EIO && errno != EBADF && errno != ECONNRESET &&
            errno != ENOTCONN) {
            // A passing failure (a full disk under a log file): this piece is lost, not the rest.
            return size;
        }
        return writeFailed();
    }
}

qint64 StandardErrorMirror::writeFailed()
{
    // The reader has gone: nobody will see what follows.
    m_gone = true;
    m_backlog.clear();
    m_backlogSent = 0;
    watchWritable(false);
    return -1;
}

void StandardErrorMirror::watchWritable(bool on)
{
    if (!m_writable) {
        if (!on)
            return;
        m_writable = new QSocketNotifier(m_descriptor, QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, &StandardErrorMirror::onWritable);
    }
    m_writable->setEnabled(on);
}

void StandardErrorMirror::onWritable()
{
    if (writeBacklog() && m_backlogSent == m_backlog.size())
        watchWritable(false);
}

#include "pad_line.h"

#include "pad/serial_line.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

} // namespace

PadLine::PadLine(int fd)
    : m_fd(fd), m_reader(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
      m_writer(new QSocketNotifier(fd, QSocketNotifier::Write, this))
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_writer->setEnabled(false);
    connect(m_reader, &QSocketNotifier::activated, this, &PadLine::readAvailable);
    connect(m_writer, &QSocketNotifier::activated, this, &PadLine::flush);
}

PadLine::~PadLine()
{
    // The notifiers must let go of the descriptor before it is closed.
    delete m_reader;
    delete m_writer;
    ::close(m_fd);
}

void PadLine::write(const QByteArray &bytes)
{
    if (!m_reader->isEnabled())
        return;
    m_pending.append(bytes);
    // With bytes already waiting, the writer notifier sends these after them.
    if (!m_writer->isEnabled())
        flush();
}

void PadLine::flush()
{
    while (m_sent < m_pending.size()) {
        const ssize_t result =
            ::write(m_fd, m_pending.constData() + m_sent, size_t(m_pending.size() - m_sent));
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0 && wouldBlock()) {
            // The terminal's buffer is full: the rest goes when the reader has made room.
            m_writer->setEnabled(true);
            return;
        }
        if (result <= 0) {
            fail(QStringLiteral("cannot write to the line: %1").arg(systemError()));
            return;
        }
        m_sent += result;
    }
    m_pending.clear();
    m_sent = 0;
    m_writer->setEnabled(false);
}

void PadLine::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && wouldBlock())
            return;
        if (count <= 0) {
            fail(count == 0 ? QStringLiteral("the line was closed")
                            : QStringLiteral("cannot read from the line: %1").arg(systemError()));
            return;
        }
        emit received(QByteArray(buffer, count));
        // A receiver may have found the line failed while answering.
        if (!m_reader->isEnabled())
            return;
    }
}

void PadLine::fail(const QString &reason)
{
    if (!m_reader->isEnabled())
        return;
    // A dead descriptor stays readable and writable for ever: stop watching it.
    m_reader->setEnabled(false);
    m_writer->setEnabled(false);
    m_pending.clear();
    m_sent = 0;
    emit lost(reason);
}

std::unique_ptr<PtyLine> PtyLine::create(const QString &linkPath, QString &error)
{
    const QFileInfo existing(linkPath);
    if (existing.exists() && !existing.isSymLink()) {
        error = QStringLiteral("%1 exists and is no symlink").arg(linkPath);
        return nullptr;
    }
    const int masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0) {
        error = QStringLiteral("no pseudo-terminal: %1").arg(systemError());
        if (masterFd >= 0)
            ::close(masterFd);
        return nullptr;
    }
    const QString devicePath = QString::fromLocal8Bit(ptsname(masterFd));
    const int deviceFd = ::open(ptsname(masterFd), O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Raw both ways: no echo of requests back to the driver, no newline translation.
    if (deviceFd < 0 || !setPadLineMode(deviceFd)) {
        error = QStringLiteral("cannot open %1: %2").arg(devicePath, systemError());
        if (deviceFd >= 0)
            ::close(deviceFd);
        ::close(masterFd);
        return nullptr;
    }

    QFile::remove(linkPath);
    if (!QFile::link(devicePath, linkPath)) {
        error = QStringLiteral("cannot make the symlink %1").arg(linkPath);
        ::close(deviceFd);
        ::close(masterFd);
        return nullptr;
    }
    return std::unique_ptr<PtyLine>(new PtyLine(masterFd, deviceFd, linkPath));
}

PtyLine::PtyLine(int masterFd, int deviceFd, QString linkPath)
    : PadLine(masterFd), m_deviceFd(deviceFd), m_linkPath(std::move(linkPath))
{
}

PtyLine::~PtyLine()
{
    QFile::remove(m_linkPath);
    ::close(m_deviceFd);
}

std::unique_ptr<DeviceLine> DeviceLine::create(const QString &devicePath, QString &error)
{
    const QByteArray path = QFile::encodeName(devicePath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot open %1: %2").arg(devicePath, systemError());
        return nullptr;
    }
    if (!setPadLineMode(fd)) {
        error = QStringLiteral("cannot set up %1: %2").arg(devicePath, systemError());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<DeviceLine>(new DeviceLine(fd));
}

DeviceLine::DeviceLine(int fd) : PadLine(fd) {}

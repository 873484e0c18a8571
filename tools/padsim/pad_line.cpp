#include "pad_line.h"

#include "pad/serial_line.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

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
    termios raw{};
    if (deviceFd < 0 || tcgetattr(deviceFd, &raw) != 0) {
        error = QStringLiteral("cannot open %1: %2").arg(devicePath, systemError());
        ::close(masterFd);
        return nullptr;
    }
    // Raw both ways: no echo of requests back to the driver, no newline translation.
    cfmakeraw(&raw);
    tcsetattr(deviceFd, TCSANOW, &raw);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);

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
    : m_masterFd(masterFd), m_deviceFd(deviceFd), m_linkPath(std::move(linkPath)),
      m_notifier(new QSocketNotifier(masterFd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyLine::readAvailable);
}

PtyLine::~PtyLine()
{
    QFile::remove(m_linkPath);
    ::close(m_deviceFd);
    ::close(m_masterFd);
}

void PtyLine::write(const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t result =
            ::write(m_masterFd, bytes.constData() + written, size_t(bytes.size() - written));
        if (result < 0 && errno == EINTR)
            continue;
        // A full line buffer means nobody reads: the rest is lost, as on a real line.
        if (result <= 0)
            return;
        written += result;
    }
}

void PtyLine::readAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_masterFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        emit received(QByteArray(buffer, count));
    }
}

std::unique_ptr<DeviceLine> DeviceLine::create(const QString &devicePath, QString &error)
{
    QString why;
    std::unique_ptr<QSerialPort> port = openPadSerialLine(devicePath, &why);
    if (!port) {
        error = QStringLiteral("cannot open %1: %2").arg(devicePath, why);
        return nullptr;
    }
    return std::unique_ptr<DeviceLine>(new DeviceLine(std::move(port)));
}

DeviceLine::DeviceLine(std::unique_ptr<QSerialPort> port) : m_port(std::move(port))
{
    connect(m_port.get(), &QSerialPort::readyRead, this,
            [this] { emit received(m_port->readAll()); });
}

DeviceLine::~DeviceLine() = default;

void DeviceLine::write(const QByteArray &bytes)
{
    m_port->write(bytes);
}

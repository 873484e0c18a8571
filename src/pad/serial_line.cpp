#include "pad/serial_line.h"

#include <QSerialPort>

#include <cerrno>
#include <cstring>
#include <termios.h>

bool setPadLineMode(int descriptor)
{
    termios line{};
    if (::tcgetattr(descriptor, &line) != 0)
        return false;
    ::cfmakeraw(&line);
    ::cfsetispeed(&line, B115200);
    ::cfsetospeed(&line, B115200);
    // CLOCAL: a line without a carrier signal (a pseudo-terminal, a bare cable) never blocks.
    line.c_cflag &= ~(PARENB | CSTOPB | CRTSCTS | CSIZE);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    return ::tcsetattr(descriptor, TCSANOW, &line) == 0;
}

std::unique_ptr<QSerialPort> openPadSerialLine(const QString &devicePath, QString *error)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(devicePath);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = port->errorString();
        return nullptr;
    }
    if (!setPadLineMode(int(port->handle()))) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    return port;
}

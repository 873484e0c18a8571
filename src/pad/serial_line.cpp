#include "pad/serial_line.h"

#include <QSerialPort>

std::unique_ptr<QSerialPort> openPadSerialLine(const QString &devicePath, QString *error)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(devicePath);
    if (!port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = port->errorString();
        return nullptr;
    }
    port->setBaudRate(QSerialPort::Baud115200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    return port;
}

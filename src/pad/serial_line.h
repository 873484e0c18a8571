#pragma once

#include <QString>

#include <memory>

class QSerialPort;

/**
 * Opens the serial device @p devicePath for reading and writing with the pad link's line
 * settings (115200 baud, 8 data bits, no parity, one stop bit, no flow control), as both
 * ends of the link need them. Nothing, with @p error set, when the device cannot be opened.
 */
std::unique_ptr<QSerialPort> openPadSerialLine(const QString &devicePath, QString *error = nullptr);

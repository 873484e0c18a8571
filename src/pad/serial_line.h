#pragma once

#include <QString>

#include <memory>

class QSerialPort;

/**
 * Puts the open serial line @p descriptor into the pad link's mode, as both ends of the link
 * need it: raw (no echo, no translation), 115200 baud, 8 data bits, no parity, one stop
 * bit, no flow control, carrier ignored. False, with errno set, when the line refuses.
 */
bool setPadLineMode(int descriptor);

/**
 * Opens the serial device @p devicePath for reading and writing in the pad link's mode.
 * Nothing, with @p error set, when the device cannot be opened or set up.
 */
std::unique_ptr<QSerialPort> openPadSerialLine(const QString &devicePath, QString *error = nullptr);

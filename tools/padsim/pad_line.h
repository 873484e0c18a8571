#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSerialPort;
class QSocketNotifier;

/// The pad's end of a serial line: bytes in through received(), bytes out through write().
class PadLine : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void write(const QByteArray &bytes) = 0;

signals:
    void received(const QByteArray &bytes);
};

/**
 * A pseudo-terminal whose device the symlink linkPath names, so that a serial driver opens
 * it like a port. The emulator keeps the terminal's device side open itself, in raw mode,
 * so the line survives a driver closing and reopening it.
 */
class PtyLine : public PadLine
{
    Q_OBJECT

public:
    /// Nothing, with @p error set, when the terminal or the link cannot be made. An old
    /// symlink at @p linkPath is replaced; any other file there is left alone.
    static std::unique_ptr<PtyLine> create(const QString &linkPath, QString &error);
    ~PtyLine() override;

    void write(const QByteArray &bytes) override;

private:
    PtyLine(int masterFd, int deviceFd, QString linkPath);
    void readAvailable();

    int m_masterFd;
    int m_deviceFd;
    QString m_linkPath;
    QSocketNotifier *m_notifier = nullptr;
};

/// An existing serial device, opened at 115200 baud, 8N1.
class DeviceLine : public PadLine
{
    Q_OBJECT

public:
    static std::unique_ptr<DeviceLine> create(const QString &devicePath, QString &error);
    ~DeviceLine() override;

    void write(const QByteArray &bytes) override;

private:
    explicit DeviceLine(std::unique_ptr<QSerialPort> port);

    std::unique_ptr<QSerialPort> m_port;
};

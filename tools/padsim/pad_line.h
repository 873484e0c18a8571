#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

/**
 * The pad's end of a serial line: bytes in through received(), bytes out through write().
 *
 * The line is a non-blocking descriptor. What it does not take at once waits in the line, in
 * order, and goes out as soon as the descriptor is writable again: nothing written is ever
 * dropped or reordered, however slowly the other end reads. Only when the descriptor itself
 * fails (end of file or an I/O error, e.g. a device unplugged) does the line stop, drop what
 * it still holds and report lost() once.
 */
class PadLine : public QObject
{
    Q_OBJECT

public:
    ~PadLine() override;

    /// Sends @p bytes after everything written before; never blocks.
    void write(const QByteArray &bytes);
    /// Bytes written but not yet taken by the descriptor.
    qsizetype pendingBytes() const { return m_pending.size() - m_sent; }

signals:
    void received(const QByteArray &bytes);
    /// The descriptor failed; the line neither reads nor writes any more.
    void lost(const QString &reason);

protected:
    /// Takes over @p fd: makes it non-blocking, serves it and closes it at the end.
    explicit PadLine(int fd);
    int descriptor() const { return m_fd; }

private:
    void readAvailable();
    void flush();
    void fail(const QString &reason);

    int m_fd;
    QSocketNotifier *m_reader;
    QSocketNotifier *m_writer;
    QByteArray m_pending;
    qsizetype m_sent = 0;
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

private:
    PtyLine(int masterFd, int deviceFd, QString linkPath);

    int m_deviceFd;
    QString m_linkPath;
};

/// An existing serial device, opened at 115200 baud, 8N1, raw, without flow control.
class DeviceLine : public PadLine
{
    Q_OBJECT

public:
    /// Nothing, with @p error set, when @p devicePath cannot be opened or is no terminal.
    static std::unique_ptr<DeviceLine> create(const QString &devicePath, QString &error);

private:
    explicit DeviceLine(int fd);
};

#pragma once

#include "pad/link_protocol.h"
#include "pad/pad_driver.h"

#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSerialPort;

/**
 * The pad driver for a pad on a serial line (a real port or a pseudo-terminal), speaking
 * the line protocol of docs/pad-link.md.
 *
 * Every call blocks until the pad answers and takes at most callBudgetMs, retries and
 * resynchronisation included. A pad that is gone, silent or garbled makes the call throw
 * PadError; the next call then resynchronises by itself (hello and reopen, reopening the
 * device when it went away), so a replugged pad works again without any operator action.
 * While the link is closed, form, variable and script calls report LinkClosed, as a pad
 * with a closed port does. saveSignature writes the image on this side and needs no pad.
 */
class SerialPadDriver : public PadDriver
{
public:
    /// openPort: the device cannot be opened (missing, busy, no permission).
    static constexpr qint16 DeviceUnavailable = -2;
    /// openPort: nothing on the line answered the hello in time.
    static constexpr qint16 PadSilent = -3;
    /// openPort: the pad answered but speaks another protocol version.
    static constexpr qint16 VersionMismatch = -4;
    /// Every call but openPort while the link is closed.
    static constexpr qint16 LinkClosed = 0;
    /// Longest script file loadScript sends; a larger one is refused without pad traffic.
    static constexpr qint64 MaxScriptBytes = 64 * 1024;

    static constexpr int DefaultCallBudgetMs = 2000;
    /// How long one attempt waits for its answer before the request is sent again.
    static constexpr int RetryIntervalMs = 500;

    explicit SerialPadDriver(QString devicePath, int callBudgetMs = DefaultCallBudgetMs);
    ~SerialPadDriver() override;

    QString devicePath() const { return m_devicePath; }

    void openPort(int port, int options, qint16 &status) override;
    void closePort() override;
    void isPortOpen(bool &open) override;
    void showForm(const QString &formName, qint16 &status) override;
    void runScript(const QString &scriptName, const QString &argument, qint16 &status) override;
    void loadScript(int slot, const QString &scriptName, const QString &path, qint32 baudRate,
                    qint16 &status) override;
    void getVar(const QString &name, QString &value, qint16 &status) override;
    void setVar(const QString &name, const QByteArray &bytes, qint16 count,
                qint16 &status) override;
    void saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                       qint16 &status) override;

private:
    struct Answer
    {
        qint16 status = LinkClosed;
        QStringList values;
    };

    /// One request of an open session, resynchronising first when the link was lost.
    Answer call(const QStringList &request);
    /// Sends @p request until its answer arrives; nothing when @p deadline passes first.
    /// Throws PadError when the pad reports the call failed as a whole.
    std::optional<Answer> exchange(const QStringList &request, const QDeadlineTimer &deadline);
    std::optional<padlink::Frame> awaitAnswer(quint32 sequence, const QDeadlineTimer &until);
    /// Hello plus reopen after a lost link; throws PadError when the pad does not come back.
    void resynchronise(const QDeadlineTimer &deadline);
    /// Hello exchange: 1 when the pad speaks our version, else PadSilent or VersionMismatch.
    qint16 greet(const QDeadlineTimer &deadline);
    bool openDevice();
    void dropUnaskedInput();
    void closeFailedDeviceBetweenCalls();
    void closeDevice();
    void discardInput();
    [[noreturn]] void lose(const QString &what);

    QString m_devicePath;
    int m_callBudgetMs;
    std::unique_ptr<QSerialPort> m_port;
    padlink::LineAssembler m_lines;
    quint32 m_nextSequence;
    bool m_sessionOpen = false;
    bool m_inSync = false;
    bool m_inExchange = false; ///< an exchange waits for its answer: input is kept
};

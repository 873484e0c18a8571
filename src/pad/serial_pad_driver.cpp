#include "pad/serial_pad_driver.h"

#include "pad/serial_line.h"

#include "signature/signature_image.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopedValueRollback>
#include <QSerialPort>

#include <utility>

using padlink::Frame;
using padlink::FrameKind;

namespace {

constexpr int CloseBudgetMs = 500;

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

/// A time-out only means the pad was quiet; any other error means the device itself failed.
bool deviceFailed(const QSerialPort &port)
{
    return port.error() != QSerialPort::NoError && port.error() != QSerialPort::TimeoutError;
}

} // namespace

SerialPadDriver::SerialPadDriver(QString devicePath, int callBudgetMs)
    : m_devicePath(std::move(devicePath)), m_callBudgetMs(callBudgetMs),
      // A random start keeps a restarted driver from meeting the sequence numbers the pad
      // remembers from an earlier session.
      m_nextSequence(QRandomGenerator::global()->bounded(1u, 1u << 30))
{
}

SerialPadDriver::~SerialPadDriver()
{
    closeDevice();
}

void SerialPadDriver::openPort(int, int, qint16 &status)
{
    closeDevice();
    m_sessionOpen = false;
    if (!openDevice()) {
        status = DeviceUnavailable;
        return;
    }
    const QDeadlineTimer deadline(m_callBudgetMs);
    try {
        status = greet(deadline);
        if (status == 1) {
            const std::optional<Answer> opened = exchange({QStringLiteral("OPEN")}, deadline);
            status = opened ? opened->status : PadSilent;
        }
    } catch (const PadError &) {
        closeDevice();
        throw;
    }
    if (status != 1) {
        closeDevice();
        return;
    }
    m_sessionOpen = true;
    m_inSync = true;
}

void SerialPadDriver::closePort()
{
    if (m_sessionOpen && m_inSync) {
        // The pad learns of the close if it still listens; a silent pad must not hold it up.
        try {
            exchange({QStringLiteral("CLOSE")}, QDeadlineTimer(CloseBudgetMs));
        } catch (const PadError &) {
        }
    }
    m_sessionOpen = false;
    closeDevice();
}

void SerialPadDriver::isPortOpen(bool &open)
{
    open = m_sessionOpen;
}

void SerialPadDriver::showForm(const QString &formName, qint16 &status)
{
    status = call({QStringLiteral("FORM"), formName}).status;
}

void SerialPadDriver::runScript(const QString &scriptName, const QString &argument, qint16 &status)
{
    status = call({QStringLiteral("RUN"), scriptName, argument}).status;
}

void SerialPadDriver::loadScript(int slot, const QString &scriptName, const QString &path,
                                 qint32 baudRate, qint16 &status)
{
    if (!m_sessionOpen) {
        status = LinkClosed;
        return;
    }
    // The pad cannot read the host's files: the script travels in the request.
    QFile file(path);
    if (!QFileInfo(path).isFile() || file.size() > MaxScriptBytes ||
        !file.open(QIODevice::ReadOnly)) {
        status = 0;
        return;
    }
    status = call({QStringLiteral("LOAD"), QString::number(slot), scriptName, path,
                   QString::number(baudRate), padlink::bytesWord(file.readAll())})
                 .status;
}

void SerialPadDriver::getVar(const QString &name, QString &value, qint16 &status)
{
    Answer answer = call({QStringLiteral("GET"), name});
    value = answer.values.value(0);
    status = answer.status;
}

void SerialPadDriver::setVar(const QString &name, const QByteArray &bytes, qint16 count,
                             qint16 &status)
{
    status = call({QStringLiteral("SET"), name, padlink::bytesWord(bytes), QString::number(count)})
                 .status;
}

void SerialPadDriver::saveSignature(const QByteArray &bytes, qint16 count, const QString &path,
                                    qint16 &status)
{
    // Drawn here, not on the pad, so every driver writes the very same image.
    if (count != bytes.size()) {
        status = 0;
        return;
    }
    status = writeSignatureImage(bytes, path) ? 1 : 0;
}

SerialPadDriver::Answer SerialPadDriver::call(const QStringList &request)
{
    if (!m_sessionOpen)
        return {};
    const QDeadlineTimer deadline(m_callBudgetMs);
    if (!m_inSync)
        resynchronise(deadline);
    std::optional<Answer> answer = exchange(request, deadline);
    if (!answer)
        lose(QStringLiteral("the pad did not answer %1").arg(request.first()));
    return *answer;
}

std::optional<SerialPadDriver::Answer> SerialPadDriver::exchange(const QStringList &request,
                                                                 const QDeadlineTimer &deadline)
{
    if (!m_port || !m_port->isOpen())
        return std::nullopt;
    const QScopedValueRollback inExchange(m_inExchange, true);
    const quint32 sequence = m_nextSequence++;
    const QByteArray line = padlink::encodeFrame({FrameKind::Request, sequence, request});
    // Retries repeat the sequence number: the pad answers a repeat from memory instead of
    // running the request twice.
    while (!deadline.hasExpired()) {
        if (m_port->write(line) != line.size())
            return std::nullopt;
        m_port->waitForBytesWritten(remainingMs(deadline));
        const QDeadlineTimer attempt(qMin(RetryIntervalMs, remainingMs(deadline)));
        std::optional<Frame> frame = awaitAnswer(sequence, attempt);
        if (!frame) {
            if (deviceFailed(*m_port))
                return std::nullopt;
            continue;
        }
        if (frame->words.value(0) == QLatin1String(padlink::FailureWord)) {
            throw PadError(QStringLiteral("pad failed %1: %2")
                               .arg(request.first(), frame->words.mid(1).join(QLatin1Char(' ')))
                               .toStdString());
        }
        bool isNumber = false;
        const int status = frame->words.value(0).toInt(&isNumber);
        if (!isNumber || status < -32768 || status > 32767)
            return std::nullopt;
        return Answer{qint16(status), frame->words.mid(1)};
    }
    return std::nullopt;
}

std::optional<Frame> SerialPadDriver::awaitAnswer(quint32 sequence, const QDeadlineTimer &until)
{
    for (;;) {
        while (std::optional<QByteArray> line = m_lines.takeLine()) {
            std::optional<Frame> frame = padlink::decodeLine(*line);
            // Late answers to earlier requests and our own echo are dropped here.
            if (frame && frame->kind == FrameKind::Answer && frame->sequence == sequence)
                return frame;
        }
        if (until.hasExpired())
            return std::nullopt;
        if (m_port->bytesAvailable() == 0 && !m_port->waitForReadyRead(remainingMs(until))) {
            if (deviceFailed(*m_port) || until.hasExpired())
                return std::nullopt;
        }
        m_lines.append(m_port->readAll());
    }
}

void SerialPadDriver::resynchronise(const QDeadlineTimer &deadline)
{
    if (!m_port || !m_port->isOpen() || deviceFailed(*m_port)) {
        closeDevice();
        if (!openDevice())
            lose(QStringLiteral("the pad device %1 cannot be opened").arg(m_devicePath));
    }
    discardInput();
    if (greet(deadline) != 1)
        lose(QStringLiteral("the pad does not answer the hello"));
    const std::optional<Answer> reopened = exchange({QStringLiteral("OPEN")}, deadline);
    if (!reopened || reopened->status != 1)
        lose(QStringLiteral("the pad did not reopen"));
    m_inSync = true;
}

qint16 SerialPadDriver::greet(const QDeadlineTimer &deadline)
{
    const std::optional<Answer> hello =
        exchange({QStringLiteral("HELLO"), QString::number(padlink::Version)}, deadline);
    if (!hello)
        return PadSilent;
    if (hello->status != 1 || hello->values.value(0) != QString::number(padlink::Version))
        return VersionMismatch;
    return 1;
}

bool SerialPadDriver::openDevice()
{
    m_port = openPadSerialLine(m_devicePath);
    if (!m_port)
        return false;
    discardInput();
    QSerialPort *port = m_port.get();
    QObject::connect(port, &QSerialPort::readyRead, port, [this] { dropUnaskedInput(); });
    QObject::connect(port, &QSerialPort::errorOccurred, port,
                     [this](QSerialPort::SerialPortError) { closeFailedDeviceBetweenCalls(); });
    return true;
}

void SerialPadDriver::dropUnaskedInput()
{
    // Between calls nobody waits for an answer: what the pad sends is not kept, so a
    // chattering pad costs neither memory nor a stalled line.
    if (!m_inExchange)
        m_port->readAll();
}

void SerialPadDriver::closeFailedDeviceBetweenCalls()
{
    // A device that hung up (a pad unplugged, an emulator ended) would wake the event loop
    // again and again; closed, it is reopened by the next call's resynchronisation.
    if (m_inExchange || !deviceFailed(*m_port))
        return;
    // Closing a failed device reports errors of its own: nobody listens any more.
    m_port->disconnect();
    m_port->close();
    m_inSync = false;
}

void SerialPadDriver::closeDevice()
{
    if (m_port) {
        m_port->disconnect();
        m_port->close();
    }
    m_port.reset();
    m_lines.clear();
    m_inSync = false;
}

void SerialPadDriver::discardInput()
{
    if (!m_port)
        return;
    // What was sent before this point answers requests nobody waits for any more.
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
    m_lines.clear();
}

void SerialPadDriver::lose(const QString &what)
{
    m_inSync = false;
    throw PadError(what.toStdString());
}

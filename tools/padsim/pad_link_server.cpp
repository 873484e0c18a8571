#include "pad_link_server.h"

#include "pad/pad_driver.h"
#include "pad/virtual_pad_model.h"
#include "pad_line.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <exception>
#include <utility>

using padlink::Frame;
using padlink::FrameKind;

namespace {

QStringList statusOnly(qint16 status)
{
    return {QString::number(status)};
}

/// The text of a setVar value without its terminating zero code unit, whatever it holds.
QString writtenText(const QByteArray &bytes)
{
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(qFromLittleEndian<quint16>(bytes.constData() + i)));
    if (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

class BadRequest
{
};

} // namespace

QString eventText(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (const QChar character : value) {
        const char16_t unit = character.unicode();
        if (unit == u'\\')
            text.append(QLatin1String("\\\\"));
        else if (unit < 0x20 || (unit >= 0x7f && unit < 0xa0))
            text.append(QLatin1String("\\x") +
                        QString::number(uint(unit), 16).toUpper().rightJustified(2, u'0'));
        else
            text.append(character);
    }
    return text;
}

PadLinkServer::PadLinkServer(std::shared_ptr<VirtualPadModel> model, QObject *parent)
    : QObject(parent), m_model(std::move(model))
{
}

PadLinkServer::~PadLinkServer() = default;

QByteArray PadLinkServer::receive(QByteArrayView bytes)
{
    if (!m_plugged)
        return {};
    m_lines.append(bytes);
    QByteArray out;
    while (const std::optional<QByteArray> line = m_lines.takeLine()) {
        const std::optional<Frame> request = padlink::decodeLine(*line);
        if (!request || request->kind != FrameKind::Request)
            continue;
        if (m_haveLast && *request == m_lastRequest) {
            out += m_lastAnswer;
            continue;
        }
        m_lastRequest = *request;
        m_lastAnswer =
            padlink::encodeFrame({FrameKind::Answer, request->sequence, execute(request->words)});
        m_haveLast = true;
        out += m_lastAnswer;
    }
    return out;
}

void PadLinkServer::serve(PadLine &line)
{
    connect(&line, &PadLine::received, this, [this, &line](const QByteArray &bytes) {
        const QByteArray answer = receive(bytes);
        if (!answer.isEmpty())
            line.write(answer);
    });
}

void PadLinkServer::setPlugged(bool plugged)
{
    m_plugged = plugged;
    // Half a line heard before the cable came out is no request.
    m_lines.clear();
}

QStringList PadLinkServer::execute(const QStringList &request)
{
    const QString verb = request.value(0);
    const auto arity = [&](qsizetype words) {
        if (request.size() != words)
            throw BadRequest();
    };
    try {
        if (verb == QLatin1String("HELLO")) {
            arity(2);
            return hello(request);
        }
        if (verb == QLatin1String("OPEN")) {
            arity(1);
            m_model->callStarts(QStringLiteral("openPort"));
            const qint16 status = m_model->openPort();
            if (status == 1)
                emit padEvent(QStringLiteral("open"));
            return statusOnly(status);
        }
        if (verb == QLatin1String("CLOSE")) {
            arity(1);
            m_model->callStarts(QStringLiteral("closePort"));
            m_model->closePort();
            emit padEvent(QStringLiteral("close"));
            return statusOnly(1);
        }
        if (verb == QLatin1String("FORM")) {
            arity(2);
            m_model->callStarts(QStringLiteral("showForm"));
            const qint16 status = m_model->showForm(request[1]);
            if (status == 1)
                emit padEvent(QStringLiteral("form ") + eventText(request[1]));
            return statusOnly(status);
        }
        if (verb == QLatin1String("RUN")) {
            arity(3);
            m_model->callStarts(QStringLiteral("runScript"));
            const qint16 status = m_model->runScript(request[1], request[2]);
            if (status == 1)
                emit padEvent(QStringLiteral("script run ") + eventText(request[1]));
            return statusOnly(status);
        }
        if (verb == QLatin1String("LOAD")) {
            arity(6);
            return loadScript(request);
        }
        if (verb == QLatin1String("GET")) {
            arity(2);
            return getVar(request[1]);
        }
        if (verb == QLatin1String("SET")) {
            arity(4);
            return setVar(request);
        }
        throw BadRequest();
    } catch (const BadRequest &) {
        return {QLatin1String(padlink::FailureWord), QStringLiteral("bad request")};
    } catch (const std::exception &error) {
        // Whatever the pad's model cannot do is that call's failure, never the emulator's end.
        return {QLatin1String(padlink::FailureWord), QString::fromStdString(error.what())};
    }
}

QStringList PadLinkServer::hello(const QStringList &request)
{
    const QString ours = QString::number(padlink::Version);
    return {request[1] == ours ? QStringLiteral("1") : QStringLiteral("0"), ours};
}

QStringList PadLinkServer::loadScript(const QStringList &request)
{
    // LOAD slot name host-path baud bytes: the script is stored under its file name.
    const QString &name = request[2];
    const QString &hostPath = request[3];
    const std::optional<QByteArray> bytes = padlink::wordBytes(request[5]);
    const QString fileName = QFileInfo(hostPath).fileName();
    if (!bytes || fileName.isEmpty() || fileName == QLatin1String("..") ||
        fileName == QLatin1String("."))
        throw BadRequest();
    m_model->callStarts(QStringLiteral("loadScript"));
    if (!m_scriptDir)
        m_scriptDir = std::make_unique<QTemporaryDir>();
    const QString stored = QDir(m_scriptDir->path()).filePath(fileName);
    QFile file(stored);
    if (!m_scriptDir->isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(*bytes) != bytes->size())
        return statusOnly(VirtualPadModel::Refused);
    file.close();
    const qint16 status = m_model->loadScript(name, stored);
    if (status == 1)
        emit padEvent(
            QStringLiteral("script loaded %1 %2").arg(eventText(name), eventText(hostPath)));
    return statusOnly(status);
}

QStringList PadLinkServer::getVar(const QString &name)
{
    m_model->callStarts(QStringLiteral("getVar"));
    emit padEvent(QStringLiteral("getvar ") + eventText(name));
    QString value;
    const qint16 status = m_model->getVar(name, value);
    return {QString::number(status), value};
}

QStringList PadLinkServer::setVar(const QStringList &request)
{
    const std::optional<QByteArray> bytes = padlink::wordBytes(request[2]);
    bool isNumber = false;
    const int count = request[3].toInt(&isNumber);
    if (!bytes || !isNumber || count < -32768 || count > 32767)
        throw BadRequest();
    m_model->callStarts(QStringLiteral("setVar"));
    const qint16 status = m_model->setVar(request[1], *bytes, qint16(count));
    if (status == 1)
        emit padEvent(QStringLiteral("setvar %1 %2")
                          .arg(eventText(request[1]), eventText(writtenText(*bytes))));
    return statusOnly(status);
}

#pragma once

#include "pad/link_protocol.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class PadLine;
class VirtualPadModel;

/**
 * The pad's end of the serial line: it reads requests of the pad link protocol, carries
 * them out on a VirtualPadModel and produces the answers, which the caller writes back.
 *
 * A repeated request (same sequence number and words as the last one) is answered from
 * memory without running it again. Unplugged, the server hears nothing and says nothing,
 * as with a pulled cable; replugged, it answers again.
 */
class PadLinkServer : public QObject
{
    Q_OBJECT

public:
    explicit PadLinkServer(std::shared_ptr<VirtualPadModel> model, QObject *parent = nullptr);
    ~PadLinkServer() override;

    /// Takes bytes from the line and returns the bytes to send back (possibly none).
    QByteArray receive(QByteArrayView bytes);
    /// Answers every request that comes in on @p line on that same line, in order.
    void serve(PadLine &line);

    void setPlugged(bool plugged);

signals:
    /// One line of the control interface's event stream, e.g. "form padStart".
    void padEvent(const QString &line);

private:
    QStringList execute(const QStringList &request);
    QStringList hello(const QStringList &request);
    QStringList loadScript(const QStringList &request);
    QStringList getVar(const QString &name);
    QStringList setVar(const QStringList &request);

    std::shared_ptr<VirtualPadModel> m_model;
    padlink::LineAssembler m_lines;
    bool m_plugged = true;
    bool m_haveLast = false;
    padlink::Frame m_lastRequest;
    QByteArray m_lastAnswer;
    std::unique_ptr<QTemporaryDir> m_scriptDir;
};

/**
 * A pad value as the event stream shows it: a space stays a space, control characters
 * become \xHH and the backslash \\.
 */
QString eventText(const QString &value);

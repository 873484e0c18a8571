#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpSocket>
#include <QtGlobal>

#include <memory>

/**
 * A second handle on an accepted connection. A host may close its sending side as soon as
 * its request is out (as `nc` does at the end of its input) and still wait for the answer;
 * the socket layer reports that as a close and lets go of the connection, so a capture's
 * late reply goes out through this handle instead.
 */
class ReplyLine
{
public:
    /// Duplicates @p descriptor; the connection stays open until both handles are closed.
    explicit ReplyLine(qintptr descriptor);
    ~ReplyLine();
    ReplyLine(const ReplyLine &) = delete;
    ReplyLine &operator=(const ReplyLine &) = delete;

    /// Sends @p bytes without blocking. False when the host no longer takes them.
    bool send(const QByteArray &bytes);

private:
    int m_descriptor = -1;
};

/// The connection whose request is being handled: its socket and its second handle.
struct AnsweringConnection
{
    QPointer<QTcpSocket> socket;
    std::shared_ptr<ReplyLine> line;
};

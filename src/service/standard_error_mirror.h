#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

/**
 * Standard error as a mirror of the operator's view that never holds the program up. A line
 * goes out at once, whole, when the reader keeps up; what a slow or stopped reader has not
 * taken waits in memory and follows, in order, as it reads on. Beyond MaxBacklogBytes
 * waiting, further lines are dropped and then counted in one note. A reader that has gone
 * (a closed pipe) ends the mirror. A regular file is written as usual.
 */
class StandardErrorMirror : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxBacklogBytes = 4 * 1024 * 1024;

    explicit StandardErrorMirror(int descriptor, QObject *parent = nullptr);
    /// Gives lines still waiting a last short chance, then lets go of the descriptor.
    ~StandardErrorMirror() override;

    /// Writes @p line and a line feed, or queues them behind lines still waiting.
    void writeLine(const QByteArray &line);

private:
    /// Writes as much of the backlog as the reader takes now; false when it has gone.
    bool writeBacklog();
    /// Queues the note of how many lines were dropped, if any were.
    void queueDroppedNote();
    /// Some bytes of @p data now, without waiting: how many went, 0 when none could, -1 when
    /// the reader has gone.
    qint64 writeSome(const char *data, qint64 size);
    /// Ends the mirror: the reader has gone. Returns -1 for writeSome().
    qint64 writeFailed();
    void watchWritable(bool on);
    void onWritable();

    int m_descriptor = -1;
    bool m_ownDescriptor = false;
    bool m_isSocket = false;
    bool m_isDatagram = false;       ///< each line goes as a datagram of its own
    bool m_askBeforeWriting = false; ///< the handle blocks: write only what fits now
    bool m_gone = false;
    QByteArray m_backlog;
    qsizetype m_backlogSent = 0;
    qint64 m_droppedLines = 0;
    QSocketNotifier *m_writable = nullptr;
};

#pragma once

#include <QObject>

#include <array>

class QSocketNotifier;

/**
 * Turns SIGTERM and SIGINT into a Qt signal on the user-interface thread, so that a
 * service manager or Ctrl+C ends Scrivora through its ordinary shut-down.
 *
 * The signal handler only writes the signal number into a socket pair; a QSocketNotifier
 * reads it back in the event loop. One watcher at a time. The watcher lives until the
 * program's last steps; from its destruction on, both signals are ignored, so a second
 * signal during shut-down cannot turn a clean end into a kill.
 */
class UnixSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

    /// False when the socket pair or the handlers could not be set up.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    /// SIGTERM or SIGINT (@p signalNumber) arrived.
    void terminationRequested(int signalNumber);

private:
    void readPendingSignals();

    std::array<int, 2> m_sockets{-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};

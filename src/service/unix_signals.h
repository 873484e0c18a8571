#pragma once

#include <QObject>

#include <array>

class QSocketNotifier;

/**
 * Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the user-interface thread, so that
 * a service manager, Ctrl+C or a closed terminal ends Scrivora through its ordinary
 * shut-down, and an upload in flight is kept for the next run.
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

signals:
    /// SIGTERM, SIGINT or SIGHUP (@p signalNumber) arrived.
    void terminationRequested(int signalNumber);

private:
    void readPendingSignals();

    std::array<int, 2> m_sockets{-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};

#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/**
 * A running `scrivora-padsim --pty --headless` for tests: its pseudo-terminal link lives
 * in a temporary folder, its control commands go to standard input and its events are
 * collected line by line from standard output.
 */
class PadSimProcess
{
public:
    PadSimProcess();
    ~PadSimProcess();

    /// Starts the emulator and waits for its "ready" line; false when it does not come.
    bool start(int timeoutMs = 5000);
    /// The symlink to the emulator's pseudo-terminal, for Device= or a driver.
    QString devicePath() const { return m_dir.filePath(QStringLiteral("pad")); }
    /// Sends one control command line. Commands print no event, so the call gives the
    /// emulator a moment to take it before anything else reaches it over the line.
    void command(const QString &line);
    /// Waits until an event line equal to @p event arrives after the ones already taken;
    /// the events before it are taken too. False on time-out.
    bool waitForEvent(const QString &event, int timeoutMs = 5000);
    /// Every event line seen so far, oldest first.
    QStringList events() const { return m_events; }
    /// Event lines not yet taken by waitForEvent.
    QStringList pendingEvents() const { return m_events.mid(m_taken); }
    /// Ends the emulator with "quit" (or a kill if that does not help).
    void stop();

private:
    void collect();

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_events;
    qsizetype m_taken = 0;
};

#pragma once

#include <QString>

#include <functional>

class OperatorSink;
class PadForms;
class PollPause;

/**
 * Owns the service's one kind of wait. Captures poll the pad once per cycle of a pause of
 * the poll interval in which events keep being handled; a new transaction waits five such
 * cycles; an upload waits in short turns. Whatever arrives meanwhile is handled nested
 * inside the wait, innermost first. Once shut-down has begun every wait ends at once with
 * ShutDownInProgress.
 */
class CaptureRunner
{
public:
    static constexpr int PollIntervalMs = 1000;
    /// The cycle at which a capture gives up: 59 polls, then the time-out.
    static constexpr int TimeoutCycle = 60;
    static constexpr int UploadTurnMs = 50;
    /// Captures nested inside each other's waits, at most.
    static constexpr int MaxNestedCaptures = 32;

    CaptureRunner(PollPause &pause, OperatorSink &log, PadForms &forms);

    /**
     * One poll cycle: the pause, then all pending events.
     * @throws ShutDownInProgress once shut-down has begun.
     */
    void pauseCycle();

    /**
     * Polls with @p pollOnce once per cycle, up to 59 times, until it reports a captured
     * value (true). On the 60th cycle logs @p timeoutLine, shows "padWelcome" and returns
     * false.
     */
    bool pollUntil(const QString &timeoutLine, const std::function<bool()> &pollOnce);

    /// One turn of an upload wait: until wakeUpload() or UploadTurnMs pass.
    void uploadTurn();
    /// The upload moved: its waiting turn ends now.
    void wakeUpload();

    /// Ends every wait now and makes each end its capture.
    void beginShutDown();

    /// Captures whose waits are running, the innermost included.
    int nestedCaptures() const { return m_nestedCaptures; }
    /// False when MaxNestedCaptures run already; otherwise counts one more until leave.
    bool enterCapture();
    void leaveCapture() { --m_nestedCaptures; }

private:
    void throwIfShuttingDown() const;

    PollPause &m_pause;
    OperatorSink &m_log;
    PadForms &m_forms;
    bool m_shuttingDown = false;
    int m_nestedCaptures = 0;
};

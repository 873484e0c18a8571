#include "service/capture_runner.h"

#include "hostlink/failure_path.h"
#include "hostlink/operator_sink.h"
#include "service/pad_forms.h"
#include "service/poll_pause.h"

CaptureRunner::CaptureRunner(PollPause &pause, OperatorSink &log, PadForms &forms)
    : m_pause(pause), m_log(log), m_forms(forms)
{
}

void CaptureRunner::throwIfShuttingDown() const
{
    if (m_shuttingDown)
        throw ShutDownInProgress();
}

void CaptureRunner::pauseCycle()
{
    throwIfShuttingDown();
    m_pause.pause(PollIntervalMs, false);
    throwIfShuttingDown();
}

bool CaptureRunner::pollUntil(const QString &timeoutLine, const std::function<bool()> &pollOnce)
{
    // The counter is tested before the pad is asked: 59 polls, then the time-out.
    for (int cycle = 1;; ++cycle) {
        pauseCycle();
        if (cycle >= TimeoutCycle) {
            m_log.output_debug(timeoutLine);
            m_forms.showPadForm(QStringLiteral("padWelcome"));
            return false;
        }
        if (pollOnce())
            return true;
    }
}

void CaptureRunner::uploadTurn()
{
    throwIfShuttingDown();
    m_pause.pause(UploadTurnMs, true);
    throwIfShuttingDown();
}

void CaptureRunner::wakeUpload()
{
    m_pause.wake();
}

void CaptureRunner::beginShutDown()
{
    m_shuttingDown = true;
    m_pause.wakeAll();
}

bool CaptureRunner::enterCapture()
{
    if (m_nestedCaptures >= MaxNestedCaptures)
        return false;
    ++m_nestedCaptures;
    return true;
}

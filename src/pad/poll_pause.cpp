#include "app/frm_main.h"

#include "pad/pad_driver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void frmMain::pollPause()
{
    // The pause keeps the event loop running, so the window never freezes while we wait.
    QEventLoop pause;
    QTimer::singleShot(m_pollIntervalMs, &pause, &QEventLoop::quit);
    pause.exec();
    QCoreApplication::processEvents();
    if (m_shuttingDown)
        throw PadError("shutting down");
}

bool frmMain::pollPadUntil(const QString &timeoutLine, const std::function<bool()> &pollOnce)
{
    // The counter is tested before the pad is asked: 59 polls, then the time-out.
    for (qint16 cycles = 1;; ++cycles) {
        pollPause();
        if (cycles >= 60) {
            output_debug(timeoutLine);
            showPadForm(QStringLiteral("padWelcome"));
            return false;
        }
        if (pollOnce())
            return true;
    }
}

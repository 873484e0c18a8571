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

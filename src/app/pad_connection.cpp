#include "app/frm_main.h"

#include "app/guarded_call.h"
#include "pad/pad_access.h"

#include <QAction>

// A whole-call failure of the pad driver is logged by runGuarded; Connect then reports it
// like a refused open and Disconnect goes on with its next step, so the menu always ends
// up in the state the command promises.

void frmMain::onConnect()
{
    qint16 status = 0;
    if (!runGuarded(*this, [&] { requirePad(padDevice()).openPort(0, 0, status); }))
        status = 0;
    if (status != 1) {
        showMessage(QStringLiteral("Error Opening Signature Pad Comm Port.  Error (") +
                    QString::number(status) + QStringLiteral(")"));
        runGuarded(*this, [&] { requirePad(padDevice()).closePort(); });
    }
    mnuConnect->setEnabled(false);
    mnuDisconnect->setEnabled(true);
    runGuarded(*this, [&] { showPadForm(QStringLiteral("padWelcome")); });
}

void frmMain::onDisconnect()
{
    bool open = false;
    runGuarded(*this, [&] { requirePad(padDevice()).isPortOpen(open); });
    if (open) {
        runGuarded(*this, [&] { showPadForm(QStringLiteral("padDisconnect")); });
        runGuarded(*this, [&] { requirePad(padDevice()).closePort(); });
        bool stillOpen = false;
        runGuarded(*this, [&] { requirePad(padDevice()).isPortOpen(stillOpen); });
        if (stillOpen)
            showMessage(QStringLiteral("Error Closing Signature Pad Comm Port."));
    }
    mnuConnect->setEnabled(true);
    mnuDisconnect->setEnabled(false);
}

void frmMain::onExit()
{
    shutDown();
}

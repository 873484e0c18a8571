#include "app/frm_main.h"

#include "pad/pad_access.h"

#include <exception>

void frmMain::getPinFromPad()
{
    // Any whole-call failure ends the entry here, silently: the host simply gets no reply.
    try {
        QString pin;
        // PIN is not emptied first: whatever the pad holds at the first poll is the entry.
        showPadForm(QStringLiteral("padPin"));
        const bool entered = pollPadUntil(QStringLiteral("PIN Pad Timeout"), [&] {
            qint16 status = 0;
            requirePad(padDevice()).getVar(QStringLiteral("PIN"), pin, status);
            return isPadValueCaptured(pin);
        });
        if (!entered)
            return;
        bool remove710 = false;
        pin = pinPadFormatString(pin, remove710);
        if (pin == QLatin1String("0"))
            pin.clear();
        QString tag = QStringLiteral("PINBLOCK");
        QString additionalXML;
        return_xml(pin, tag, additionalXML);
        if (debugMode) {
            output_debug(QStringLiteral("PIN=") + pin);
            output_debug(QStringLiteral("PIN LEN=") + QString::number(pin.size()));
        }
    } catch (const std::exception &) {
    }
}

QString frmMain::pinPadFormatString(QString &pin, bool &remove710)
{
    output_debug(QStringLiteral("pinPadFormatString before: pin=[") + pin + QLatin1Char(']'));
    if (remove710 && pin.startsWith(QLatin1String("710")))
        pin.remove(0, 3);
    output_debug(QStringLiteral("pinPadFormatString after: pin=[") + pin + QLatin1Char(']'));
    return pin;
}

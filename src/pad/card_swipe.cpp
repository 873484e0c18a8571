#include "app/frm_main.h"

#include "pad/pad_access.h"

#include <exception>

void frmMain::getCardSwipe()
{
    // Any whole-call failure ends the capture here, silently: the host simply gets no reply.
    try {
        QString track1;
        QString track2;
        scrivora_setVar_tracks();
        showPadForm(QStringLiteral("padStart"));
        const bool swiped = pollPadUntil(QStringLiteral("Card Swip Timeout"), [&] {
            qint16 status = 0;
            requirePad(padDevice()).getVar(QStringLiteral("TRACK1"), track1, status);
            if (status != 0)
                requirePad(padDevice()).getVar(QStringLiteral("TRACK2"), track2, status);
            return isPadValueCaptured(track1);
        });
        if (!swiped)
            return;
        QString data = track1 + track2;
        QString tag = QStringLiteral("SWIPE");
        QString additionalXML;
        return_xml(data, tag, additionalXML);
        if (debugMode) {
            output_debug(QStringLiteral("TRACK1=") + track1);
            output_debug(QStringLiteral("TRACK2=") + track2);
        }
    } catch (const std::exception &) {
    }
}

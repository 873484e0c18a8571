#include "app/frm_main.h"

void frmMain::getPinFromPad()
{
}

QString frmMain::pinPadFormatString(QString &pin, bool &)
{
    return {};
}


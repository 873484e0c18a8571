#include "app/frm_main.h"

bool frmMain::startListening()
{
    return false;
}

void frmMain::onConnectionRequest(qint16, qintptr)
{
}

void frmMain::onConnectionClosed(qint16)
{
}


#include "app/frm_main.h"

void frmMain::startListening()
{
}

void frmMain::onConnectionRequest(qint16, qintptr)
{
}

void frmMain::onConnectionClosed(qint16)
{
}


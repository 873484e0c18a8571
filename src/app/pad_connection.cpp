#include "app/frm_main.h"

void frmMain::onConnect()
{
}

void frmMain::onDisconnect()
{
}

void frmMain::onExit()
{
}


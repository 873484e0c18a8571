#include "app/frm_main.h"

void frmMain::onWindowLoad()
{
}

void frmMain::shutDown()
{
}

void frmMain::closeEvent(QCloseEvent *)
{
}


#include "app/frm_main.h"

void frmMain::onRequestData(qint16)
{
}


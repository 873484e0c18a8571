#include "app/frm_main.h"

void frmMain::onTrayActivated(int)
{
}

void frmMain::changeEvent(QEvent *)
{
}


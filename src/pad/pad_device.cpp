#include "app/frm_main.h"

void frmMain::createPadDevice()
{
}

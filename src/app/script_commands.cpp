#include "app/frm_main.h"

void frmMain::onScriptLoad()
{
}

void frmMain::onStringTrim()
{
}


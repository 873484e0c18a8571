#include "app/frm_main.h"

void frmMain::scrivora_signature_ftp(bool &)
{
}


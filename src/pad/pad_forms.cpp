#include "app/frm_main.h"

void frmMain::showPadForm(const QString &)
{
}

void frmMain::scrivora_setVar_total(const QString &)
{
}

void frmMain::scrivora_setVar_account(const QString &)
{
}

void frmMain::scrivora_setVar_fullname(const QString &)
{
}

void frmMain::scrivora_setVar_tracks()
{
}

void frmMain::scrivora_setVar_sigcomp()
{
}

void frmMain::scrivora_clear_padvars()
{
}

void frmMain::scrivora_new_transaction()
{
}


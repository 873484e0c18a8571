#include "app/frm_main.h"

void frmMain::scrivora_signature_save(QString &)
{
}

QString frmMain::signatureFilePath() const
{
    return {};
}


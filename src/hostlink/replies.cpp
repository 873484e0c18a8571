#include "app/frm_main.h"

QString frmMain::strRemoveNonPrintableChars(QString str)
{
    return {};
}

QString frmMain::format_xml(const QString &, QString &)
{
    return {};
}

void frmMain::return_xml(QString &, QString &, QString &)
{
}


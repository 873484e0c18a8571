#include "app/frm_main.h"

#include "app/operator_dialogs.h"

#include <QListWidget>

#include <cstdio>

namespace {

// The operator's view is mirrored on standard error so a headless run can be followed.
void echoToStandardError(const QString &line)
{
    const QByteArray bytes = line.toLatin1();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace

void frmMain::appendStatusLine(const QString &line)
{
    listStatus->addItem(line);
    echoToStandardError(line);
}

void frmMain::output_debug(const QString &msg)
{
    if (debugMode)
        appendStatusLine(msg);
}

void frmMain::showMessage(const QString &text)
{
    echoToStandardError(text);
    m_dialogs->messageBox(text);
}

void frmMain::readDebugSettings()
{
}

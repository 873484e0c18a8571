#include "app/frm_main.h"

#include "app/operator_dialogs.h"
#include "settings/ini_reader.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>

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

namespace {

QString booleanWord(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

void frmMain::readDebugSettings()
{
    const QString debugModeMessage = QStringLiteral("Error Reading Debug Mode from ini file");
    if (iniReadValue(iniFile, QStringLiteral("settings"), QStringLiteral("debugMode"),
                     QStringLiteral("S"), 0, debugMode) != 0)
        showMessage(debugModeMessage);
    if (iniReadValue(iniFile, QStringLiteral("settings"), QStringLiteral("debugModeOnly"),
                     QStringLiteral("S"), 0, debugModeOnly) != 0)
        showMessage(debugModeMessage);

    // The pad test commands are for debugging only: hide the whole menu otherwise.
    mnuPadForms->menuAction()->setVisible(debugMode);
    for (QAction *item : mnuPadForms->actions())
        item->setVisible(debugMode);

    appendStatusLine(QStringLiteral("form_debug: debugMode=[") + booleanWord(debugMode) +
                     QStringLiteral("] debugModeOnly=[") + booleanWord(debugModeOnly) +
                     QStringLiteral("]"));
}

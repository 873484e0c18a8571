#include "service/operator_log.h"

#include "service/operator_dialogs.h"
#include "settings/settings.h"

#include <unistd.h>

OperatorLog::OperatorLog(OperatorDialogs &dialogs, QObject *parent)
    : QObject(parent), m_dialogs(dialogs), m_standardError(STDERR_FILENO)
{
}

void OperatorLog::echoToStandardError(const QString &line)
{
    // Latin-1, as the host's 8-bit text came in; written whole so that lines never interleave.
    m_standardError.writeLine(line.toLatin1());
}

void OperatorLog::readDebugSettings(const Settings &settings)
{
    const QString unreadable = QStringLiteral("Error Reading Debug Mode from ini file");
    m_debugMode = settings.debugMode;
    if (settings.debugModeUnreadable)
        showMessage(unreadable);
    m_debugModeOnly = settings.debugModeOnly;
    if (settings.debugModeOnlyUnreadable)
        showMessage(unreadable);
    appendStatusLine(QStringLiteral("form_debug: debugMode=[") + trueFalseWord(m_debugMode) +
                     QStringLiteral("] debugModeOnly=[") + trueFalseWord(m_debugModeOnly) +
                     QStringLiteral("]"));
}

void OperatorLog::output_debug(const QString &msg)
{
    if (m_debugMode)
        appendStatusLine(msg);
}

void OperatorLog::appendStatusLine(const QString &line)
{
    echoToStandardError(line);
    emit lineAdded(line);
}

void OperatorLog::showMessage(const QString &text)
{
    echoToStandardError(text);
    m_dialogs.messageBox(text);
}

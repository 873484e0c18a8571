#include "service/operator_commands.h"

#include "hostlink/failure_path.h"
#include "hostlink/host_replier.h"
#include "pad/pad_access.h"
#include "service/captures.h"
#include "service/operator_dialogs.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"

#include <QChar>

OperatorCommands::OperatorCommands(PadDriver *pad, PadForms &forms, Captures &captures,
                                   HostReplier &replier, OperatorLog &log, OperatorDialogs &dialogs,
                                   QObject *parent)
    : QObject(parent), m_pad(pad), m_forms(forms), m_captures(captures), m_replier(replier),
      m_log(log), m_dialogs(dialogs)
{
}

bool OperatorCommands::runLogged(const std::function<void()> &step)
{
    const auto failure = runCatchAll(step);
    if (failure && failure->kind != FailureKind::ShutDown)
        m_log.appendStatusLine(failure->message);
    return !failure;
}

void OperatorCommands::setOffered(bool connectOffered, bool padOpen)
{
    m_connectOffered = connectOffered;
    m_padOpen = padOpen;
    emit padCommandsChanged(m_connectOffered, m_padOpen);
}

// Connect reports a whole-call failure of the open like a refused open, and both commands
// go on with their next step, so the menu always ends up in the state the command promises.
void OperatorCommands::onConnect()
{
    qint16 status = 0;
    if (!runLogged([&] { requirePad(m_pad).openPort(0, 0, status); }))
        status = 0;
    if (status != 1) {
        m_log.showMessage(QStringLiteral("Error Opening Signature Pad Comm Port.  Error (") +
                          QString::number(status) + QStringLiteral(")"));
        runLogged([&] { requirePad(m_pad).closePort(); });
    }
    setOffered(false, status == 1);
    runLogged([&] { m_forms.showPadForm(QStringLiteral("padWelcome")); });
}

void OperatorCommands::onDisconnect()
{
    bool open = false;
    bool stillOpen = false;
    runLogged([&] { requirePad(m_pad).isPortOpen(open); });
    if (open) {
        runLogged([&] { m_forms.showPadForm(QStringLiteral("padDisconnect")); });
        runLogged([&] { requirePad(m_pad).closePort(); });
        runLogged([&] { requirePad(m_pad).isPortOpen(stillOpen); });
        if (stillOpen)
            m_log.showMessage(QStringLiteral("Error Closing Signature Pad Comm Port."));
    }
    setOffered(true, stillOpen);
}

void OperatorCommands::onScriptLoad()
{
    const std::optional<QString> path =
        m_dialogs.openFile(QStringLiteral("Open File"), QStringLiteral("Script Bin Files(*.bin)"));
    if (!path)
        return;
    // A step that fails as a whole is skipped; a failed load leaves the status at 0.
    const QString scriptName = QStringLiteral("AUTORUN");
    qint16 status = 0;
    runCatchAll([&] { requirePad(m_pad).loadScript(1, scriptName, *path, 38400, status); });
    if (status == 1) {
        qint16 runStatus = 0;
        runCatchAll([&] { requirePad(m_pad).runScript(scriptName, QString(), runStatus); });
        return;
    }
    m_log.showMessage(QStringLiteral("Error Loading Script"));
    m_log.appendStatusLine(m_log.statusMsg());
}

void OperatorCommands::onStringTrim()
{
    const QString carriageReturn(QChar(13));
    QString string1 =
        QStringLiteral("test ") + carriageReturn + QStringLiteral("string1") + QChar(22);
    m_log.output_debug(QStringLiteral("string1 before: ") + string1);
    string1 = m_replier.strRemoveNonPrintableChars(string1);
    m_log.output_debug(QStringLiteral("string1 before: ") + string1);

    QString string2 = QStringLiteral("test ") + carriageReturn + QStringLiteral("string2");
    m_log.output_debug(QStringLiteral("string2 before: ") + string2);
    string2 = m_replier.strRemoveNonPrintableChars(string2);
    m_log.output_debug(QStringLiteral("string2 before: ") + string2);
}

void OperatorCommands::showFormByHand(const QString &formName)
{
    runLogged([&] { m_forms.showPadForm(formName); });
}

void OperatorCommands::cardSwipeByHand()
{
    m_captures.getCardSwipe();
}

void OperatorCommands::pinPadByHand()
{
    m_captures.getPinFromPad();
}

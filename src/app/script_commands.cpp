#include "app/frm_main.h"

#include "app/guarded_call.h"
#include "app/operator_dialogs.h"
#include "pad/pad_access.h"

#include <QChar>

#include <exception>
#include <optional>

namespace {

// The script load skips a step that fails as a whole and goes on, without a log line of
// its own: its failure report is the message box and the statusMsg line.
template <typename Call> void skipOnFailure(Call &&call)
{
    try {
        call();
    } catch (const std::exception &) {
    }
}

} // namespace

void frmMain::onScriptLoad()
{
    const std::optional<QString> path =
        dialogs()->openFile(QStringLiteral("Open File"), QStringLiteral("Script Bin Files(*.bin)"));
    if (!path)
        return;

    const QString scriptName = QStringLiteral("AUTORUN");
    // A load that fails as a whole leaves the status at 0: the script counts as not loaded.
    qint16 status = 0;
    skipOnFailure([&] { requirePad(padDevice()).loadScript(1, scriptName, *path, 38400, status); });
    if (status == 1) {
        qint16 runStatus = 0;
        skipOnFailure([&] { requirePad(padDevice()).runScript(scriptName, QString(), runStatus); });
        return;
    }
    showMessage(QStringLiteral("Error Loading Script"));
    appendStatusLine(statusMsg);
}

void frmMain::onStringTrim()
{
    const QString carriageReturn(QChar(13));
    QString string1 =
        QStringLiteral("test ") + carriageReturn + QStringLiteral("string1") + QChar(22);
    output_debug(QStringLiteral("string1 before: ") + string1);
    string1 = strRemoveNonPrintableChars(string1);
    output_debug(QStringLiteral("string1 before: ") + string1);

    QString string2 = QStringLiteral("test ") + carriageReturn + QStringLiteral("string2");
    output_debug(QStringLiteral("string2 before: ") + string2);
    string2 = strRemoveNonPrintableChars(string2);
    output_debug(QStringLiteral("string2 before: ") + string2);
}

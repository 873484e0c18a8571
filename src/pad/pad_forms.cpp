#include "app/frm_main.h"

#include "pad/pad_access.h"
#include "pad/pad_text.h"

namespace {

const QString Track1 = QStringLiteral("TRACK1");
const QString Track2 = QStringLiteral("TRACK2");
const QString Sigcomp = QStringLiteral("SIGCOMP");

qint16 writePadVar(PadDriver *driver, const QString &name, const QString &text)
{
    const QByteArray bytes = encodePadText(text);
    qint16 status = 0;
    requirePad(driver).setVar(name, bytes, qint16(bytes.size()), status);
    return status;
}

} // namespace

void frmMain::showPadForm(const QString &formName)
{
    qint16 status = 0;
    requirePad(padDevice()).showForm(formName, status);
    if (status != 1)
        showMessage(QStringLiteral("Error Displaying ") + formName);
}

void frmMain::scrivora_setVar_total(const QString &total)
{
    if (writePadVar(padDevice(), QStringLiteral("TOTAL"), total) != 1)
        statusMsg = QStringLiteral("Assign TOTAL FAILED");
}

void frmMain::scrivora_setVar_account(const QString &account)
{
    if (writePadVar(padDevice(), QStringLiteral("ACCOUNT"), account) != 1)
        statusMsg = QStringLiteral("Assign CustACCT FAILED");
}

void frmMain::scrivora_setVar_fullname(const QString &name)
{
    if (writePadVar(padDevice(), QStringLiteral("FULLNAME"), name) != 1) {
        statusMsg = QStringLiteral("Assign firstname FAILED");
        appendStatusLine(statusMsg);
    }
}

void frmMain::scrivora_setVar_tracks()
{
    if (writePadVar(padDevice(), Track1, QString()) != 1)
        statusMsg = Track1 + QStringLiteral(" flush Failed");
    if (writePadVar(padDevice(), Track2, QString()) != 1)
        statusMsg = Track2 + QStringLiteral(" flush Failed");
}

void frmMain::scrivora_setVar_sigcomp()
{
    if (writePadVar(padDevice(), Sigcomp, QString()) != 1)
        statusMsg = Sigcomp + QStringLiteral(" flush Failed");
}

void frmMain::scrivora_clear_padvars()
{
    transID.clear();
    transType.clear();
    custName.clear();
    custAcct.clear();
    transTotal.clear();
}

void frmMain::scrivora_new_transaction()
{
    statusMsg = QStringLiteral("New Transaction");
    scrivora_clear_padvars();
    // The pad keeps the last transaction's screen for a while before welcoming the next customer.
    for (int cycle = 0; cycle < 5; ++cycle)
        pollPause();
    showPadForm(QStringLiteral("padWelcome"));
}

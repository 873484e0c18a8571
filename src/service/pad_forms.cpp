#include "service/pad_forms.h"

#include "pad/pad_access.h"
#include "pad/pad_text.h"
#include "service/operator_log.h"
#include "service/transaction_record.h"

#include <limits>
#include <stdexcept>

PadForms::PadForms(PadDriver *pad, OperatorLog &log, TransactionRecord &record)
    : m_pad(pad), m_log(log), m_record(record)
{
}

void PadForms::showPadForm(const QString &formName)
{
    qint16 status = 0;
    requirePad(m_pad).showForm(formName, status);
    if (status != 1)
        m_log.showMessage(QStringLiteral("Error Displaying ") + formName);
}

bool PadForms::writeVar(const QString &name, const QString &text)
{
    const QByteArray bytes = encodePadText(text);
    // The driver takes a 16-bit byte count: a longer value cannot be handed over at all.
    if (bytes.size() > std::numeric_limits<qint16>::max())
        throw std::overflow_error("pad variable longer than 16382 characters");
    qint16 status = 0;
    requirePad(m_pad).setVar(name, bytes, qint16(bytes.size()), status);
    return status == 1;
}

void PadForms::writeVarOrNote(const QString &name, const QString &text, const QString &failure)
{
    if (!writeVar(name, text))
        m_log.setStatusMsg(failure);
}

void PadForms::scrivora_setVar_total(const QString &total)
{
    writeVarOrNote(QStringLiteral("TOTAL"), total, QStringLiteral("Assign TOTAL FAILED"));
}

void PadForms::scrivora_setVar_account(const QString &account)
{
    writeVarOrNote(QStringLiteral("ACCOUNT"), account, QStringLiteral("Assign CustACCT FAILED"));
}

void PadForms::scrivora_setVar_fullname(const QString &name)
{
    if (writeVar(QStringLiteral("FULLNAME"), name))
        return;
    m_log.setStatusMsg(QStringLiteral("Assign firstname FAILED"));
    m_log.appendStatusLine(m_log.statusMsg());
}

void PadForms::scrivora_setVar_tracks()
{
    for (const QString &name : {QStringLiteral("TRACK1"), QStringLiteral("TRACK2")})
        writeVarOrNote(name, QString(), name + QStringLiteral(" flush Failed"));
}

void PadForms::scrivora_setVar_sigcomp()
{
    const QString name = QStringLiteral("SIGCOMP");
    writeVarOrNote(name, QString(), name + QStringLiteral(" flush Failed"));
}

void PadForms::scrivora_clear_padvars()
{
    m_record.transID.clear();
    m_record.transType.clear();
    m_record.custName.clear();
    m_record.custAcct.clear();
    m_record.transTotal.clear();
    if (m_recordCleared)
        m_recordCleared();
}

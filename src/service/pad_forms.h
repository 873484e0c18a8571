#pragma once

#include <QString>

#include <functional>

class OperatorLog;
class PadDriver;
struct TransactionRecord;

/**
 * The pad's stored forms and display variables as the service uses them. A refused form
 * shows the operator "Error Displaying " and the name; a refused variable write leaves its
 * failure text in the status message. A pad driver call that fails as a whole throws
 * PadError to the caller; a value over 16,382 characters, too long for the driver's 16-bit
 * byte count, throws std::overflow_error before the pad is called.
 */
class PadForms
{
public:
    PadForms(PadDriver *pad, OperatorLog &log, TransactionRecord &record);

    void showPadForm(const QString &formName);
    void scrivora_setVar_total(const QString &total);
    void scrivora_setVar_account(const QString &account);
    /// A refused name is also appended to the status list, whatever the debug mode.
    void scrivora_setVar_fullname(const QString &name);
    /// Empties TRACK1 and TRACK2.
    void scrivora_setVar_tracks();
    /// Empties SIGCOMP.
    void scrivora_setVar_sigcomp();
    /// Empties the transaction record; the pad keeps its variables.
    void scrivora_clear_padvars();
    /// Who hears that the transaction record was emptied.
    void setRecordCleared(std::function<void()> cleared) { m_recordCleared = std::move(cleared); }

private:
    /// Writes @p text to the variable @p name; false when the pad refused it.
    bool writeVar(const QString &name, const QString &text);
    void writeVarOrNote(const QString &name, const QString &text, const QString &failure);

    PadDriver *m_pad;
    OperatorLog &m_log;
    TransactionRecord &m_record;
    std::function<void()> m_recordCleared;
};

#pragma once

#include <QObject>
#include <QString>

#include <functional>

class Captures;
class HostReplier;
class OperatorDialogs;
class OperatorLog;
class PadDriver;
class PadForms;

/**
 * The operator's commands, without their menus: connect and disconnect the pad, load a
 * script into it, and the pad test commands. A pad driver call that fails as a whole is
 * written to the status list, and the command goes on as after a refusal.
 */
class OperatorCommands : public QObject
{
    Q_OBJECT

public:
    OperatorCommands(PadDriver *pad, PadForms &forms, Captures &captures, HostReplier &replier,
                     OperatorLog &log, OperatorDialogs &dialogs, QObject *parent = nullptr);

    /// Opens the pad's port and shows "padWelcome"; the menu then offers Disconnect.
    void onConnect();
    /// Shows "padDisconnect" and closes the port when it is open; the menu offers Connect.
    void onDisconnect();
    /// Loads a script the operator picks into the pad as "AUTORUN" and runs it.
    void onScriptLoad();
    /// Writes four lines that show what the reply filter removes.
    void onStringTrim();
    /// The pad test commands of the Pad Forms menu.
    void showFormByHand(const QString &formName);
    void cardSwipeByHand();
    void pinPadByHand();

    /// Whether Connect (true) or Disconnect (false) is the command on offer.
    bool isConnectOffered() const { return m_connectOffered; }
    /// Whether the pad's port was open after the last Connect or Disconnect.
    bool isPadOpen() const { return m_padOpen; }

signals:
    /// Connect or Disconnect ran: @p connectOffered tells which command the menu offers now.
    void padCommandsChanged(bool connectOffered, bool padOpen);

private:
    /// Runs a step that may fail as a whole; its failure goes to the status list.
    bool runLogged(const std::function<void()> &step);
    void setOffered(bool connectOffered, bool padOpen);

    PadDriver *m_pad;
    PadForms &m_forms;
    Captures &m_captures;
    HostReplier &m_replier;
    OperatorLog &m_log;
    OperatorDialogs &m_dialogs;
    bool m_connectOffered = true;
    bool m_padOpen = false;
};

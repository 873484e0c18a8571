#include "ui/frm_main.h"

#include "service/operator_commands.h"
#include "service/operator_log.h"
#include "service/scrivora_service.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

QAction *frmMain::addCommand(QMenu *menu, const char *name, const QString &caption)
{
    QAction *item = menu->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

void frmMain::buildMenus()
{
    OperatorCommands &commands = m_service.commands();
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    m_connect = addCommand(file, "mnuConnect", QStringLiteral("&Connect"));
    m_disconnect = addCommand(file, "mnuDisconnect", QStringLiteral("&Disconnect"));
    QAction *separator = file->addSeparator();
    separator->setObjectName(QStringLiteral("mnuFileSeperator1"));
    QAction *exit = addCommand(file, "mnuExit", QStringLiteral("&Exit"));
    followOutbox(file, separator);
    m_connect->setEnabled(commands.isConnectOffered());
    m_disconnect->setEnabled(!commands.isConnectOffered());
    connect(m_connect, &QAction::triggered, &commands, &OperatorCommands::onConnect);
    connect(m_disconnect, &QAction::triggered, &commands, &OperatorCommands::onDisconnect);
    connect(exit, &QAction::triggered, this, &frmMain::shutDownRequested);
    connect(&commands, &OperatorCommands::padCommandsChanged, this, [this](bool connectOffered) {
        m_connect->setEnabled(connectOffered);
        m_disconnect->setEnabled(!connectOffered);
    });

    QMenu *script = menuBar()->addMenu(QStringLiteral("Script"));
    script->setObjectName(QStringLiteral("mnuScript"));
    QAction *load = addCommand(script, "mnuScriptLoad", QStringLiteral("Load"));
    connect(load, &QAction::triggered, &commands, &OperatorCommands::onScriptLoad);

    buildPadFormsMenu();
    buildHelpMenus();
}

void frmMain::buildPadFormsMenu()
{
    OperatorCommands &commands = m_service.commands();
    m_padForms = menuBar()->addMenu(QStringLiteral("Pad Forms"));
    m_padForms->setObjectName(QStringLiteral("mnuPadForms"));
    const auto addForm = [&](const char *name, const QString &caption, const QString &form) {
        connect(addCommand(m_padForms, name, caption), &QAction::triggered, &commands,
                [&commands, form] { commands.showFormByHand(form); });
    };
    addForm("mnuPadFormsWelcome", QStringLiteral("Welcome"), QStringLiteral("padWelcome"));
    addForm("mnuPadFormsSignature", QStringLiteral("Signature"), QStringLiteral("padSig"));
    connect(addCommand(m_padForms, "mnuPadFormsCardSwipe", QStringLiteral("Card Swipe")),
            &QAction::triggered, &commands, &OperatorCommands::cardSwipeByHand);
    addForm("mnuPadFormsWait", QStringLiteral("Wait"), QStringLiteral("padWait"));
    addForm("mnuPadFormsThanks", QStringLiteral("Thanks"), QStringLiteral("padThanks"));
    addForm("mnuPadFormsDisconnect", QStringLiteral("Disconnect"), QStringLiteral("padDisconnect"));
    connect(addCommand(m_padForms, "mnuPadFormsPinPad", QStringLiteral("Pin Pad")),
            &QAction::triggered, &commands, &OperatorCommands::pinPadByHand);
    addForm("mnuPadFormsAccount", QStringLiteral("Account"), QStringLiteral("padEmptyAccount"));
    connect(addCommand(m_padForms, "mnuStringTrim", QStringLiteral("Test String Trim")),
            &QAction::triggered, &commands, &OperatorCommands::onStringTrim);

    // The pad test commands are for debugging only: hide the whole menu otherwise.
    const bool debugMode = m_service.log().isDebugMode();
    m_padForms->menuAction()->setVisible(debugMode);
    for (QAction *item : m_padForms->actions())
        item->setVisible(debugMode);
}

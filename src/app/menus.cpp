#include "app/frm_main.h"

#include "app/guarded_call.h"

#include <QAction>
#include <QMenuBar>

void frmMain::buildMenus()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuConnect = mnuFile->addAction(QStringLiteral("&Connect"));
    mnuDisconnect = mnuFile->addAction(QStringLiteral("&Disconnect"));
    mnuFileSeperator1 = mnuFile->addSeparator();
    mnuExit = mnuFile->addAction(QStringLiteral("&Exit"));
    // Until start-up has connected the pad there is nothing to disconnect.
    mnuDisconnect->setEnabled(false);
    connect(mnuConnect, &QAction::triggered, this, &frmMain::onConnect);
    connect(mnuDisconnect, &QAction::triggered, this, &frmMain::onDisconnect);
    connect(mnuExit, &QAction::triggered, this, &frmMain::onExit);

    mnuScript = menuBar()->addMenu(QStringLiteral("Script"));
    mnuScriptLoad = mnuScript->addAction(QStringLiteral("Load"));
    connect(mnuScriptLoad, &QAction::triggered, this, &frmMain::onScriptLoad);

    mnuPadForms = menuBar()->addMenu(QStringLiteral("Pad Forms"));
    const auto addFormItem = [this](const QString &caption, const QString &formName) {
        QAction *item = mnuPadForms->addAction(caption);
        connect(item, &QAction::triggered, this,
                [this, formName] { runGuarded(*this, [&] { showPadForm(formName); }); });
        return item;
    };
    const auto addCaptureItem = [this](const QString &caption, void (frmMain::*capture)()) {
        QAction *item = mnuPadForms->addAction(caption);
        connect(item, &QAction::triggered, this,
                [this, capture] { runGuarded(*this, [&] { (this->*capture)(); }); });
        return item;
    };
    mnuPadFormsWelcome = addFormItem(QStringLiteral("Welcome"), QStringLiteral("padWelcome"));
    mnuPadFormsSignature = addFormItem(QStringLiteral("Signature"), QStringLiteral("padSig"));
    mnuPadFormsCardSwipe = addCaptureItem(QStringLiteral("Card Swipe"), &frmMain::getCardSwipe);
    mnuPadFormsWait = addFormItem(QStringLiteral("Wait"), QStringLiteral("padWait"));
    mnuPadFormsThanks = addFormItem(QStringLiteral("Thanks"), QStringLiteral("padThanks"));
    mnuPadFormsDisconnect =
        addFormItem(QStringLiteral("Disconnect"), QStringLiteral("padDisconnect"));
    mnuPadFormsPinPad = addCaptureItem(QStringLiteral("Pin Pad"), &frmMain::getPinFromPad);
    mnuPadFormsAccount = addFormItem(QStringLiteral("Account"), QStringLiteral("padEmptyAccount"));
    mnuStringTrim = mnuPadForms->addAction(QStringLiteral("Test String Trim"));
    connect(mnuStringTrim, &QAction::triggered, this, &frmMain::onStringTrim);
}

#include "ui/frm_main.h"

#include "ui/screen_presence.h"

#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

void frmMain::showInTray()
{
    m_trayIcon = new QSystemTrayIcon(windowIcon(), this);
    m_trayIcon->setToolTip(QStringLiteral("Vantrel Scrivora"));
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(reason); });
    // Without a screen there is no notification area to wait for.
    if (platformHasScreen())
        m_trayIcon->show();
    // With no notification area there would be no way back to a hidden window.
    if (canHideToTray())
        hide();
    else
        show();
}

void frmMain::buildTrayMenu()
{
    // Desktops that open a menu on any click still need a way back to the window.
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    connect(addCommand(m_trayMenu, "trayShowScrivora", QStringLiteral("&Show Scrivora")),
            &QAction::triggered, this, [this] { onTrayActivated(QSystemTrayIcon::Trigger); });
    m_trayShowPad = addCommand(m_trayMenu, "trayShowPad", QStringLiteral("Show &pad"));
    m_trayShowPad->setVisible(false);
    connect(m_trayShowPad, &QAction::triggered, this, &frmMain::showPadWindow);
    connect(addCommand(m_trayMenu, "trayAbout", QStringLiteral("&About Scrivora")),
            &QAction::triggered, this, &frmMain::showAbout);
    m_trayMenu->addSeparator();
    connect(addCommand(m_trayMenu, "trayQuit", QStringLiteral("&Quit")), &QAction::triggered, this,
            &frmMain::shutDownRequested);
}

bool frmMain::canHideToTray() const
{
    return m_trayIcon && QSystemTrayIcon::isSystemTrayAvailable();
}

void frmMain::removeTrayIcon()
{
    if (!m_trayIcon)
        return;
    m_trayIcon->hide();
    m_trayIcon->deleteLater();
    m_trayIcon = nullptr;
}

void frmMain::onTrayActivated(int reason)
{
    // A double click is a click as well; the right button only opens the context menu.
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    setWindowState(Qt::WindowNoState);
    show();
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimised to the tray only when there is one to come back from. Hiding from inside
    // the state change confuses some window managers; hide right after.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && canHideToTray())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

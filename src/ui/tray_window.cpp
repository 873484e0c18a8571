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
    // Desktops that open a menu on any click still need a way back to the window.
    auto *menu = new QMenu(this);
    QAction *showItem = menu->addAction(QStringLiteral("&Show Scrivora"));
    connect(showItem, &QAction::triggered, this,
            [this] { onTrayActivated(QSystemTrayIcon::Trigger); });
    m_trayIcon->setContextMenu(menu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(reason); });
    // Without a screen there is no notification area to wait for.
    if (platformHasScreen())
        m_trayIcon->show();
    // With no notification area there would be no way back to a hidden window.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        show();
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
    // Hiding from inside the state change confuses some window managers; hide right after.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

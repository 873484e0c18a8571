#include "app/frm_main.h"

#include "app/screen_presence.h"

#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

void frmMain::addTrayIcon()
{
    trayIcon = new QSystemTrayIcon(windowIcon(), this);
    trayIcon->setToolTip(QStringLiteral("Vantrel Scrivora"));
    // Desktops that open a menu on any click still need a way back to the window.
    auto *menu = new QMenu(this);
    QAction *showItem = menu->addAction(QStringLiteral("&Show Scrivora"));
    connect(showItem, &QAction::triggered, this,
            [this] { onTrayActivated(QSystemTrayIcon::Trigger); });
    trayIcon->setContextMenu(menu);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onTrayActivated(reason); });
    // Without a screen there is no notification area to wait for.
    if (platformHasScreen())
        trayIcon->show();
}

void frmMain::removeTrayIcon()
{
    if (!trayIcon)
        return;
    trayIcon->hide();
    trayIcon->deleteLater();
    trayIcon = nullptr;
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

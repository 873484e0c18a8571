#include "ui/frm_main.h"

#include "hostlink/host_server.h"
#include "service/scrivora_service.h"

#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QtGlobal>

void frmMain::buildHelpMenus()
{
    QMenu *view = menuBar()->addMenu(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("mnuView"));
    m_showPad = addCommand(view, "mnuShowPad", QStringLiteral("Show &pad"));
    m_showPad->setVisible(false);
    connect(m_showPad, &QAction::triggered, this, &frmMain::showPadWindow);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addCommand(help, "mnuAbout", QStringLiteral("&About Scrivora")), &QAction::triggered,
            this, &frmMain::showAbout);
}

QString frmMain::aboutText() const
{
    const Settings &settings = m_service.settings();
    HostServer &server = m_service.hostServer();
    const QString version = QCoreApplication::applicationVersion();
    return QStringList{
        QStringLiteral("Scrivora %1")
            .arg(version.isEmpty() ? QStringLiteral("(development build)") : version),
        QStringLiteral("Signature pad service for point-of-sale hosts"),
        QString(),
        QStringLiteral("Settings: %1").arg(settings.iniFile),
        QStringLiteral("Pad: %1").arg(padDescription(settings)),
        QStringLiteral("Listening on %1")
            .arg(hostAndPortText(server.serverAddress(), server.serverPort())),
        QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion())),
        QStringLiteral("Licence: Proprietary"),
    }
        .join(QLatin1Char('\n'));
}

void frmMain::showAbout()
{
    // Not modal: a modal box would run its own event loop, and a capture started by a host
    // meanwhile could not end before the operator closed the box.
    if (!m_about) {
        m_about = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About Scrivora"),
                                  aboutText(), QMessageBox::Ok, this);
        m_about->setObjectName(QStringLiteral("aboutBox"));
        m_about->setIconPixmap(windowIcon().pixmap(64, 64));
        m_about->setWindowModality(Qt::NonModal);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

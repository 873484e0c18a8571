#include "app/frm_main.h"

#include "hostlink/host_listener.h"
#include "settings/ini_reader.h"

#include <QCloseEvent>
#include <QIcon>
#include <QList>
#include <QSystemTrayIcon>
#include <QTcpSocket>

void frmMain::onWindowLoad()
{
    iniFile = appDir() + QStringLiteral("/vantrel.ini");
    readDebugSettings();
    sigFileExt = QStringLiteral(".PCX");
    createPadDevice();
    onConnect();

    if (iniReadValue(iniFile, QStringLiteral("Local"), QStringLiteral("LocalPort"),
                     QStringLiteral("S"), QStringLiteral("LocalPort"), localPort) != 0)
        showMessage(QStringLiteral("Error Reading Socket Local Port from ini file"));

    // Without a listener the host cannot reach us: the operator has been told why, so end.
    if (!startListening()) {
        m_exitStatus = 1;
        shutDown();
        return;
    }
    statusMsg = QStringLiteral("Listening to Port: ") + QString::number(listenSocket->serverPort());

    addTrayIcon();
    // With no notification area there would be no way back to a hidden window.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        show();
}

void frmMain::shutDown()
{
    // Waiting captures notice this at their next poll and end.
    m_shuttingDown = true;
    onDisconnect();
    removeTrayIcon();
    if (!m_windowClosing) {
        m_windowClosing = true;
        close();
    }
    closeEveryConnection();
    if (!m_finishedEmitted) {
        m_finishedEmitted = true;
        emit finished(m_exitStatus);
    }
}

void frmMain::closeEveryConnection()
{
    if (listenSocket)
        listenSocket->close();
    // Closing a connection may remove its slot from the map: close from a copy.
    QList<QPointer<QTcpSocket>> connections;
    for (const auto &[slot, connection] : socket)
        connections.append(connection);
    for (const QPointer<QTcpSocket> &connection : connections) {
        if (connection)
            connection->abort();
    }
}

void frmMain::closeEvent(QCloseEvent *event)
{
    m_windowClosing = true;
    shutDown();
    event->accept();
}

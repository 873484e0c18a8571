#include "app/frm_main.h"

#include "app/operator_dialogs.h"
#include "delivery/ftp_client.h"
#include "pad/pad_driver.h"

#include <QCoreApplication>
#include <QListWidget>

frmMain::frmMain(frmMainSeams seams, QWidget *parent)
    : QMainWindow(parent),
      m_dialogs(seams.dialogs),
      m_padDevice(std::move(seams.padDevice)),
      m_appDir(seams.appDir.isEmpty() ? QCoreApplication::applicationDirPath() : seams.appDir),
      m_pollIntervalMs(seams.pollIntervalMs),
      m_ftpPort(seams.ftpPort)
{
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<WidgetDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    setWindowTitle(QStringLiteral("Scrivora"));
    listStatus = new QListWidget(this);
    setCentralWidget(listStatus);
    resize(640, 400);
    inet = new FtpClient(this);
    buildMenus();
}

frmMain::~frmMain() = default;

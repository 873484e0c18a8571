#include "app/frm_main.h"

#include "app/operator_dialogs.h"
#include "delivery/ftp_client.h"
#include "pad/pad_driver.h"

#include <QCoreApplication>
#include <QIcon>
#include <QListWidget>

frmMain::frmMain(frmMainSeams seams, QWidget *parent)
    : QMainWindow(parent), m_dialogs(seams.dialogs), m_padDevice(std::move(seams.padDevice)),
      m_appDir(seams.appDir.isEmpty() ? QCoreApplication::applicationDirPath() : seams.appDir),
      m_pollIntervalMs(seams.pollIntervalMs), m_ftpPort(seams.ftpPort)
{
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<WidgetDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    // The resources sit in a static library: nothing else would pull them into the program.
    Q_INIT_RESOURCE(resources);
    setWindowTitle(QStringLiteral("Scrivora"));
    setWindowIcon(QIcon(QStringLiteral(":/scrivora.png")));
    listStatus = new QListWidget(this);
    setCentralWidget(listStatus);
    resize(640, 400);
    inet = new FtpClient(this);
    buildMenus();
}

frmMain::~frmMain() = default;

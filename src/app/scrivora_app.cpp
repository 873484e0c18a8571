#include "app/scrivora_app.h"

#include "hostlink/host_server.h"
#include "pad/pad_driver_factory.h"
#include "pad/virtual_pad_driver.h"
#include "service/operator_log.h"
#include "service/scrivora_service.h"
#include "settings/settings.h"
#include "ui/frm_main.h"
#include "ui/virtual_pad_window.h"
#include "ui/widget_dialogs.h"

#include <QCoreApplication>

ScrivoraApp::ScrivoraApp(AppSeams seams, QObject *parent)
    : QObject(parent), m_seams(std::move(seams)), m_dialogs(m_seams.dialogs),
      m_appDir(m_seams.appDir.isEmpty() ? QCoreApplication::applicationDirPath() : m_seams.appDir)
{
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<WidgetDialogs>();
        m_dialogs = m_ownDialogs.get();
    }
}

ScrivoraApp::~ScrivoraApp()
{
    delete m_padWindow;
    delete m_window;
}

bool ScrivoraApp::start()
{
    m_iniFile = m_appDir + QLatin1Char('/') + QLatin1String(SettingsFileName);
    const Settings settings = readSettings(m_iniFile);
    m_padDevice = m_seams.padDevice ? std::move(m_seams.padDevice)
                                    : createPadDriver(settings.padDriver, settings.padDevice);

    ServiceSeams seams;
    seams.dialogs = m_dialogs;
    seams.pad = m_padDevice.get();
    seams.appDir = m_appDir;
    seams.pause = m_seams.pause;
    seams.ftpPort = m_seams.ftpPort;
    m_service = std::make_unique<ScrivoraService>(settings, seams);
    connect(&m_service->log(), &OperatorLog::lineAdded, &m_statusLines,
            &StatusListModel::appendLine);
    if (!m_service->start()) {
        m_exitStatus = 1;
        shutDown();
        return false;
    }

    // Built after listening: the first host need not wait for fonts and widgets.
    m_window = new frmMain(*m_service, m_statusLines);
    if (m_ownDialogs)
        m_ownDialogs->setParent(m_window);
    connect(m_window, &frmMain::shutDownRequested, this, &ScrivoraApp::shutDown);
    createPadWindow();
    m_window->showInTray();
    return true;
}

QString ScrivoraApp::readyLine() const
{
    const HostServer &server = m_service->hostServer();
    return QStringLiteral("Scrivora %1 listening on %2, pad %3, settings %4")
        .arg(QCoreApplication::applicationVersion(),
             hostAndPortText(server.serverAddress(), server.serverPort()),
             padDescription(m_service->settings()), m_iniFile);
}

void ScrivoraApp::createPadWindow()
{
    // With the built-in pad a person at this machine plays the customer in its window.
    auto *virtualPad = dynamic_cast<VirtualPadDriver *>(m_padDevice.get());
    if (!virtualPad)
        return;
    m_padWindow = new VirtualPadWindow(virtualPad->model());
    m_padWindow->show();
    m_window->setPadWindow(m_padWindow);
}

void ScrivoraApp::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_service->beginShutDown();
    if (m_window) {
        m_window->removeTrayIcon();
        m_window->close();
    }
    if (m_padWindow)
        m_padWindow->close();
    m_service->closeHostLink();
    emit finished(m_exitStatus);
}

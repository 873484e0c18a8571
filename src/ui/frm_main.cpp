#include "ui/frm_main.h"

#include "service/scrivora_service.h"
#include "ui/last_signature_view.h"
#include "ui/operator_status_bar.h"
#include "ui/status_list_model.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QIcon>
#include <QListView>

frmMain::frmMain(ScrivoraService &service, StatusListModel &statusLines, QWidget *parent)
    : QMainWindow(parent), m_service(service), m_statusModel(statusLines)
{
    // The resources sit in a static library: nothing else would pull them into the program.
    Q_INIT_RESOURCE(resources);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Scrivora"));
    setWindowIcon(QIcon(QStringLiteral(":/scrivora.png")));

    auto *central = new QWidget(this);
    m_listStatus = new QListView(central);
    m_listStatus->setObjectName(QStringLiteral("listStatus"));
    m_listStatus->setModel(&m_statusModel);
    // Rows of one height let the view skip measuring ten thousand lines.
    m_listStatus->setUniformItemSizes(true);
    m_listStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lastSignature = new LastSignatureView(central);
    auto *layout = new QHBoxLayout(central);
    layout->addWidget(m_listStatus, 1);
    layout->addWidget(m_lastSignature);
    setCentralWidget(central);
    connect(&m_service, &ScrivoraService::signatureSaved, m_lastSignature,
            [this](const QString &path, const QString &jobId) {
                m_lastSignature->showSignature(path, jobId, QDateTime::currentDateTime());
            });

    m_statusBar = new OperatorStatusBar(m_service, this);
    setStatusBar(m_statusBar);
    resize(980, 440);
    buildMenus();
    buildTrayMenu();
}

frmMain::~frmMain() = default;

QStringList frmMain::statusLines() const
{
    return m_statusModel.lines();
}

void frmMain::setPadWindow(QWidget *padWindow)
{
    m_padWindow = padWindow;
    m_showPad->setVisible(padWindow != nullptr);
    m_trayShowPad->setVisible(padWindow != nullptr);
}

void frmMain::setOutboxCount(int count)
{
    m_statusBar->setOutboxCount(count);
}

void frmMain::showPadWindow()
{
    if (!m_padWindow)
        return;
    m_padWindow->setWindowState(m_padWindow->windowState() & ~Qt::WindowMinimized);
    m_padWindow->show();
    m_padWindow->raise();
    m_padWindow->activateWindow();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (!m_closing) {
        m_closing = true;
        emit shutDownRequested();
    }
}

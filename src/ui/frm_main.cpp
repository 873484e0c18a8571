#include "ui/frm_main.h"

#include "service/scrivora_service.h"
#include "ui/status_list_model.h"

#include <QCloseEvent>
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

    m_listStatus = new QListView(this);
    m_listStatus->setObjectName(QStringLiteral("listStatus"));
    m_listStatus->setModel(&m_statusModel);
    // Rows of one height let the view skip measuring ten thousand lines.
    m_listStatus->setUniformItemSizes(true);
    m_listStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setCentralWidget(m_listStatus);
    resize(640, 400);
    buildMenus();
}

frmMain::~frmMain() = default;

QStringList frmMain::statusLines() const
{
    return m_statusModel.lines();
}

void frmMain::setPadWindow(QWidget *padWindow)
{
    m_padWindow = padWindow;
}

void frmMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (!m_closing) {
        m_closing = true;
        emit shutDownRequested();
    }
}

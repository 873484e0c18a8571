#include "ui/operator_status_bar.h"

#include "hostlink/host_server.h"
#include "service/operator_commands.h"
#include "service/scrivora_service.h"

#include <QHostAddress>
#include <QLabel>

namespace {

/// How long a burst of host traffic may go unseen in the status bar.
constexpr int LiveRefreshMs = 100;

/// A request arrives every few seconds at a busy till; unchanged text costs no repaint.
void setTextIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

OperatorStatusBar::OperatorStatusBar(ScrivoraService &service, QWidget *parent)
    : QStatusBar(parent), m_service(service)
{
    setObjectName(QStringLiteral("statusBar"));
    setSizeGripEnabled(false);
    m_listening = addField("statusListening", tr("Where the host application connects"));
    m_hosts = addField("statusHosts", tr("Open host connections"));
    m_pad = addField("statusPad", tr("The pad driver and whether its port is open"));
    // The job field takes the width the others leave.
    m_job = addField("statusJob", tr("The open job: id, type and total"), 1);
    m_outbox = addField("statusOutbox", tr("Signatures waiting for their upload"));
    m_outbox->hide();

    HostServer &server = service.hostServer();
    m_listening->setText(server.isListening() ? tr("Listening on %1")
                                                    .arg(hostAndPortText(server.serverAddress(),
                                                                         server.serverPort()))
                                              : tr("Not listening"));
    showConnections(server.socketCT());
    showPad(service.commands().isPadOpen());
    showJob();
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(LiveRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &OperatorStatusBar::refreshLive);
    connect(&server, &HostServer::connectionCountChanged, this, &OperatorStatusBar::refreshSoon);
    connect(&service.commands(), &OperatorCommands::padCommandsChanged, this,
            [this](bool, bool padOpen) { showPad(padOpen); });
    connect(&service, &ScrivoraService::transactionChanged, this, &OperatorStatusBar::refreshSoon);
}

void OperatorStatusBar::refreshSoon()
{
    if (!m_refresh.isActive())
        m_refresh.start();
}

void OperatorStatusBar::refreshLive()
{
    showConnections(m_service.hostServer().socketCT());
    showJob();
}

void OperatorStatusBar::setOutboxCount(int count)
{
    if (count >= 0)
        setTextIfChanged(m_outbox, tr("Outbox: %1 waiting").arg(count));
    m_outbox->setVisible(count >= 0);
}

QLabel *OperatorStatusBar::addField(const char *name, const QString &toolTip, int stretch)
{
    auto *label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    label->setToolTip(toolTip);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setContentsMargins(4, 0, 4, 0);
    addWidget(label, stretch);
    return label;
}

void OperatorStatusBar::showConnections(int count)
{
    setTextIfChanged(m_hosts, tr("Hosts: %1").arg(count));
}

void OperatorStatusBar::showPad(bool open)
{
    setTextIfChanged(
        m_pad, tr("Pad: %1, %2")
                   .arg(padDescription(m_service.settings()), open ? tr("open") : tr("closed")));
}

void OperatorStatusBar::showJob()
{
    const TransactionRecord &record = m_service.record();
    if (!record.isOpen()) {
        setTextIfChanged(m_job, tr("No open job"));
        return;
    }
    QStringList details;
    for (const QString &detail : {record.transType, record.transTotal}) {
        if (!detail.isEmpty())
            details << detail;
    }
    QString text = tr("Job %1").arg(record.transID);
    if (!details.isEmpty())
        text += QLatin1String(": ") + details.join(QLatin1Char(' '));
    setTextIfChanged(m_job, text);
}

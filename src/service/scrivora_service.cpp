#include "service/scrivora_service.h"

#include "delivery/ftp_client.h"
#include "delivery/outbox.h"
#include "delivery/outbox_retrier.h"
#include "delivery/outbox_uploader.h"
#include "delivery/signature_delivery.h"
#include "hostlink/host_replier.h"
#include "hostlink/host_server.h"
#include "hostlink/slot_rules.h"
#include "service/capture_runner.h"
#include "service/captures.h"
#include "service/operator_commands.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service/poll_pause.h"
#include "service/request_dispatcher.h"

ScrivoraService::ScrivoraService(Settings settings, ServiceSeams seams, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_appDir(seams.appDir)
{
    PollPause *pause = seams.pause;
    if (!pause) {
        m_ownPause = std::make_unique<EventLoopPause>();
        pause = m_ownPause.get();
    }
    m_log = std::make_unique<OperatorLog>(*seams.dialogs);
    m_hostServer = std::make_unique<HostServer>(*m_log);
    m_replier = std::make_unique<HostReplier>(*m_hostServer, *m_log);
    m_forms = std::make_unique<PadForms>(seams.pad, *m_log, m_record);
    m_runner = std::make_unique<CaptureRunner>(*pause, *m_log, *m_forms);
    m_inet = std::make_unique<FtpClient>();
    connect(m_inet.get(), &FtpClient::progressed, this, [this] { m_runner->wakeUpload(); });

    DeliveryContext delivery;
    delivery.pad = seams.pad;
    delivery.replier = m_replier.get();
    delivery.log = m_log.get();
    delivery.inet = m_inet.get();
    delivery.appDir = m_appDir;
    delivery.iniFile = m_settings.iniFile;
    delivery.ftpPort = seams.ftpPort;
    delivery.waitTurn = [this] { m_runner->uploadTurn(); };
    delivery.saved = [this](const QString &path, const QString &jobId) {
        emit signatureSaved(path, jobId);
    };
    m_delivery = std::make_unique<SignatureDelivery>(std::move(delivery));

    CaptureContext captures;
    captures.pad = seams.pad;
    captures.log = m_log.get();
    captures.forms = m_forms.get();
    captures.runner = m_runner.get();
    captures.replier = m_replier.get();
    captures.delivery = m_delivery.get();
    captures.record = &m_record;
    captures.captureStarts = [this] { emit transactionChanged(); };
    m_captures = std::make_unique<Captures>(captures);

    m_dispatcher = std::make_unique<RequestDispatcher>(m_record, *m_forms, *m_captures, *m_replier,
                                                       *m_log, *m_hostServer);
    m_dispatcher->setRecordChanged([this] { emit transactionChanged(); });
    m_hostServer->setRequestHandler([this](const QString &request, const HostConnection &from) {
        m_dispatcher->onRequestData(request, from);
    });
    m_forms->setRecordCleared([this] { emit transactionChanged(); });
    m_commands = std::make_unique<OperatorCommands>(seams.pad, *m_forms, *m_captures, *m_replier,
                                                    *m_log, *seams.dialogs);

    m_outbox = std::make_unique<Outbox>(m_appDir, [] { return QDateTime::currentDateTimeUtc(); });
    const QString iniFile = m_settings.iniFile;
    m_uploader = std::make_unique<FtpOutboxUploader>(
        [iniFile] {
            // Read afresh for every attempt: fixing a password in the file is enough.
            const RemoteSettings remote = readRemoteSettings(iniFile);
            return FtpRemote{remote.ftpURL, remote.ftpUser, remote.ftpPass};
        },
        seams.ftpPort);
    m_retrier = std::make_unique<OutboxRetrier>(*m_outbox, *m_uploader);
    // A retry waits while a capture does, so it never comes between a host and its answer.
    m_retrier->setHoldWhile([this] { return m_runner->nestedCaptures() > 0; });
    // Losing a signature is no debug detail: these lines show whatever the debug mode.
    connect(m_outbox.get(), &Outbox::operatorLine, m_log.get(), &OperatorLog::appendStatusLine);
    m_captures->setUploadReport([this](const UploadReport &report) { uploadReported(report); });
}

void ScrivoraService::uploadReported(const UploadReport &report)
{
    if (report.landed) {
        m_outbox->landed(report.transID, report.localFile);
        m_retrier->serverIsBack();
    } else {
        m_outbox->add(report.transID, report.localFile, report.remoteName, report.error);
        if (m_lastUploadLanded)
            emit uploadsStartedFailing(report.transID, report.error);
    }
    m_lastUploadLanded = report.landed;
}

ScrivoraService::~ScrivoraService()
{
    // Nothing may reach the parts below once they start to go.
    m_hostServer->setRequestHandler({});
}

bool ScrivoraService::start()
{
    m_log->readDebugSettings(m_settings);
    m_delivery->setSigFileExt(QStringLiteral(".PCX"));
    const std::optional<quint16> port = parseListenPort(m_settings.localPort);
    const QHostAddress address = m_settings.listenAddress.isEmpty()
                                     ? QHostAddress(QHostAddress::LocalHost)
                                     : QHostAddress(m_settings.listenAddress);
    // A port that another program holds ends start-up before any pad is opened: most likely
    // Scrivora runs already, and its pad must not be taken from it. Hosts are refused until
    // the pad is connected.
    if (port && !address.isNull() && !m_hostServer->reserve(address, *port)) {
        refuseToListen(m_hostServer->errorString());
        return false;
    }
    m_commands->onConnect();
    if (m_settings.localPortUnreadable)
        m_log->showMessage(QStringLiteral("Error Reading Socket Local Port from ini file"));
    if (!port) {
        refuseToListen(QStringLiteral("it is no port number (0 to 65535)"));
        return false;
    }
    if (address.isNull()) {
        refuseToListen(
            QStringLiteral("ListenAddress %1 is no IP address").arg(m_settings.listenAddress));
        return false;
    }
    if (!m_hostServer->listen()) {
        // No reason given: shut-down began while the pad was being connected.
        if (!m_hostServer->errorString().isEmpty())
            refuseToListen(m_hostServer->errorString());
        return false;
    }
    m_log->setStatusMsg(QStringLiteral("Listening to Port: ") +
                        QString::number(m_hostServer->serverPort()));
    // What a previous run could not upload goes first, now that hosts can be served.
    m_outbox->load();
    m_retrier->start();
    return true;
}

void ScrivoraService::refuseToListen(const QString &why)
{
    m_log->showMessage(
        QStringLiteral("Cannot listen on port %1: %2").arg(m_settings.localPort, why));
}

void ScrivoraService::beginShutDown()
{
    m_retrier->stop();
    m_runner->beginShutDown();
    m_commands->onDisconnect();
}

void ScrivoraService::closeHostLink()
{
    m_hostServer->closeAll();
}

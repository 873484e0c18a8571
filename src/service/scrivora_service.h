#pragma once

#include "service/transaction_record.h"
#include "settings/settings.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class CaptureRunner;
class Captures;
class FtpClient;
class FtpOutboxUploader;
class Outbox;
class OutboxRetrier;
struct UploadReport;
class HostReplier;
class HostServer;
class OperatorCommands;
class OperatorDialogs;
class OperatorLog;
class PadDriver;
class PadForms;
class PollPause;
class RequestDispatcher;
class SignatureDelivery;

/// What the service is handed instead of reaching out for it itself.
struct ServiceSeams
{
    OperatorDialogs *dialogs = nullptr; ///< required
    PadDriver *pad = nullptr;           ///< the program's pad driver, owned by the caller
    QString appDir;                     ///< where signature files are written
    PollPause *pause = nullptr;         ///< null: the real event-loop pause
    int ftpPort = 21;
};

/**
 * The widget-free service: the operator log, the host link, the transaction record, the
 * pad forms, the captures and their runner, signature delivery and the operator commands,
 * wired to each other. A window shows it; tests drive it under QCoreApplication.
 */
class ScrivoraService : public QObject
{
    Q_OBJECT

public:
    ScrivoraService(Settings settings, ServiceSeams seams, QObject *parent = nullptr);
    ~ScrivoraService() override;

    /**
     * Start-up up to listening: the debug settings, the signature file extension, the
     * listening socket (before the pad, so that a port another program holds opens no pad),
     * the Connect command, then accepting hosts. False when no host could ever reach us; the
     * operator has been told why.
     */
    bool start();
    /// The first part of shut-down: every wait ends and the pad is disconnected.
    void beginShutDown();
    /// The last part: the listener and every host connection close.
    void closeHostLink();

    const Settings &settings() const { return m_settings; }
    OperatorLog &log() { return *m_log; }
    HostServer &hostServer() { return *m_hostServer; }
    HostReplier &replier() { return *m_replier; }
    const TransactionRecord &record() const { return m_record; }
    PadForms &forms() { return *m_forms; }
    CaptureRunner &runner() { return *m_runner; }
    Captures &captures() { return *m_captures; }
    SignatureDelivery &delivery() { return *m_delivery; }
    OperatorCommands &commands() { return *m_commands; }
    FtpClient &inet() { return *m_inet; }
    /// Signatures whose upload has not landed yet, retried in the background.
    Outbox &outbox() { return *m_outbox; }
    OutboxRetrier &retrier() { return *m_retrier; }

signals:
    /// The transaction record may have changed: a request was handled, a capture began, or
    /// the record was emptied.
    void transactionChanged();
    /// The pad driver wrote the signature file @p path of job @p jobId.
    void signatureSaved(const QString &path, const QString &jobId);
    /// An upload did not land after the last one did (or after start): worth a notice.
    void uploadsStartedFailing(const QString &jobId, const QString &reason);

private:
    void refuseToListen(const QString &why);
    void uploadReported(const UploadReport &report);

    Settings m_settings;
    QString m_appDir;
    std::unique_ptr<PollPause> m_ownPause;
    TransactionRecord m_record;
    std::unique_ptr<OperatorLog> m_log;
    std::unique_ptr<HostServer> m_hostServer;
    std::unique_ptr<HostReplier> m_replier;
    std::unique_ptr<PadForms> m_forms;
    std::unique_ptr<CaptureRunner> m_runner;
    std::unique_ptr<FtpClient> m_inet;
    std::unique_ptr<SignatureDelivery> m_delivery;
    std::unique_ptr<Captures> m_captures;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    std::unique_ptr<OperatorCommands> m_commands;
    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<FtpOutboxUploader> m_uploader;
    std::unique_ptr<OutboxRetrier> m_retrier;
    bool m_lastUploadLanded = true;
};

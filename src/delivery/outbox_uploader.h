#pragma once

#include "delivery/ftp_client.h"

#include <QObject>
#include <QString>

#include <functional>

/**
 * Uploads one waiting copy for the outbox's retrier. start() returns at once; finished()
 * follows exactly once, from the event loop, unless cancel() came first.
 */
class OutboxUploader : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    /// Starts uploading the file at the absolute path @p localFile to @p remoteName.
    virtual void start(const QString &localFile, const QString &remoteName) = 0;
    /// Gives the running upload up without waiting for it; finished() does not follow.
    virtual void cancel() = 0;

signals:
    /// The upload ended: @p landed if the server confirmed it, else @p reason tells why in
    /// a short operator text that never holds the password.
    void finished(bool landed, const QString &reason);
};

/// The [remote] settings an upload is made with.
struct FtpRemote
{
    QString url;
    QString user;
    QString password;
};

/// Uploads with a fresh FtpClient per attempt, with the settings read at each start.
class FtpOutboxUploader : public OutboxUploader
{
    Q_OBJECT

public:
    using SettingsReader = std::function<FtpRemote()>;

    /// Reads the settings through @p settings at each start; uploads to port @p port.
    explicit FtpOutboxUploader(SettingsReader settings, int port = 21, QObject *parent = nullptr);

    void setTimeouts(const FtpTimeouts &timeouts) { m_timeouts = timeouts; }

    void start(const QString &localFile, const QString &remoteName) override;
    void cancel() override;

private:
    void clientFinished();
    void finishLater(const QString &reason);

    SettingsReader m_settings;
    int m_port;
    FtpTimeouts m_timeouts;
    FtpClient *m_client = nullptr; ///< of the running upload, null while idle
};

#include "delivery/outbox_uploader.h"

#include "hostlink/failure_path.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

FtpOutboxUploader::FtpOutboxUploader(SettingsReader settings, int port, QObject *parent)
    : OutboxUploader(parent), m_settings(std::move(settings)), m_port(port)
{
}

void FtpOutboxUploader::start(const QString &localFile, const QString &remoteName)
{
    cancel();
    m_client = new FtpClient(this);
    connect(m_client, &FtpClient::finished, this, &FtpOutboxUploader::clientFinished);
    const FtpRemote remote = m_settings();
    const QFileInfo local(localFile);
    // The error text would quote the URL, and a URL may carry a password.
    if (runCatchAll([&] {
            m_client->setUrl(remote.url);
            m_client->setRemotePort(m_port);
        }))
        return finishLater(u"no usable FTP server set"_s);
    m_client->setUserName(remote.user);
    m_client->setPassword(remote.password);
    m_client->setTimeouts(m_timeouts);
    // The put names the local file without its folder, which may hold a " /".
    m_client->setLocalDirectory(local.absolutePath());
    if (runCatchAll([&] { m_client->execute(u"put %1 %2"_s.arg(local.fileName(), remoteName)); }))
        finishLater(u"transfer failed"_s);
}

void FtpOutboxUploader::cancel()
{
    if (!m_client)
        return;
    m_client->disconnect(this);
    m_client->deleteLater();
    m_client = nullptr;
}

void FtpOutboxUploader::clientFinished()
{
    const FtpOutcome outcome = m_client->outcome();
    cancel();
    emit finished(outcome.landed(), outcome.text);
}

void FtpOutboxUploader::finishLater(const QString &reason)
{
    cancel();
    QMetaObject::invokeMethod(
        this, [this, reason] { emit finished(false, reason); }, Qt::QueuedConnection);
}

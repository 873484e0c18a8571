#include "delivery/signature_delivery.h"

#include "delivery/ftp_client.h"
#include "hostlink/failure_path.h"
#include "hostlink/host_replier.h"
#include "hostlink/operator_sink.h"
#include "pad/pad_access.h"
#include "settings/settings.h"
#include "signature/utf16le.h"

#include <limits>
#include <optional>
#include <stdexcept>

namespace {

const QString RemoteDirectory = QStringLiteral("/vm/miame/dsk37/170170/");

} // namespace

SignatureDelivery::SignatureDelivery(DeliveryContext context) : m_context(std::move(context)) {}

QString SignatureDelivery::signatureFilePath(const QString &transID) const
{
    // The separator is always added, even when the directory already ends with one.
    return m_context.appDir + QLatin1Char('/') + transID + m_sigFileExt;
}

void SignatureDelivery::scrivora_signature_save(QString &data, const QString &transID)
{
    // The pad's value goes back to the driver as it came: UTF-16 code units, low byte first.
    const qsizetype byteCount = data.size() * 2;
    if (byteCount > std::numeric_limits<qint16>::max())
        throw std::overflow_error("signature data longer than 32767 bytes");
    const QByteArray bytes = utf16LeBytes(data);
    qint16 status = 0;
    requirePad(m_context.pad)
        .saveSignature(bytes, qint16(byteCount), signatureFilePath(transID), status);
    if (status != 1)
        m_context.log->setStatusMsg(QStringLiteral("scrivora_signature_save Failed"));
    else if (m_context.saved)
        m_context.saved(signatureFilePath(transID), transID);
}

void SignatureDelivery::scrivora_signature_ftp(
    bool &doFtp, const QString &transID, const std::function<void()> &newTransaction,
    const std::function<void(const UploadReport &)> &report)
{
    OperatorSink &log = *m_context.log;
    FtpClient &inet = *m_context.inet;
    std::optional<UploadReport> upload;
    // The client is shared with captures further out: only a transfer started here is ours
    // to end.
    bool transferring = false;
    bool reported = false;
    const auto tellReport = [&] {
        if (upload && report && !reported) {
            reported = true;
            report(*upload);
        }
    };
    const auto failure = runCatchAll([&] {
        const RemoteSettings remote = readRemoteSettings(m_context.iniFile);
        inet.setUrl(remote.ftpURL);
        inet.setUserName(remote.ftpUser);
        inet.setPassword(remote.ftpPass);
        inet.setRemotePort(m_context.ftpPort);
        // The put names the file without a directory: it lies in the application directory.
        inet.setLocalDirectory(m_context.appDir);

        const QString signatureFileName = transID + m_sigFileExt;
        const QString remoteName = signatureFileName.toLower();
        const QString ftpCommand = QStringLiteral("put ") + signatureFileName + QLatin1Char(' ') +
                                   RemoteDirectory + remoteName;

        log.setStatusMsg(QStringLiteral("doFtp: ") + trueFalseWord(doFtp));
        log.output_debug(log.statusMsg());
        log.setStatusMsg(QStringLiteral("ticketPath: ") + ftpCommand);
        log.output_debug(log.statusMsg());

        if (doFtp) {
            upload = UploadReport{transID, signatureFilePath(transID), RemoteDirectory + remoteName,
                                  false, QStringLiteral("interrupted")};
            inet.execute(ftpCommand);
            transferring = true;
            log.setStatusMsg(QStringLiteral("inet Response Code 1: ") +
                             QString::number(inet.responseCode()));
            // The client ends every operation within its time-outs; meanwhile the host and
            // the operator are served.
            while (inet.stillExecuting()) {
                log.setStatusMsg(QStringLiteral("inet Response Code loop: ") +
                                 QString::number(inet.responseCode()));
                m_context.waitTurn();
            }
            transferring = false;
            log.setStatusMsg(QStringLiteral("inet Response Code 2: ") +
                             QString::number(inet.responseCode()));
            const FtpOutcome outcome = inet.outcome();
            upload->landed = outcome.landed();
            upload->error = outcome.text;
            inet.execute(QStringLiteral("QUIT"));
        }

        QString data = QStringLiteral("OK");
        QString tag = QStringLiteral("SIGNATURE");
        QString additionalXML =
            QStringLiteral("<SIGPATH>") + signatureFilePath(transID) + QStringLiteral("</SIGPATH>");
        m_context.replier->return_xml(data, tag, additionalXML);
        // Before the new transaction's wait, in which the same job could sign anew.
        tellReport();
        newTransaction();
    });
    if (!failure)
        return;
    log.setStatusMsg(QStringLiteral("Error in FTP of signature file"));
    if (upload && !transferring && inet.stillExecuting()) // the client was busy further out
        upload->error = QStringLiteral("another upload was running");
    if (failure->kind == FailureKind::ShutDown && transferring && inet.stillExecuting()) {
        // Shut-down does not wait for the server: the transfer ends here, unanswered.
        inet.abort();
        upload->error = QStringLiteral("interrupted by shut-down");
    }
    tellReport();
}

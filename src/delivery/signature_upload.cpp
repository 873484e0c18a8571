#include "app/frm_main.h"
#include "delivery/ftp_client.h"
#include "settings/ini_reader.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace {

/// Longest sleep of one turn of the upload wait when the client says nothing.
constexpr int UploadWaitTurnMs = 50;

QString trueFalse(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

/// Sleeps in the event loop until @p client moves or a short time has passed.
void sleepUntilProgress(FtpClient &client)
{
    QEventLoop loop;
    QObject::connect(&client, &FtpClient::progressed, &loop, &QEventLoop::quit);
    QTimer::singleShot(UploadWaitTurnMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

void frmMain::scrivora_signature_ftp(bool &doFtp)
{
    try {
        QString ftpURL;
        QString ftpUser;
        QString ftpPass;
        iniReadValue(iniFile, QStringLiteral("remote"), QStringLiteral("ftpURL"),
                     QStringLiteral("S"), QString(), ftpURL);
        iniReadValue(iniFile, QStringLiteral("remote"), QStringLiteral("ftpUser"),
                     QStringLiteral("S"), QString(), ftpUser);
        iniReadValue(iniFile, QStringLiteral("remote"), QStringLiteral("ftpPass"),
                     QStringLiteral("S"), QString(), ftpPass);

        inet->setUrl(ftpURL);
        inet->setUserName(ftpUser);
        inet->setPassword(ftpPass);
        inet->setRemotePort(ftpPort());
        // The put names the file without a directory: it lies in the application directory.
        inet->setLocalDirectory(appDir());

        const QString signatureFileName = transID + sigFileExt;
        const QString ftpCommand = QStringLiteral("put ") + signatureFileName +
                                   QStringLiteral(" /vm/miame/dsk37/170170/") +
                                   signatureFileName.toLower();

        statusMsg = QStringLiteral("doFtp: ") + trueFalse(doFtp);
        output_debug(statusMsg);
        statusMsg = QStringLiteral("ticketPath: ") + ftpCommand;
        output_debug(statusMsg);

        if (doFtp) {
            inet->execute(ftpCommand);
            statusMsg =
                QStringLiteral("inet Response Code 1: ") + QString::number(inet->responseCode());
            // The client ends every operation within its time-outs; meanwhile the host and
            // the operator are served.
            while (inet->stillExecuting()) {
                statusMsg = QStringLiteral("inet Response Code loop: ") +
                            QString::number(inet->responseCode());
                sleepUntilProgress(*inet);
                QCoreApplication::processEvents();
                if (m_shuttingDown)
                    throw std::runtime_error("shut-down during the upload");
            }
            statusMsg =
                QStringLiteral("inet Response Code 2: ") + QString::number(inet->responseCode());
            inet->execute(QStringLiteral("QUIT"));
        }

        QString data = QStringLiteral("OK");
        QString tag = QStringLiteral("SIGNATURE");
        QString additionalXML =
            QStringLiteral("<SIGPATH>") + signatureFilePath() + QStringLiteral("</SIGPATH>");
        return_xml(data, tag, additionalXML);
        scrivora_new_transaction();
    } catch (const std::exception &) {
        statusMsg = QStringLiteral("Error in FTP of signature file");
    }
}

#pragma once

#include <QString>

#include <functional>

class FtpClient;
class HostReplier;
class OperatorSink;
class PadDriver;

/// What signature delivery needs from around it.
struct DeliveryContext
{
    PadDriver *pad = nullptr; ///< the program's pad driver; null fails a save as a whole
    HostReplier *replier = nullptr;
    OperatorSink *log = nullptr;
    FtpClient *inet = nullptr; ///< the upload client, configured afresh for every upload
    QString appDir;            ///< where signature files are written and read for upload
    QString iniFile;           ///< read for the [remote] keys at every signature
    int ftpPort = 21;
    /// Hears of every signature file the pad driver wrote: its path and job id.
    std::function<void(const QString &path, const QString &transID)> saved;
    /// One turn of the upload wait: lets events run until the client moves or a short
    /// while passes. Throws ShutDownInProgress once shut-down has begun.
    std::function<void()> waitTurn;
};

/// How the upload of one signature went, for whoever keeps track of uploads.
struct UploadReport
{
    QString transID;
    QString localFile;  ///< the signature file as it was put
    QString remoteName; ///< the path on the server, with its lower-case name
    bool landed = false;
    QString error; ///< why it did not land; empty when it did
};

/**
 * The last steps of a signature capture: the pad driver writes the signature file, the file
 * is uploaded by FTP when the host asked for it, and the host gets the SIGNATURE reply with
 * the file's path.
 */
class SignatureDelivery
{
public:
    explicit SignatureDelivery(DeliveryContext context);

    /// The extension of signature files, set once at start-up.
    void setSigFileExt(const QString &extension) { m_sigFileExt = extension; }

    /// The application directory, "/", @p transID and the extension.
    QString signatureFilePath(const QString &transID) const;

    /**
     * Has the pad driver write @p data (the SIGCOMP value) as the file of @p transID. A
     * refusal only sets the status message.
     * @throws std::overflow_error beyond 32,767 bytes, PadError when the driver call fails.
     */
    void scrivora_signature_save(QString &data, const QString &transID);

    /**
     * Uploads the signature file when @p doFtp is set, answers the host with SIGNATURE and
     * SIGPATH, then runs @p newTransaction. @p transID is read as it is at each step. Any
     * failure on the way ends it with the status "Error in FTP of signature file".
     * @p report, when given, hears how an upload that was asked for went, after the reply.
     */
    void scrivora_signature_ftp(bool &doFtp, const QString &transID,
                                const std::function<void()> &newTransaction,
                                const std::function<void(const UploadReport &)> &report = {});

private:
    DeliveryContext m_context;
    QString m_sigFileExt;
};

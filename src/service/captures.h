#pragma once

#include <QString>

#include <functional>

class CaptureRunner;
class HostReplier;
class OperatorLog;
class PadDriver;
class PadForms;
class SignatureDelivery;
struct TransactionRecord;
struct UploadReport;

/// Everything the captures work with.
struct CaptureContext
{
    PadDriver *pad = nullptr;
    OperatorLog *log = nullptr;
    PadForms *forms = nullptr;
    CaptureRunner *runner = nullptr;
    HostReplier *replier = nullptr;
    SignatureDelivery *delivery = nullptr;
    TransactionRecord *record = nullptr;
    /// Told when a capture begins to wait for the customer.
    std::function<void()> captureStarts;
};

/**
 * The interactive captures on the pad: card swipe, signature and PIN entry, each waiting
 * up to about a minute and answering the host itself; and the new transaction that closes a
 * delivered signature. A capture that fails on the way ends silently: the host gets nothing.
 * When MaxNestedCaptures already wait, a capture is replaced by the ERROR reply
 * "Too many captures in progress".
 */
class Captures
{
public:
    explicit Captures(CaptureContext context);

    void getCardSwipe();
    /// Captures, saves and delivers the signature of the open transaction.
    void getSignature(bool &doFtp);
    void getPinFromPad();
    /// Drops a leading "710" from @p pin when @p remove710 is set; returns the same text.
    QString pinPadFormatString(QString &pin, bool &remove710);
    /// Empties the transaction, waits five poll cycles and shows "padWelcome".
    void scrivora_new_transaction();

    /// Who hears how each upload that the host asked for went.
    void setUploadReport(std::function<void(const UploadReport &)> report)
    {
        m_uploadReport = std::move(report);
    }

private:
    /// Runs @p capture under the nesting bound and the captures' silent failure path.
    void runCapture(const std::function<void()> &capture);
    void sendReply(QString data, const QString &tag, QString additionalXML = {});

    CaptureContext m_context;
    std::function<void(const UploadReport &)> m_uploadReport;
};

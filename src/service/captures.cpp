#include "service/captures.h"

#include "delivery/signature_delivery.h"
#include "hostlink/failure_path.h"
#include "hostlink/host_replier.h"
#include "pad/pad_access.h"
#include "service/capture_runner.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service/transaction_record.h"
#include "settings/settings.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <stdexcept>

namespace {

constexpr QFileDevice::Permissions AnyWrite =
    QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;

/// Removes the previous signature of this transaction. A read-only file is left alone and
/// fails the capture, like any other failed deletion.
void deleteOldSignature(const QString &path)
{
    if (!(QFile::permissions(path) & AnyWrite) || !QFile::remove(path))
        throw std::runtime_error("cannot delete the old signature file");
}

/// Keeps one capture counted as running for as long as it waits.
class NestedCapture
{
public:
    explicit NestedCapture(CaptureRunner &runner) : m_runner(runner) {}
    ~NestedCapture() { m_runner.leaveCapture(); }
    NestedCapture(const NestedCapture &) = delete;
    NestedCapture &operator=(const NestedCapture &) = delete;

private:
    CaptureRunner &m_runner;
};

} // namespace

Captures::Captures(CaptureContext context) : m_context(std::move(context)) {}

void Captures::sendReply(QString data, const QString &tag, QString additionalXML)
{
    QString name = tag;
    m_context.replier->return_xml(data, name, additionalXML);
}

void Captures::runCapture(const std::function<void()> &capture)
{
    // Every failure ends the capture here, silently: the host simply gets no reply.
    runCatchAll([&] {
        CaptureRunner &runner = *m_context.runner;
        if (!runner.enterCapture()) {
            sendReply(QStringLiteral("Too many captures in progress"), QStringLiteral("ERROR"));
            return;
        }
        NestedCapture counted(runner);
        if (m_context.captureStarts)
            m_context.captureStarts();
        capture();
    });
}

void Captures::getCardSwipe()
{
    runCapture([this] {
        PadForms &forms = *m_context.forms;
        OperatorLog &log = *m_context.log;
        QString track1;
        QString track2;
        forms.scrivora_setVar_tracks();
        forms.showPadForm(QStringLiteral("padStart"));
        const bool swiped = m_context.runner->pollUntil(QStringLiteral("Card Swip Timeout"), [&] {
            qint16 status = 0;
            requirePad(m_context.pad).getVar(QStringLiteral("TRACK1"), track1, status);
            if (status != 0)
                requirePad(m_context.pad).getVar(QStringLiteral("TRACK2"), track2, status);
            return isPadValueCaptured(track1);
        });
        if (!swiped)
            return;
        sendReply(track1 + track2, QStringLiteral("SWIPE"));
        if (log.isDebugMode()) {
            log.output_debug(QStringLiteral("TRACK1=") + track1);
            log.output_debug(QStringLiteral("TRACK2=") + track2);
        }
    });
}

void Captures::getSignature(bool &doFtp)
{
    runCapture([this, &doFtp] {
        PadForms &forms = *m_context.forms;
        OperatorLog &log = *m_context.log;
        TransactionRecord &record = *m_context.record;
        SignatureDelivery &delivery = *m_context.delivery;
        QString sigData;
        log.output_debug(QStringLiteral("Get Signature:"));
        const QString path = delivery.signatureFilePath(record.transID);
        const QFileInfo oldFile(path);
        if (oldFile.exists()) {
            if (log.isDebugMode())
                log.output_debug(
                    QStringLiteral("Signature File: ") +
                    QLocale::system().toString(oldFile.lastModified(), QLocale::ShortFormat));
            deleteOldSignature(path);
        } else if (log.isDebugMode()) {
            log.output_debug(QStringLiteral("Signature File: ") + path +
                             QStringLiteral("doesn't exist"));
        }
        forms.scrivora_setVar_sigcomp();
        forms.scrivora_setVar_total(record.transTotal);
        forms.showPadForm(QStringLiteral("padSig"));
        const bool signedNow =
            m_context.runner->pollUntil(QStringLiteral("Signature Timeout"), [&] {
                qint16 status = 0;
                requirePad(m_context.pad).getVar(QStringLiteral("SIGCOMP"), sigData, status);
                return isPadValueCaptured(sigData);
            });
        if (!signedNow)
            return;
        if (log.isDebugMode())
            log.output_debug(QStringLiteral("Saving Signature: doFtp=[") + trueFalseWord(doFtp) +
                             QLatin1Char(']'));
        delivery.scrivora_signature_save(sigData, record.transID);
        delivery.scrivora_signature_ftp(
            doFtp, record.transID, [this] { scrivora_new_transaction(); }, m_uploadReport);
    });
}

void Captures::getPinFromPad()
{
    runCapture([this] {
        OperatorLog &log = *m_context.log;
        QString pin;
        // PIN is not emptied first: whatever the pad holds at the first poll is the entry.
        m_context.forms->showPadForm(QStringLiteral("padPin"));
        const bool entered = m_context.runner->pollUntil(QStringLiteral("PIN Pad Timeout"), [&] {
            qint16 status = 0;
            requirePad(m_context.pad).getVar(QStringLiteral("PIN"), pin, status);
            return isPadValueCaptured(pin);
        });
        if (!entered)
            return;
        bool remove710 = false;
        pin = pinPadFormatString(pin, remove710);
        if (pin == QLatin1String("0"))
            pin.clear();
        QString tag = QStringLiteral("PINBLOCK");
        QString additionalXML;
        m_context.replier->return_xml(pin, tag, additionalXML);
        if (log.isDebugMode()) {
            log.output_debug(QStringLiteral("PIN=") + pin);
            log.output_debug(QStringLiteral("PIN LEN=") + QString::number(pin.size()));
        }
    });
}

QString Captures::pinPadFormatString(QString &pin, bool &remove710)
{
    OperatorLog &log = *m_context.log;
    if (log.isDebugMode())
        log.output_debug(QStringLiteral("pinPadFormatString before: pin=[") + pin +
                         QLatin1Char(']'));
    if (remove710 && pin.startsWith(QLatin1String("710")))
        pin.remove(0, 3);
    if (log.isDebugMode())
        log.output_debug(QStringLiteral("pinPadFormatString after: pin=[") + pin +
                         QLatin1Char(']'));
    return pin;
}

void Captures::scrivora_new_transaction()
{
    m_context.log->setStatusMsg(QStringLiteral("New Transaction"));
    m_context.forms->scrivora_clear_padvars();
    // The pad keeps the last transaction's screen for a while before welcoming the next customer.
    for (int cycle = 0; cycle < 5; ++cycle)
        m_context.runner->pauseCycle();
    m_context.forms->showPadForm(QStringLiteral("padWelcome"));
}

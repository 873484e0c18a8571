#include "service/request_dispatcher.h"

#include "hostlink/failure_path.h"
#include "hostlink/host_replier.h"
#include "hostlink/host_request.h"
#include "hostlink/host_server.h"
#include "service/captures.h"
#include "service/operator_log.h"
#include "service/pad_forms.h"
#include "service/transaction_record.h"
#include "settings/settings.h"

#include <QStringBuilder>

/// What one request has said so far; it starts afresh with every request.
struct RequestDispatcher::RequestState
{
    bool totalSet = false;
    bool verified = false;
    bool doFtp = false;
    bool recordChanged = false;
    QStringView strVal; ///< into the request's text, which outlives the request's handling
};

RequestDispatcher::RequestDispatcher(TransactionRecord &record, PadForms &forms, Captures &captures,
                                     HostReplier &replier, OperatorLog &log,
                                     const HostServer &server)
    : m_record(record), m_forms(forms), m_captures(captures), m_replier(replier), m_log(log),
      m_server(server)
{
}

bool RequestDispatcher::isValidJobId(QStringView jobId)
{
    if (jobId.size() > MaxJobIdLength || jobId == u"." || jobId == u"..")
        return false;
    for (const QChar character : jobId) {
        const char16_t code = character.unicode();
        if (code < 0x20 || code == 0x7f || code == u'/')
            return false;
    }
    return true;
}

void RequestDispatcher::onRequestData(const QString &requestText, const HostConnection &from)
{
    // Nothing may leave an event handler: every failure is reported the same way.
    if (runCatchAll([&] { handleRequest(requestText, from); })) {
        m_log.setStatusMsg(QStringLiteral("Error in DataArrival"));
        m_log.output_debug(m_log.statusMsg());
    }
}

void RequestDispatcher::handleRequest(const QString &requestText, const HostConnection &from)
{
    if (m_log.isDebugMode()) {
        m_log.output_debug(QStringLiteral("Received: ") + requestText + QStringLiteral(" from ") +
                           from.peerAddressText() + QLatin1Char('(') + m_server.lastRequestID() +
                           QLatin1Char(')'));
        m_log.output_debug(QStringLiteral("Length: ") + QString::number(requestText.size()));
    }
    RequestState state;
    bool ended = false;
    forEachRequestPiece(requestText, [&](QStringView piece) {
        const std::optional<RequestItem> item = parseRequestItem(piece);
        if (!item) {
            m_log.setStatusMsg(QStringLiteral("Error in DataArrival"));
            m_log.output_debug(m_log.statusMsg());
            ended = true;
        } else {
            ended = applyItem(*item, state) == AfterItem::EndRequest;
        }
        return !ended;
    });
    // Most requests at a busy till only repeat the job id: they leave the operator's view be.
    if (state.recordChanged && m_recordChanged)
        m_recordChanged();
    if (!ended)
        dispatch(state);
}

void RequestDispatcher::sendError(const QString &message)
{
    QString data = message;
    QString tag = QStringLiteral("ERROR");
    QString additionalXML;
    m_replier.return_xml(data, tag, additionalXML);
}

void RequestDispatcher::setField(QString &field, QStringView value, RequestState &state)
{
    field = value.toString();
    state.recordChanged = true;
}

void RequestDispatcher::applyUnique(QStringView value, RequestState &state)
{
    // A job id names the signature file: one that could leave the folder is never taken.
    if (!isValidJobId(value)) {
        sendError(QStringLiteral("Invalid job id"));
        return;
    }
    if (m_record.transID.isEmpty()) {
        setField(m_record.transID, value, state);
        return;
    }
    if (m_record.transID == value)
        return;
    if (m_log.isDebugMode())
        m_log.output_debug(QStringLiteral("Mismatch unique for strVal: ") + value.toString() +
                           QStringLiteral(" transID: ") + m_record.transID);
    // Latin-1 first: a QString first would be copied and then grown, two allocations.
    sendError(QLatin1String("Transaction in progress for job ") % m_record.transID);
}

RequestDispatcher::AfterItem RequestDispatcher::applyItem(const RequestItem &item,
                                                          RequestState &state)
{
    const QStringView value = item.value;
    if (item.keyIs(QLatin1String("ABORT"))) {
        if (value != u"TRUE")
            return AfterItem::NextItem;
        m_forms.scrivora_clear_padvars();
        m_forms.showPadForm(QStringLiteral("padWelcome"));
        return AfterItem::EndRequest;
    }
    if (item.keyIs(QLatin1String("TRANS"))) {
        setField(m_record.transType, value, state);
    } else if (item.keyIs(QLatin1String("TOTAL"))) {
        state.strVal = value;
        setField(m_record.transTotal, value, state);
        state.totalSet = true;
    } else if (item.keyIs(QLatin1String("UNIQU"))) {
        state.strVal = value;
        applyUnique(value, state);
    } else if (item.keyIs(QLatin1String("NAME"))) {
        setField(m_record.custName, value, state);
    } else if (item.keyIs(QLatin1String("ACCOU"))) {
        setField(m_record.custAcct, value, state);
    } else if (item.keyIs(QLatin1String("VERIF"))) {
        state.strVal = value;
        if (latin1UpperEquals(value, QLatin1String("GOOD"))) {
            m_log.output_debug(QStringLiteral("verify good"));
            state.verified = true;
        }
    } else if (item.keyIs(QLatin1String("PINPD"))) {
        state.strVal = value;
        if (latin1UpperEquals(value, QLatin1String("TRUE"))) {
            m_captures.getPinFromPad();
            return AfterItem::EndRequest;
        }
    } else if (item.keyIs(QLatin1String("DOFTP"))) {
        state.strVal = value;
        state.doFtp = value == u"Y";
    }
    return AfterItem::NextItem;
}

void RequestDispatcher::dispatch(RequestState &state)
{
    // A copy: a request handled during a capture may change the record meanwhile.
    const QString type = m_record.transType;
    if (type == QLatin1String("CC"))
        dispatchCard(state);
    else if (type == QLatin1String("CH"))
        dispatchCharge(state);
}

void RequestDispatcher::dispatchCard(RequestState &state)
{
    if (m_record.isOpen() && state.totalSet)
        m_captures.getCardSwipe();
    if (!state.verified)
        return;
    if (m_log.isDebugMode())
        m_log.output_debug(QStringLiteral("verified 1: ") + state.strVal.toString() +
                           QStringLiteral(" transID: ") + m_record.transID);
    if (!m_record.isOpen()) {
        sendError(QStringLiteral("transID not set when getSignature"));
        return;
    }
    if (m_log.isDebugMode())
        m_log.output_debug(QStringLiteral("verified 2: ") + state.strVal.toString() +
                           QStringLiteral(" transID: ") + m_record.transID);
    m_forms.scrivora_setVar_account(QStringLiteral("XXXXXXXXXXXXXXXX"));
    m_captures.getSignature(state.doFtp);
}

void RequestDispatcher::dispatchCharge(RequestState &state)
{
    if (m_log.isDebugMode())
        m_log.output_debug(QStringLiteral("CH: totalSet=[") + trueFalseWord(state.totalSet) +
                           QStringLiteral("] transID=[") + m_record.transID +
                           QStringLiteral("] custAcct=[") + m_record.custAcct +
                           QStringLiteral("] custName=[") + m_record.custName +
                           QStringLiteral("]"));
    if (!m_record.isOpen() || !state.totalSet)
        return;
    // Copies, for the same reason as in dispatch.
    const QString name = m_record.custName;
    const QString account = m_record.custAcct;
    m_forms.scrivora_setVar_fullname(name);
    m_forms.scrivora_setVar_account(account);
    m_captures.getSignature(state.doFtp);
}

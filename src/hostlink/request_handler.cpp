#include "app/frm_main.h"

#include "hostlink/host_connection.h"
#include "hostlink/host_request.h"

#include <QTcpSocket>


namespace {

/// What one request has said so far; it starts afresh with every request.
struct RequestState
{
    bool totalSet = false;
    bool verified = false;
    bool doFtp = false;
    QString strVal;
};

enum class AfterItem
{
    NextItem,
    EndRequest
};

/// Makes a connection the one being answered for the life of a handler, then puts back
/// the one of the handler further out (a request may be handled inside another's wait).
class AnsweringScope
{
public:
    AnsweringScope(AnsweringConnection &answering, QTcpSocket *connection)
        : m_answering(answering), m_outer(answering)
    {
        m_answering.socket = connection;
        auto *host = qobject_cast<HostConnection *>(connection);
        m_answering.line = host ? host->replyLine() : nullptr;
    }
    ~AnsweringScope() { m_answering = m_outer; }
    AnsweringScope(const AnsweringScope &) = delete;
    AnsweringScope &operator=(const AnsweringScope &) = delete;

private:
    AnsweringConnection &m_answering;
    AnsweringConnection m_outer;
};

QString trueOrFalse(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

void sendError(frmMain &window, const QString &message)
{
    QString data = message;
    QString tag = QStringLiteral("ERROR");
    QString additionalXML;
    window.return_xml(data, tag, additionalXML);
}

void applyUnique(frmMain &window, const QString &value)
{
    if (window.transID.isEmpty() || window.transID == value) {
        window.transID = value;
        return;
    }
    window.output_debug(QStringLiteral("Mismatch unique for strVal: ") + value +
                        QStringLiteral(" transID: ") + window.transID);
    sendError(window, QStringLiteral("Transaction in progress for job ") + window.transID);
}

AfterItem applyItem(frmMain &window, const RequestItem &item, RequestState &state)
{
    const QString &key = item.key;
    const QString &value = item.value;
    if (key == QLatin1String("ABORT")) {
        if (value != QLatin1String("TRUE"))
            return AfterItem::NextItem;
        window.scrivora_clear_padvars();
        window.showPadForm(QStringLiteral("padWelcome"));
        return AfterItem::EndRequest;
    }
    if (key == QLatin1String("TRANS")) {
        window.transType = value;
    } else if (key == QLatin1String("TOTAL")) {
        state.strVal = value;
        window.transTotal = value;
        state.totalSet = true;
    } else if (key == QLatin1String("UNIQU")) {
        state.strVal = value;
        applyUnique(window, value);
    } else if (key == QLatin1String("NAME")) {
        window.custName = value;
    } else if (key == QLatin1String("ACCOU")) {
        window.custAcct = value;
    } else if (key == QLatin1String("VERIF")) {
        state.strVal = value;
        if (latin1Upper(value) == QLatin1String("GOOD")) {
            window.output_debug(QStringLiteral("verify good"));
            state.verified = true;
        }
    } else if (key == QLatin1String("PINPD")) {
        state.strVal = value;
        if (latin1Upper(value) == QLatin1String("TRUE")) {
            window.getPinFromPad();
            return AfterItem::EndRequest;
        }
    } else if (key == QLatin1String("DOFTP")) {
        state.strVal = value;
        state.doFtp = value == QLatin1String("Y");
    }
    return AfterItem::NextItem;
}

void dispatchCard(frmMain &window, RequestState &state)
{
    if (!window.transID.isEmpty() && state.totalSet)
        window.getCardSwipe();
    if (!state.verified)
        return;
    window.output_debug(QStringLiteral("verified 1: ") + state.strVal +
                        QStringLiteral(" transID: ") + window.transID);
    if (window.transID.isEmpty()) {
        sendError(window, QStringLiteral("transID not set when getSignature"));
        return;
    }
    window.output_debug(QStringLiteral("verified 2: ") + state.strVal +
                        QStringLiteral(" transID: ") + window.transID);
    window.scrivora_setVar_account(QStringLiteral("XXXXXXXXXXXXXXXX"));
    window.getSignature(state.doFtp);
}

void dispatchCharge(frmMain &window, RequestState &state)
{
    window.output_debug(QStringLiteral("CH: totalSet=[") + trueOrFalse(state.totalSet) +
                        QStringLiteral("] transID=[") + window.transID +
                        QStringLiteral("] custAcct=[") + window.custAcct +
                        QStringLiteral("] custName=[") + window.custName + QStringLiteral("]"));
    if (window.transID.isEmpty() || !state.totalSet)
        return;
    // Copies: a request handled during the capture may change the record meanwhile.
    const QString name = window.custName;
    const QString account = window.custAcct;
    window.scrivora_setVar_fullname(name);
    window.scrivora_setVar_account(account);
    window.getSignature(state.doFtp);
}

void dispatch(frmMain &window, RequestState &state)
{
    // A copy, for the same reason as in dispatchCharge.
    const QString type = window.transType;
    if (type == QLatin1String("CC"))
        dispatchCard(window, state);
    else if (type == QLatin1String("CH"))
        dispatchCharge(window, state);
}

void handleRequest(frmMain &window, const QString &requestText, const QString &peer)
{
    window.output_debug(QStringLiteral("Received: ") + requestText + QStringLiteral(" from ") +
                        peer + QLatin1Char('(') + window.lastRequestID + QLatin1Char(')'));
    window.output_debug(QStringLiteral("Length: ") + QString::number(requestText.size()));
    RequestState state;
    for (const QString &piece : requestPieces(requestText)) {
        const std::optional<RequestItem> item = parseRequestItem(piece);
        if (!item) {
            window.statusMsg = QStringLiteral("Error in DataArrival");
            window.output_debug(window.statusMsg);
            return;
        }
        if (applyItem(window, *item, state) == AfterItem::EndRequest)
            return;
    }
    dispatch(window, state);
}

} // namespace

void frmMain::onRequestData(qint16 slot)
{
    const auto found = socket.find(slot);
    if (found == socket.end() || !found->second || found->second->bytesAvailable() <= 0)
        return;
    QPointer<QTcpSocket> connection = found->second;
    AnsweringScope answering(m_answering, connection);
    try {
        const QString peer = peerAddressText(connection);
        const QString requestText = QString::fromLatin1(connection->read(MaxRequestBytes));
        // Whatever waits beyond one read is the next request; queued now so that it comes
        // before a close that may follow it.
        if (connection->bytesAvailable() > 0)
            QMetaObject::invokeMethod(
                this, [this, slot] { onRequestData(slot); }, Qt::QueuedConnection);
        handleRequest(*this, requestText, peer);
    } catch (...) {
        // Nothing may leave an event handler: every failure is reported the same way.
        statusMsg = QStringLiteral("Error in DataArrival");
        output_debug(statusMsg);
    }
}

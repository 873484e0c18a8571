#pragma once

#include <QString>

#include <functional>

class Captures;
class HostConnection;
class HostReplier;
class HostServer;
class OperatorLog;
class PadForms;
struct RequestItem;
struct TransactionRecord;

/**
 * The host protocol's front end: reads each request as ";"-separated key=value items,
 * applies them to the transaction record, and starts the captures that the stored
 * transaction type calls for. Protocol errors are answered here with an ERROR reply; every
 * other failure ends the request with the status "Error in DataArrival".
 */
class RequestDispatcher
{
public:
    /// The longest job id that can still name a file.
    static constexpr int MaxJobIdLength = 100;

    RequestDispatcher(TransactionRecord &record, PadForms &forms, Captures &captures,
                      HostReplier &replier, OperatorLog &log, const HostServer &server);

    /// Handles @p requestText, everything that one read of @p from delivered.
    void onRequestData(const QString &requestText, const HostConnection &from);

    /// False for a job id that could name a file outside the application folder.
    static bool isValidJobId(QStringView jobId);

    /// Called once a request has written to the record, before any capture it starts.
    void setRecordChanged(std::function<void()> changed) { m_recordChanged = std::move(changed); }

private:
    struct RequestState;
    enum class AfterItem
    {
        NextItem,
        EndRequest
    };

    void handleRequest(const QString &requestText, const HostConnection &from);
    AfterItem applyItem(const RequestItem &item, RequestState &state);
    /// Writes @p value to a field of the record and notes that the record changed.
    static void setField(QString &field, QStringView value, RequestState &state);
    void applyUnique(QStringView value, RequestState &state);
    void dispatch(RequestState &state);
    void dispatchCard(RequestState &state);
    void dispatchCharge(RequestState &state);
    void sendError(const QString &message);

    TransactionRecord &m_record;
    PadForms &m_forms;
    Captures &m_captures;
    HostReplier &m_replier;
    OperatorLog &m_log;
    const HostServer &m_server;
    std::function<void()> m_recordChanged;
};

#pragma once

#include <QString>

/// The open transaction, filled by host requests and kept from request to request.
struct TransactionRecord
{
    QString transID;   ///< the job id; empty means no transaction is open
    QString transType; ///< "CC" card, "CH" signed with name and account; others start nothing
    QString custName;
    QString custAcct;
    QString transTotal;

    bool isOpen() const { return !transID.isEmpty(); }
};

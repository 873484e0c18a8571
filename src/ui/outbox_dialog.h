#pragma once

#include <QDialog>

class Outbox;
class OutboxRetrier;
class QTableWidget;

/**
 * File › Upload outbox: the signatures that wait for their upload, with the job, the first
 * failure, the attempts and the last error, and a Retry now button. It follows the outbox
 * while it is open.
 */
class OutboxDialog : public QDialog
{
    Q_OBJECT

public:
    OutboxDialog(Outbox &outbox, OutboxRetrier &retrier, QWidget *parent = nullptr);

    /// The rows as shown: job, first failure, attempts, last error.
    QList<QStringList> rows() const;

private:
    void refresh();

    Outbox &m_outbox;
    QTableWidget *m_table = nullptr;
};

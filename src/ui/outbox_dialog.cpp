#include "ui/outbox_dialog.h"

#include "delivery/outbox.h"
#include "delivery/outbox_retrier.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

OutboxDialog::OutboxDialog(Outbox &outbox, OutboxRetrier &retrier, QWidget *parent)
    : QDialog(parent), m_outbox(outbox)
{
    setObjectName(QStringLiteral("outboxDialog"));
    setWindowTitle(QStringLiteral("Upload outbox"));
    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Job"), QStringLiteral("First failure"),
                                        QStringLiteral("Attempts"), QStringLiteral("Last error")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *retry =
        buttons->addButton(QStringLiteral("&Retry now"), QDialogButtonBox::ActionRole);
    retry->setObjectName(QStringLiteral("retryNow"));
    // Enter closes the list, as in any other viewer; a retry is asked for on purpose.
    retry->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    connect(retry, &QPushButton::clicked, &retrier, &OutboxRetrier::retryNow);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    resize(640, 280);
    connect(&m_outbox, &Outbox::changed, this, &OutboxDialog::refresh);
    refresh();
}

void OutboxDialog::refresh()
{
    const QList<OutboxEntry> entries = m_outbox.entries();
    m_table->setRowCount(int(entries.size()));
    for (int row = 0; row < entries.size(); ++row) {
        const OutboxEntry &entry = entries.at(row);
        const QStringList cells{
            entry.jobId,
            QLocale::system().toString(entry.firstFailure.toLocalTime(), QLocale::ShortFormat),
            QString::number(entry.attempts), entry.lastError};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
}

QList<QStringList> OutboxDialog::rows() const
{
    QList<QStringList> rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < m_table->columnCount(); ++column)
            cells << m_table->item(row, column)->text();
        rows << cells;
    }
    return rows;
}

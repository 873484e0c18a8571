#include "ui/frm_main.h"

#include "delivery/outbox.h"
#include "service/scrivora_service.h"
#include "ui/outbox_dialog.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

void frmMain::followOutbox(QMenu *file, QAction *before)
{
    Outbox &outbox = m_service.outbox();
    auto *item = new QAction(QStringLiteral("Upload &outbox..."), file);
    item->setObjectName(QStringLiteral("mnuUploadOutbox"));
    file->insertAction(before, item);
    connect(item, &QAction::triggered, this, &frmMain::showOutbox);

    // The field shows once something waits, and then stays, so "0 waiting" reads as all sent.
    const auto showCount = [this, &outbox] {
        if (outbox.count() > 0 || m_outboxDialog)
            setOutboxCount(outbox.count());
    };
    connect(&outbox, &Outbox::changed, this, showCount);
    showCount();
    connect(&m_service, &ScrivoraService::uploadsStartedFailing, this,
            [this](const QString &jobId, const QString &reason) {
                if (m_trayIcon && m_trayIcon->isVisible())
                    m_trayIcon->showMessage(
                        QStringLiteral("Scrivora"),
                        QStringLiteral("The signature of job %1 was not uploaded (%2). It waits "
                                       "in the outbox and is retried.")
                            .arg(jobId, reason),
                        QSystemTrayIcon::Warning);
            });
}

void frmMain::showOutbox()
{
    if (!m_outboxDialog) {
        m_outboxDialog = new OutboxDialog(m_service.outbox(), m_service.retrier(), this);
        m_outboxDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_outboxDialog->show();
    m_outboxDialog->raise();
}

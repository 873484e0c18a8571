#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class Outbox;
class OutboxUploader;

/**
 * Retries the outbox's waiting uploads in the background, on the event loop: it asks the
 * outbox's clock at each check what is due and runs at most one upload at a time, so a
 * retry never holds up anything else.
 */
class OutboxRetrier : public QObject
{
    Q_OBJECT

public:
    /// Retries the entries of @p outbox through @p uploader; both must outlive it.
    OutboxRetrier(Outbox &outbox, OutboxUploader &uploader, QObject *parent = nullptr);

    /// How often the clock is asked whether something is due (1 s unless set).
    void setCheckInterval(std::chrono::milliseconds interval);
    /// Starts retrying; an entry already due goes at once.
    void start();
    /// Makes every waiting entry due and retries them one after another from now.
    void retryNow();
    /**
     * An upload has just landed, so the server takes uploads again: each waiting copy goes
     * now instead of at its turn, once. A copy that fails again after this early turn fails
     * for reasons of its own and keeps its schedule. A retry that lands does the same.
     */
    void serverIsBack();
    /// Stops at once, giving a running upload up; what has not landed stays in the outbox.
    void stop();
    /// No retry starts while @p busy says so (a capture waits); it is asked at each check.
    void setHoldWhile(std::function<bool()> busy) { m_holdWhile = std::move(busy); }

private:
    void checkLater();
    /// The clock is asked only while something waits, so an empty outbox costs nothing.
    void followOutbox();
    void check();
    void uploadFinished(bool landed, const QString &reason);

    Outbox &m_outbox;
    OutboxUploader &m_uploader;
    QTimer m_timer;
    QString m_running;       ///< the entry being uploaded, empty if none
    QSet<QString> m_hurried; ///< entries given their early turn after a landing already
    bool m_started = false;
    std::function<bool()> m_holdWhile;
};

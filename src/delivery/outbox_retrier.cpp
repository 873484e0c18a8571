#include "delivery/outbox_retrier.h"

#include "delivery/outbox.h"
#include "delivery/outbox_uploader.h"

#include <utility>

OutboxRetrier::OutboxRetrier(Outbox &outbox, OutboxUploader &uploader, QObject *parent)
    : QObject(parent), m_outbox(outbox), m_uploader(uploader)
{
    m_timer.setInterval(std::chrono::seconds(1));
    connect(&m_timer, &QTimer::timeout, this, &OutboxRetrier::check);
    connect(&m_uploader, &OutboxUploader::finished, this, &OutboxRetrier::uploadFinished);
    connect(&m_outbox, &Outbox::changed, this, &OutboxRetrier::followOutbox);
}

void OutboxRetrier::followOutbox()
{
    if (m_started && m_outbox.count() > 0) {
        if (!m_timer.isActive())
            m_timer.start();
    } else {
        m_timer.stop();
    }
}

void OutboxRetrier::setCheckInterval(std::chrono::milliseconds interval)
{
    m_timer.setInterval(interval);
}

void OutboxRetrier::start()
{
    m_started = true;
    followOutbox();
    checkLater();
}

void OutboxRetrier::retryNow()
{
    m_outbox.makeAllDue();
    checkLater();
}

void OutboxRetrier::stop()
{
    m_started = false;
    m_timer.stop();
    if (m_running.isEmpty())
        return;
    m_uploader.cancel();
    m_outbox.attemptAbandoned(m_running);
    m_running.clear();
}

void OutboxRetrier::checkLater()
{
    // Never from inside a caller's or an upload's own signal: from the event loop.
    QMetaObject::invokeMethod(this, &OutboxRetrier::check, Qt::QueuedConnection);
}

void OutboxRetrier::check()
{
    if (!m_started || !m_running.isEmpty() || (m_holdWhile && m_holdWhile()))
        return;
    const std::optional<OutboxEntry> entry = m_outbox.due();
    if (!entry)
        return;
    m_running = entry->name;
    m_outbox.attemptStarted(m_running);
    m_uploader.start(entry->copyPath, entry->remoteName);
}

void OutboxRetrier::uploadFinished(bool landed, const QString &reason)
{
    if (m_running.isEmpty())
        return;
    const QString name = std::exchange(m_running, QString());
    m_outbox.attemptEnded(name, landed, reason);
    // Several may be due, e.g. all of them after a restart: the next goes right away.
    if (landed)
        serverIsBack(); // which checks again itself
    else
        checkLater();
}

void OutboxRetrier::serverIsBack()
{
    // Only entries still waiting are remembered: those gone need no memory.
    QSet<QString> hurried;
    for (const OutboxEntry &entry : m_outbox.entries()) {
        if (m_hurried.contains(entry.name)) {
            hurried.insert(entry.name);
            continue;
        }
        if (entry.name == m_running)
            continue; // its attempt runs already: no early turn to give
        hurried.insert(entry.name);
        m_outbox.makeDue(entry.name);
    }
    m_hurried = std::move(hurried);
    checkLater();
}

#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

/// One signature that waits in the outbox for its upload to land.
struct OutboxEntry
{
    QString name;       ///< the entry's own name in outbox/, shared by its copy and its record
    QString jobId;      ///< the host's job id the signature belongs to
    QString remoteName; ///< where the copy goes on the server, as the first upload put it
    QString copyPath;   ///< absolute path of the copy that is retried
    QDateTime firstFailure;
    int attempts = 1; ///< every attempt so far, the first upload included
    QString lastError;
    QDateTime nextDue;
    /// Landed once already, but an older copy's retry may have overwritten it since: it is
    /// sent again so that the server ends up with the newest, and its landing is no news.
    bool resend = false;
};

/**
 * The one owner of the outbox/ folder in the application folder: signatures whose upload
 * did not land wait there as a copy with a small JSON record beside it, so that a later
 * transaction reusing the job id and overwriting the signature file changes nothing.
 *
 * There is at most one waiting copy per job id: a newer signature for the same job replaces
 * the older one, so an old signature never overwrites a newer one on the server.
 *
 * Everything the operator must learn is emitted as operatorLine(); the lines name the job
 * id and the reason a caller gave, never a password or card data (callers pass reasons
 * like FtpOutcome::text). Time comes only from the clock given, so schedules can be tested
 * without waiting.
 */
class Outbox : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    /// The outbox of the application folder @p appDir; nothing is read before load().
    Outbox(const QString &appDir, Clock clock, QObject *parent = nullptr);

    QString folder() const { return m_folder; }
    QDateTime now() const { return m_clock(); }

    /**
     * Reads the waiting entries, e.g. at start-up, and makes each due at once. A record
     * that cannot be read, or whose copy is missing or unreadable, and a copy without a
     * record, is moved to outbox/damaged/ with one operator line per entry.
     */
    void load();

    /**
     * Keeps a copy of @p localFile, whose upload for @p jobId just failed for @p reason,
     * to be retried; a copy waiting for the same job is dropped (replaced line). Emits
     * "Outbox: job ID not uploaded (REASON), kept for retry".
     * @return false, with an operator line saying so, if the copy or its record could not
     * be written; the outbox is then as it was.
     */
    bool add(const QString &jobId, const QString &localFile, const QString &remoteName,
             const QString &reason);

    /**
     * A newer signature for @p jobId, @p landedFile, has just landed by its own upload: a
     * waiting older copy is dropped with "Outbox: job ID replaced by a newer signature".
     * If that older copy is being retried at this moment, a copy of @p landedFile is kept
     * to be sent once more after it, so that the newer one is what the server keeps.
     */
    void landed(const QString &jobId, const QString &landedFile);

    /// The waiting entries, the oldest failure first.
    QList<OutboxEntry> entries() const;
    int count() const { return int(m_entries.size()); }
    /// The entry whose retry is most overdue by the clock, if any is due.
    std::optional<OutboxEntry> due() const;
    /// Makes every waiting entry due now (Retry now); the records keep their schedule.
    void makeAllDue();
    /// Makes the waiting entry @p name due now, like makeAllDue() for one entry.
    void makeDue(const QString &name);

    /// A retry of the entry @p name starts (the retrier's side; at most one at a time).
    void attemptStarted(const QString &name);
    /**
     * The retry of @p name ended: if it landed the copy and record are removed with
     * "Outbox: job ID uploaded after N attempts"; if not, the attempt is counted, the next
     * is scheduled, and a reason other than the last one is told to the operator. An entry
     * dropped meanwhile is left alone.
     */
    void attemptEnded(const QString &name, bool landed, const QString &reason);
    /// The retry of @p name was given up without an outcome (shut-down): nothing is counted.
    void attemptAbandoned(const QString &name);

signals:
    /// The waiting entries or their state changed.
    void changed();
    /// A line for the operator's status list, shown whatever the debug mode.
    void operatorLine(const QString &line);

private:
    std::optional<OutboxEntry> readRecord(const QString &recordName, QString &copyName) const;
    bool writeRecord(const OutboxEntry &entry) const;
    QString uniqueName(const QString &jobId) const;
    QString recordPath(const QString &name) const;
    void moveToDamaged(const QString &name, const QStringList &fileNames);
    void remove(const QString &name);
    void removeFiles(const OutboxEntry &entry) const;
    void dropJob(const QString &jobId);
    const OutboxEntry *findJob(const QString &jobId) const;
    std::optional<OutboxEntry> keepCopy(const QString &jobId, const QString &localFile,
                                        const QString &remoteName, const QString &reason,
                                        bool resend);

    QString m_folder;
    Clock m_clock;
    QMap<QString, OutboxEntry> m_entries; ///< by name
    QString m_inFlight;                   ///< the entry being retried, empty if none
};
